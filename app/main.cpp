// coff2efw: converts a linked COFF object, named on the command line or in a profile
// file, into the ROM image the target's boot loader takes.
#include "app/arguments.h"
#include "app/command_line.h"
#include "base/failure.h"
#include "platform/files.h"
#include "run/run_sequence.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: coff2efw [OPTIONS] INPUT\n"
    "       coff2efw [OPTIONS] --config FILE\n"
    "       coff2efw [OPTIONS]\n"
    "\n"
    "Converts a linked COFF object into a ROM image and lists the object's headers and\n"
    "each section written on standard output.\n"
    "\n"
    "With INPUT, the image is written beside it as VELTARA-<name>, with every \".out\" in\n"
    "the file name replaced by \".efw\". With --config FILE, the input is named by the key\n"
    "COFF_FILE in section [CONFIG] of FILE (default ZOV-KARN.efw), and the input and the\n"
    "image are in FILE's directory; with neither, FILE is config.ini beside this\n"
    "executable. In those two cases the image is VELTARA-<name> in that directory, with\n"
    "every \".out\" in the whole path replaced by \".efw\".\n"
    "\n";

constexpr const char* kUsageEnd =
    "  --                  end the options: what follows is the input\n"
    "\n"
    "Exit status: 0 image written, 1 conversion failed, 2 usage error.\n";

void print_warning(void*, const char* path, const char* what, bool as_error) {
    std::fprintf(stderr, "coff2efw: %s: %s: %s\n", as_error ? "error" : "warning", path, what);
}

} // namespace

int main(int argc, char** argv) {
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("coff2efw: error: /dev/null");
        return 1;
    }
    platform::use_without_locking(stdout); // one thread: no lock around each line
    platform::use_without_locking(stderr);
    platform::remove_temporary_on_signals(); // also lets a closed pipe cost no image
    CommandLine line;
    const std::string error = read_command_line(argc, argv, line);
    if (!error.empty()) {
        std::fprintf(stderr, "coff2efw: error: %s\nTry 'coff2efw --help'.\n", error.c_str());
        return 2;
    }
    if (line.help) {
        std::fputs(kUsage, stdout);
        print_option_lines(stdout);
        std::fputs(kUsageEnd, stdout);
        return 0;
    }
    if (line.version) {
        print_version("coff2efw");
        return 0;
    }
    const NameChoice choice{line.input, line.config, line.output};
    // An image is binary: on a terminal it would only garble the screen.
    if (line.output != nullptr && std::strcmp(line.output, "-") == 0 &&
        platform::is_terminal(stdout)) {
        std::fputs("coff2efw: error: standard output is a terminal; the image is not written to "
                   "it (redirect it, or name a file with -o)\nTry 'coff2efw --help'.\n",
                   stderr);
        return 2;
    }
    const RunOptions options{line.quiet, line.strict, ".coff2efw-"};
    Warnings warnings{.report = print_warning};
    try {
        const int status =
            run_sequence(argc > 0 ? argv[0] : nullptr, choice, options, stdout, warnings);
        std::fflush(stdout);
        return status;
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "coff2efw: error: %s: %s\n", f.path.c_str(), f.cause.c_str());
        return 1; // whatever failed, the image was not written
    }
}
