#include "run/run_sequence.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/header_listing.h"
#include "image/checksum_sink.h"
#include "image/file_kind.h"
#include "image/rom_image.h"
#include "image/warning_checks.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/file_names.h"
#include "run/json_descriptions.h"

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

void pad_image(const InputFile& in, ImageLayout& layout, const SizeOptions& size) {
    if (size.pad_to == 0)
        return;
    if (size.pad_to < layout.image_size) {
        fail(in.path, "the image is " + hex(layout.image_size) + " bytes, " +
                          hex(layout.image_size - size.pad_to) + " more than --pad-to " +
                          hex(size.pad_to));
    }
    layout.image_size = size.pad_to;
    layout.fill = size.fill;
}

void convert(InputFile& in, ImageSink& sink, std::FILE* console, Warnings* warnings,
             const SizeOptions& size) {
    const bool listing = console != nullptr;
    refuse_rom_image(in);
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
    pad_image(in, g_Layout, size);
    check_image_size(in, g_Layout, size.max_size);
    // A run that will refuse its image writes none of it. Warnings that need only the
    // layout are told then; otherwise they follow the image's lines, as they always have.
    if (warnings_refuse_image(warnings) || checks_refuse(CheckPoint::Layout, 0, in, warnings)) {
        run_checks(CheckPoint::Layout, 0, in, console, warnings);
        return;
    }
    write_image(in, g_Layout, sink, console);
    sink.finish();
    run_checks(CheckPoint::Layout, 0, in, console, warnings);
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

    // Every output is known before a byte is written: one that is the input, the profile
    // or another output under another name is refused before it could be truncated or
    // filled, and before a conversion that would only fail on a full disk.
    check_output_directory(names);
    OutputSet outputs;
    OutputFile file(names.output, options.temporary_prefix, "the image", true);
    outputs.add(file);
    std::optional<OutputFile> map;
    if (options.map != nullptr) {
        check_typed_path(options.map);
        map.emplace(options.map, options.temporary_prefix, "the map", false);
        outputs.add(*map);
    }
    platform::FileStatus status;
    if (platform::file_status(in.fp, status))
        outputs.refuse_to_replace(status, "the input");
    if (!names.config.empty() && platform::path_status(names.config, status, true))
        outputs.refuse_to_replace(status, "the configuration file");

    // A quiet run formats no listing at all; the image is the same either way. An image
    // on standard output, under any name, leaves no room there for the listing.
    if (options.quiet || file.to_standard_output())
        console = nullptr;

    file.open();
    std::setvbuf(file.stream(), g_OutputBuffer, _IOFBF, sizeof g_OutputBuffer);
    if (map)
        map->open();
    // The image in the format asked for, its CRC-32 taken on the way for the map.
    const std::unique_ptr<ImageSink> out = make_image_sink(
        options.format, options.text, file.stream(), file.target(),
        platform::file_name_start(names.input.c_str(), platform::code_page_for_text(names.input)));
    ChecksumSink tee(*out); // only a map needs the sum, so only a map costs it
    convert(in, map ? tee : *out, console, warnings, options.size);
    if (warnings_refuse_image(warnings))
        return false; // the temporaries go with their files; every old output stays
    if (map)
        write_run_map(map->stream(), names, options.format, tee.crc32());
    outputs.commit();
    return true;
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
