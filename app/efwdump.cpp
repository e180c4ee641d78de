// efwdump: lists what a ROM image holds and checks that it is laid out as the target's
// boot loader expects, before the image goes to a target.
#include "app/arguments.h"
#include "app/command_line.h"
#include "app/report.h"
#include "base/failure.h"
#include "image/image_reader.h"
#include "platform/files.h"
#include "run/html_report.h"
#include "run/image_compare.h"
#include "run/json_descriptions.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: efwdump [--data] IMAGE\n"
    "       efwdump --json IMAGE\n"
    "       efwdump --against OBJECT IMAGE\n"
    "       efwdump --report FILE IMAGE\n"
    "\n"
    "Lists a ROM image written by coff2efw and checks its layout: the boot region (16-bit\n"
    "units up to the last non-zero one), the entry address, one line per load record\n"
    "(index, image offset, btad as coff2efw shows it, byte count, destination address,\n"
    "offset behind its data), the terminator's offset, the file size and the file's\n"
    "CRC-32, all numbers in lower-case hexadecimal but the record index, which is\n"
    "decimal. A malformed image is listed up to its fault, which standard error names\n"
    "with its image offset.\n"
    "\n"
    "With --against, converts OBJECT as coff2efw would (without its listing) and compares\n"
    "the result with IMAGE byte for byte. A match prints \"IMAGE matches OBJECT (N bytes,\n"
    "K records, crc32 C)\" with N in hexadecimal (0x...), K in decimal. Otherwise standard\n"
    "error names the first difference in the image's terms (boot region unit, entry word,\n"
    "record and section, padding byte, terminator or length) with its offset, the\n"
    "expected and the found byte; an object that does not convert gives coff2efw's error.\n"
    "\n"
    "With --json, prints instead one JSON object for a well-formed image: image_size,\n"
    "crc32, entry, boot_units, records (each with image_offset, size and address),\n"
    "terminator_offset and padding (the offsets of padding bytes), all numbers integers;\n"
    "a malformed image prints nothing on standard output.\n"
    "\n"
    "With --report, draws a well-formed image as one self-contained HTML page in FILE (its\n"
    "records to scale and by destination) and prints nothing.\n"
    "\n";

constexpr const char* kUsageEnd =
    "\n"
    "Exit status, as cmp's: 0 a well-formed image, or with --against a match; 1 a\n"
    "malformed image or a difference; 2 trouble: a file that cannot be opened or read, an\n"
    "object that does not convert (nothing could be compared), a usage error, memory.\n";

// Lists and checks the image at `path`; the listing stays as far as it got when the
// image breaks. Throws Failure.
int dump(const char* path, bool with_data) {
    ImageFile image{open_image(path)};
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
        else if (line.report != nullptr && (line.against != nullptr || line.data || line.json))
            error = "--report goes with none of --data, --against and --json";
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
            return check_image_against(line.against, line.input, stdout);
        if (line.report != nullptr) {
            write_image_report_file(line.report, line.input);
            return 0;
        }
        if (line.json) { // complete before the first byte, so a malformed image prints none
            std::fputs(image_json(line.input).c_str(), stdout);
            return 0;
        }
        return dump(line.input, line.data);
    });
    return close_standard_output(reporter, status);
}
