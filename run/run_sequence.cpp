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
char g_OutputBuffer[kOutputBufferSize];

} // namespace

bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings) {
    // The input first: a run that cannot read it must not create or touch any output.
    InputFile in = open_input(names.input);
    std::setvbuf(in.fp, g_InputBuffer, _IOFBF, sizeof g_InputBuffer);

    // A quiet run formats no listing at all; the image is the same either way.
    if (options.quiet)
        console = nullptr;

    OutputFile file(names.output);
    std::setvbuf(file.stream(), g_OutputBuffer, _IOFBF, sizeof g_OutputBuffer);
    StreamSink sink(file.stream(), names.output);
    convert(in, sink, console, warnings);
    if (warnings != nullptr && warnings->strict && warnings->count > 0)
        return false; // the temporary goes with `file`; an existing image stays
    refuse_to_replace(file, in);
    refuse_to_replace(file, names.config, "the configuration file");
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
