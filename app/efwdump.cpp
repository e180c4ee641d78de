// efwdump: lists what a ROM image holds and checks that it is laid out as the target's
// boot loader expects, before the image goes to a target.
#include "app/arguments.h"
#include "app/command_line.h"
#include "app/report.h"
#include "base/failure.h"
#include "image/hex_sinks.h"
#include "image/image_input.h"
#include "image/image_listing.h"
#include "platform/files.h"
#include "run/image_compare.h"
#include "run/image_diff.h"
#include "run/json_descriptions.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: efwdump [--data] IMAGE\n"
    "       efwdump --json IMAGE\n"
    "       efwdump --against OBJECT IMAGE\n"
    "       efwdump [--json] --diff OLD IMAGE\n"
    "\n"
    "Lists a ROM image written by coff2efw and checks its layout: the boot region (16-bit\n"
    "units up to the last non-zero one), the entry address, one line per load record\n"
    "(index, image offset, btad as coff2efw shows it, byte count, destination address,\n"
    "offset behind its data), the terminator's offset, the file size and the file's\n"
    "CRC-32, all numbers in lower-case hexadecimal but the record index, which is\n"
    "decimal. A malformed image is listed up to its fault, which standard error names\n"
    "with its image offset.\n"
    "\n"
    "IMAGE (and OLD) may also be Intel HEX or S-records, told from their content: their\n"
    "bytes from the --base address on are the image, in address order, without gaps or\n"
    "overlaps. Everything below then holds for the binary image they carry.\n"
    "\n"
    "With --against, converts OBJECT as coff2efw would (without its listing) and compares\n"
    "the result with IMAGE byte for byte. A match prints \"IMAGE matches OBJECT (N bytes,\n"
    "K records, crc32 C)\" with N in hexadecimal (0x...), K in decimal. Otherwise, as cmp,\n"
    "\"IMAGE OBJECT differ: \" and the first difference in the image's terms (boot region\n"
    "unit, entry word, record and section, padding byte, terminator or length) with its\n"
    "offset, the expected and the found byte; an object that does not convert gives\n"
    "coff2efw's error on standard error.\n"
    "\n"
    "With --diff, compares OLD with IMAGE by their structure: the boot units that changed,\n"
    "the entry word, and the records, matched by destination address and then by their\n"
    "place, each line one record changed (with its count of differing bytes and the\n"
    "first), resized, added, removed or moved (its order among the others changed); a\n"
    "note where one destination has several records; then both sizes and CRC-32s. With\n"
    "--json the same comes as one JSON object.\n"
    "\n"
    "With --json, prints instead one JSON object for a well-formed image: image_size,\n"
    "crc32, entry, boot_units, records (each with image_offset, size and address),\n"
    "terminator_offset and padding (the offsets of padding bytes), all numbers integers;\n"
    "a malformed image prints nothing on standard output.\n"
    "\n";

constexpr const char* kUsageEnd =
    "\n"
    "Exit status, as cmp's: 0 a well-formed image, or with --against or --diff the same;\n"
    "1 a malformed image or a difference; 2 trouble: a file that cannot be opened or read,\n"
    "with --against an object that does not convert and with --diff a malformed image\n"
    "(nothing could be compared), a usage error, memory.\n";

// Lists and checks the image at `path`; the listing stays as far as it got when the
// image breaks. Throws Failure.
int dump(const char* path, std::uint32_t base, bool with_data) {
    ImageFile image{open_image(path, base)};
    dump_image(image, stdout, with_data);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Reporter reporter{.program = "efwdump", .trouble_status = kStatusTrouble};
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("efwdump: error: /dev/null");
        return kStatusTrouble;
    }
    platform::use_without_locking(stdout); // one thread: no lock around each line
    platform::use_without_locking(stderr);
    CommandLine line;
    std::string error = read_command_line(kDumpOptions, argc, argv, line);
    if (error.empty() && !line.help && !line.version) {
        if (line.input == nullptr)
            error = "no image given";
        else if (line.against != nullptr && line.data)
            error = "--data does not go with --against";
        else if (line.json && (line.against != nullptr || line.data))
            error = "--json goes with neither --data nor --against";
        else if (line.diff != nullptr && (line.against != nullptr || line.data))
            error = "--diff goes with neither --data nor --against";
    }
    std::uint32_t base = kDefaultImageBase;
    if (error.empty() && line.base != nullptr && !parse_address(line.base, base)) {
        error = "invalid argument '" + std::string(line.base) +
                "' for '--base' (0x and hexadecimal digits, or decimal digits, up to 0xFFFFFFFF)";
    }
    if (!error.empty())
        return report_usage_error(reporter, error);
    if (const int status = answer_help_or_version(reporter, line, kDumpOptions, kUsage, kUsageEnd);
        status >= 0)
        return status;

    reporter.operand = line.options_ended ? nullptr : line.input; // no hint after "--"
    reporter.subject = line.input;
    const int status = run_reported(reporter, [&] {
        if (line.against != nullptr)
            return check_image_against(line.against, line.input, base, stdout);
        if (line.diff != nullptr)
            return diff_images(line.diff, line.input, base, line.json, stdout);
        if (line.json) {
            write_image_json(line.input, base, stdout);
            return 0;
        }
        return dump(line.input, base, line.data);
    });
    return close_standard_output(reporter, status);
}
