// efwdump: lists what a ROM image holds and checks that it is laid out as the target's
// boot loader expects, before the image goes to a target.
#include "app/arguments.h"
#include "base/failure.h"
#include "image/image_reader.h"
#include "platform/files.h"
#include "run/image_compare.h"
#include "run/json_descriptions.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kUsage =
    "usage: efwdump [--data] IMAGE\n"
    "       efwdump --json IMAGE\n"
    "       efwdump --against OBJECT IMAGE\n"
    "\n"
    "Lists a ROM image written by coff2efw and checks its layout: the boot region (16-bit\n"
    "units up to the last non-zero one), the entry address, one line per load record\n"
    "(index, image offset, btad as coff2efw shows it, byte count, destination address,\n"
    "offset behind its data), the terminator's offset, the file size and the file's\n"
    "CRC-32, all numbers in lower-case hexadecimal. Exit status: 0 for a well-formed\n"
    "image; 1 otherwise, with the fault and its image offset on standard error.\n"
    "\n"
    "With --against, converts OBJECT as coff2efw would (without its listing) and compares\n"
    "the result with IMAGE byte for byte. A match prints \"IMAGE matches OBJECT (N bytes,\n"
    "K records, crc32 C)\" with N in hexadecimal (0x...), K in decimal, and exits with 0.\n"
    "Otherwise the exit status is 1 and standard error names the first difference in the\n"
    "image's terms (boot region unit, entry word, record and section, padding byte,\n"
    "terminator or length) with its offset, the expected and the found byte; an object\n"
    "that does not convert gives coff2efw's error.\n"
    "\n"
    "  --against OBJECT compare IMAGE with the image converted from OBJECT\n"
    "With --json, prints instead one JSON object for a well-formed image: image_size,\n"
    "crc32, entry, boot_units, records (each with image_offset, size and address),\n"
    "terminator_offset and padding (the offsets of padding bytes), all numbers integers;\n"
    "a malformed image prints nothing on standard output.\n"
    "\n"
    "  --data           also print each record's bytes as a hex dump\n"
    "  --json           describe IMAGE as JSON instead of listing it\n"
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
    platform::use_without_locking(stdout); // one thread: no lock around each line
    platform::use_without_locking(stderr);
    if (answer_help_or_version(argc, argv, kUsage, "efwdump"))
        return 0;

    bool with_data = false;
    bool json = false;
    const char* object = nullptr;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* against = nullptr;
        if (std::strcmp(argv[i], "--data") == 0)
            with_data = true;
        else if (std::strcmp(argv[i], "--json") == 0)
            json = true;
        else if (std::strcmp(argv[i], "--against") == 0)
            against = i + 1 < argc ? argv[++i] : "";
        else if (std::strncmp(argv[i], "--against=", 10) == 0)
            against = argv[i] + 10;
        else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return usage_error("unknown option ", argv[i]);
        else if (path != nullptr)
            return usage_error("more than one image: ", argv[i]);
        else
            path = argv[i];
        if (against != nullptr && against[0] == '\0')
            return usage_error("--against needs an object", "");
        if (against != nullptr && object != nullptr)
            return usage_error("more than one object: ", against);
        if (against != nullptr)
            object = against;
    }
    if (path == nullptr)
        return usage_error("no image given", "");
    if (object != nullptr && with_data)
        return usage_error("--data does not go with --against", "");
    if (json && (object != nullptr || with_data))
        return usage_error("--json goes with neither --data nor --against", "");
    try {
        int status = 0;
        if (json) // complete before the first byte, so a malformed image prints none
            std::fputs(image_json(path).c_str(), stdout);
        else
            status = object != nullptr ? check_image_against(object, path, stdout)
                                       : dump_image_file(path, with_data, stdout);
        std::fflush(stdout);
        return status;
    } catch (const Failure& f) {
        std::fflush(stdout);
        std::fprintf(stderr, "efwdump: error: %s: %s\n", f.path.c_str(), f.cause.c_str());
        return f.status;
    }
}
