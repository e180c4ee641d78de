#include "run/run_sequence.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/header_listing.h"
#include "image/checksum_sink.h"
#include "image/warning_checks.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/file_names.h"
#include "run/html_report.h"
#include "run/json_descriptions.h"
#include "run/section_table.h"

#include <cerrno>
#include <memory>
#include <new>
#include <optional>

namespace {

// The image's size is known from the layout alone, so a run that cannot fit the user's
// limit or the format's offsets ends here, before it writes gigabytes. A record whose
// data the file does not hold fails at that record, as it always has; only what would be
// written before it counts then.
void check_image_size(const InputFile& in, const ImageLayout& layout, std::uint64_t max_size) {
    std::uint64_t reach = layout.image_size;
    for (unsigned k = 0; k < layout.record_count; ++k) {
        const SectHead& s = g_SectTable[layout.records[k].usSection];
        if (s.FilePtrRaw < 0 ||
            !in_file(in, static_cast<std::uint64_t>(s.FilePtrRaw), layout.records[k].ulByteCount)) {
            reach = layout.records[k].offset;
            break;
        }
    }
    const bool user_limit = max_size < kFormatMaxSize;
    const std::uint64_t limit = user_limit ? max_size : kFormatMaxSize;
    if (reach <= limit)
        return;
    const std::uint64_t size = layout.image_size;
    fail(in.path,
         "the image is " + hex(size) + " bytes, " + hex(size - limit) + " more than " +
             (user_limit ? "--max-size " + hex(limit)
                         : "the format's " + hex(limit) + " (its offsets are 32-bit signed)"));
}

} // namespace

void convert(InputFile& in, ImageSink& sink, std::FILE* console, Warnings* warnings,
             std::uint64_t max_size) {
    const bool listing = console != nullptr;
    read_file_head(in);
    if (listing)
        list_file_head(console);
    check_section_count(in);

    if (g_FileHead.usOptHeadSize != 0) {
        read_opt_head(in);
        if (listing)
            list_opt_head(console);
    } else {
        clear_opt_head();
    }
    run_checks(CheckPoint::FileHeader, 0, in, console, warnings);

    if (listing)
        list_sect_banner(console);
    clear_boot_region();
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        read_sect_head(in, i);
        if (listing)
            list_sect_row(console, i);
        if (is_boot_section(g_SectTable[i]))
            boot_pass(in, i, console);
        run_checks(CheckPoint::SectionHeader, i, in, console, warnings);
    }

    compute_layout(g_SectTable, g_FileHead.usNumSect, g_Layout);
    check_image_size(in, g_Layout, max_size);
    write_image(in, g_Layout, sink, console);
    run_checks(CheckPoint::Image, 0, in, console, warnings);
}

namespace {

char g_InputBuffer[kInputBufferSize];
char g_OutputBuffer[kOutputBufferSize];

} // namespace

bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings) {
    // The input first: a run that cannot read it must not create or touch any output.
    InputFile in = open_input(names.input);
    std::setvbuf(in.fp, g_InputBuffer, _IOFBF, sizeof g_InputBuffer);

    // What stands at the output is known before a byte is written: an output that is the
    // input or the profile under another name is refused before it could be truncated or
    // filled, and before a conversion that would only fail on a full disk.
    check_output_directory(names);
    OutputFile file(names.output, options.temporary_prefix);
    refuse_to_replace(file, in);
    if (!names.config.empty())
        refuse_to_replace(file, names.config, "the configuration file");

    // A quiet run formats no listing at all; the image is the same either way. An image
    // on standard output leaves no room there for the listing.
    if (options.quiet || names.output == kStandardOutputName)
        console = nullptr;

    // A dry run writes the image to the null device, so that every check of the writing
    // still runs, and puts nothing in place.
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> null_output(
        options.dry_run ? platform::open_null_output() : nullptr, std::fclose);
    if (options.dry_run && null_output == nullptr)
        fail(names.output, "cannot open the null device: " + platform::error_text(errno));
    if (!options.dry_run)
        file.open();
    std::FILE* const stream = options.dry_run ? null_output.get() : file.stream();
    std::setvbuf(stream, g_OutputBuffer, _IOFBF, sizeof g_OutputBuffer);
    // The image in the format asked for, its CRC-32 taken on the way for the map.
    StreamSink efw(stream, file.target());
    IntelHexSink ihex(stream, file.target(), options.base);
    SRecordSink srec(
        stream, file.target(), options.base,
        platform::file_name_start(names.input.c_str(), platform::code_page_for_text(names.input)));
    TextImageSink* text = nullptr;
    if (options.format == ImageFormat::IntelHex)
        text = &ihex;
    else if (options.format == ImageFormat::SRecord)
        text = &srec;
    ImageSink& out = text != nullptr ? *text : static_cast<ImageSink&>(efw);
    ChecksumSink tee(out); // only a map or a report needs the sum, so only they cost it
    const ReportWarnings report_warnings(options.report != nullptr ? warnings : nullptr);
    convert(in, options.map != nullptr || options.report != nullptr ? tee : out, console, warnings,
            options.max_size);
    if (text != nullptr)
        text->finish();
    if (options.sections != nullptr)
        print_section_table(options.sections, g_Layout);
    if (warnings_refuse_image(warnings))
        return false; // the temporary goes with `file`; an existing image stays
    MapFile map(options.map, options.temporary_prefix);
    if (options.map != nullptr)
        map.write(run_map_json(names, options.format, tee.crc32()), names, in, options.dry_run);
    // The HTML report: one more output, checked and written after the image as the map is.
    std::optional<OutputFile> report;
    if (options.report != nullptr) {
        report.emplace(options.report, options.temporary_prefix);
        check_report_target(*report, options.report, names, in, options.map);
        if (!options.dry_run) {
            report->open();
            const RunFacts facts{names, options.format, tee.crc32(), options.max_size};
            write_run_report(report->stream(), facts, g_Layout, &report_warnings);
        }
    }
    if (options.dry_run)
        return true;
    file.commit();
    map.commit(names);
    if (report) {
        refuse_to_replace(*report, names.output, "the image");
        report->commit();
    }
    return true;
}

std::string read_format_options(const char* format, const char* base, RunOptions& options) {
    if (format != nullptr && !parse_image_format(format, options.format))
        return "invalid argument '" + std::string(format) + "' for '--format' (efw, ihex or srec)";
    if (base == nullptr)
        return {};
    if (options.format == ImageFormat::Efw)
        return "--base applies to -O ihex and -O srec only";
    if (!parse_address(base, options.base)) {
        return "invalid argument '" + std::string(base) +
               "' for '--base' (0x and hexadecimal digits, or decimal digits, up to 0xFFFFFFFF)";
    }
    return {};
}

int run_sequence(const char* argv0, const NameChoice& choice, const RunOptions& options,
                 std::FILE* console, Warnings& warnings) {
    std::string subject = argv0 == nullptr ? "" : argv0;
    warnings.strict = options.strict;
    try {
        const FileNames names = resolve_file_names(argv0, choice);
        subject = names.input;
        return convert_file(names, options, console, &warnings) ? 0 : 1;
    } catch (const std::bad_alloc&) {
        fail(subject, "out of memory");
    }
}
