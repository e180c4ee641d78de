#include "run/run_sequence.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/header_listing.h"
#include "image/warning_checks.h"
#include "run/file_names.h"

#include <new>

void convert(InputFile& in, ImageSink& sink, std::FILE* console, Warnings* warnings) {
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
    write_image(in, g_Layout, sink, console);
    run_checks(CheckPoint::Image, 0, in, console, warnings);
}

namespace {

char g_InputBuffer[kInputBufferSize];
char g_OutputBuffer[kLargeOutputBufferSize];

} // namespace

bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings) {
    // The input first: a run that cannot read it must not create or touch any output.
    InputFile in = open_input(names.input);
    std::setvbuf(in.fp, g_InputBuffer, _IOFBF, sizeof g_InputBuffer);

    // What stands at the output is known before a byte is written: an output that is the
    // input or the profile under another name is refused before it could be truncated or
    // filled, and before a conversion that would only fail on a full disk.
    OutputFile file(names.output, options.temporary_prefix);
    refuse_to_replace(file, in);
    if (!names.config.empty())
        refuse_to_replace(file, names.config, "the configuration file");

    // A quiet run formats no listing at all; the image is the same either way. An image
    // on standard output leaves no room there for the listing.
    if (options.quiet || names.output == kStandardOutputName)
        console = nullptr;

    file.open();
    // Standard output has taken nothing yet in such a run, so its buffer may still be set.
    std::setvbuf(file.stream(), g_OutputBuffer, _IOFBF, output_buffer_size(in.size));
    StreamSink sink(file.stream(), file.target());
    convert(in, sink, console, warnings);
    if (warnings != nullptr && warnings->strict && warnings->count > 0)
        return false; // the temporary goes with `file`; an existing image stays
    file.commit();
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
