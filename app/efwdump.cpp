// efwdump: lists what a ROM image holds and checks that it is laid out as the target's
// boot loader expects, before the image goes to a target.
#include "app/arguments.h"
#include "image/image_reader.h"
#include "platform/files.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: efwdump [--data] IMAGE\n"
    "\n"
    "Lists a ROM image written by coff2efw and checks its layout: the boot region (16-bit\n"
    "units up to the last non-zero one), the entry address, one line per load record\n"
    "(index, image offset, btad as coff2efw shows it, byte count, destination address,\n"
    "offset behind its data), the terminator's offset and the file size, all numbers in\n"
    "lower-case hexadecimal. Exit status: 0 for a well-formed image; 1 otherwise, with\n"
    "the fault and its image offset on standard error.\n"
    "\n"
    "  --data           also print each record's bytes as a hex dump\n"
    "  -h, --help, /?   show this text\n"
    "  --version        show the version\n";

int usage_error(const char* what, const char* arg) {
    std::fprintf(stderr, "efwdump: error: %s%s (see efwdump --help)\n", what, arg);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("efwdump: error: /dev/null");
        return 1;
    }
    if (answer_help_or_version(argc, argv, kUsage, "efwdump"))
        return 0;

    bool with_data = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--data") == 0)
            with_data = true;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return usage_error("unknown option ", argv[i]);
        else if (path != nullptr)
            return usage_error("more than one image: ", argv[i]);
        else
            path = argv[i];
    }
    if (path == nullptr)
        return usage_error("no image given", "");
    return dump_image_file(path, with_data, stdout, stderr);
}
