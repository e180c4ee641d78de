#include "run/run_sequence.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/header_listing.h"
#include "run/file_names.h"

#include <new>

void convert(InputFile& in, OutputImage& out, std::FILE* console) {
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

    if (listing)
        list_sect_banner(console);
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        read_sect_head(in, i);
        if (listing)
            list_sect_row(console, i);
        if (is_boot_section(g_SectTable[i]))
            boot_pass(in, out, i, console);
    }

    close_boot_region(out);
    write_entry_word(out, console);
    load_pass(in, out, console);
    write_terminator(out);
}

namespace {

char g_InputBuffer[kStreamBufferSize];
char g_OutputBuffer[kStreamBufferSize];

} // namespace

void convert_file(const std::string& input_path, const std::string& output_path,
                  std::FILE* console) {
    // The input first: a run that cannot read it must not create or touch any output.
    InputFile in = open_input(input_path);
    std::setvbuf(in.fp, g_InputBuffer, _IOFBF, sizeof g_InputBuffer);

    OutputFile file(output_path);
    std::setvbuf(file.stream(), g_OutputBuffer, _IOFBF, sizeof g_OutputBuffer);
    OutputImage out;
    out.fp = file.stream();
    out.path = output_path;
    convert(in, out, console);
    file.commit();
}

int run_sequence(const char* argv0, std::FILE* console, std::FILE* errors) {
    std::string subject = argv0 == nullptr ? "" : argv0;
    try {
        const FileNames names = resolve_file_names(argv0);
        subject = names.input;
        convert_file(names.input, names.output, console);
        std::fflush(console);
        return 0;
    } catch (const Failure& f) {
        std::fflush(console);
        std::fprintf(errors, "coff2efw: error: %s: %s\n", f.path.c_str(), f.what.c_str());
    } catch (const std::bad_alloc&) {
        std::fflush(console);
        std::fprintf(errors, "coff2efw: error: %s: out of memory\n", subject.c_str());
    }
    return 1;
}
