// coff2efw: converts the COFF object named in config.ini beside the executable into the
// ROM image the target's boot loader takes.
#include "app/arguments.h"
#include "platform/files.h"
#include "run/run_sequence.h"

#include <cstdio>

namespace {

constexpr const char* kUsage =
    "usage: coff2efw\n"
    "\n"
    "Converts a linked COFF object into a ROM image. The input is named by the key\n"
    "COFF_FILE in section [CONFIG] of config.ini beside this executable (default\n"
    "ZOV-KARN.efw); the image is written beside it as VELTARA-<name>, with every \".out\"\n"
    "in the path replaced by \".efw\". The object's headers and each section written are\n"
    "listed on standard output. Exit status: 0 on success, 1 on failure.\n"
    "\n"
    "  -h, --help, /?   show this text\n"
    "  --version        show the version\n";

} // namespace

int main(int argc, char** argv) {
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("coff2efw: error: /dev/null");
        return 1;
    }
    platform::remove_temporary_on_signals();
    if (answer_help_or_version(argc, argv, kUsage, "coff2efw"))
        return 0;
    return run_sequence(argc > 0 ? argv[0] : nullptr, stdout, stderr);
}
