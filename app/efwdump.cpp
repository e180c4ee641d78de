// efwdump: lists what a ROM image holds and checks that it is laid out as the target's
// boot loader expects, before the image goes to a target.
#include "app/arguments.h"
#include "app/command_line.h"
#include "app/report.h"
#include "base/failure.h"
#include "image/file_kind.h"
#include "image/image_format.h"
#include "image/image_input.h"
#include "image/image_listing.h"
#include "platform/files.h"
#include "run/file_names.h"
#include "run/html_report.h"
#include "run/image_compare.h"
#include "run/image_diff.h"
#include "run/json_descriptions.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

constexpr const char* kUsage =
    "usage: efwdump [--data] IMAGE\n"
    "       efwdump --json IMAGE\n"
    "       efwdump --against OBJECT [--pad-to SIZE [--fill BYTE]] IMAGE\n"
    "       efwdump [--json] --diff OLD IMAGE\n"
    "       efwdump --report FILE IMAGE\n"
    "\n"
    "Lists a ROM image written by coff2efw and checks its layout: the boot region (16-bit\n"
    "units up to the last non-zero one), the entry address, one line per load record\n"
    "(index, image offset, btad as coff2efw shows it, byte count, destination address,\n"
    "offset behind its data), the terminator's offset, the fill behind it (bytes of one\n"
    "value, as coff2efw --pad-to writes them), the file size and the file's CRC-32, all\n"
    "numbers in lower-case hexadecimal but the record index, which is decimal. A\n"
    "malformed image is listed up to its fault, which standard error names with its\n"
    "image offset.\n"
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
    "coff2efw's error on standard error. --pad-to and --fill compare with the image\n"
    "filled as coff2efw's options fill it.\n"
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
    "terminator_offset, padding (the offsets of padding bytes) and for a filled image\n"
    "fill (offset, size, byte), all numbers integers; a malformed image prints nothing on\n"
    "standard output.\n"
    "\n"
    "With --report, draws a well-formed image as one self-contained HTML page in FILE (its\n"
    "records to scale and by destination) and prints nothing.\n"
    "\n";

constexpr const char* kUsageEnd =
    "\n"
    "Exit status, as cmp's: 0 a well-formed image, or with --against or --diff the same;\n"
    "1 a malformed image or a difference; 2 trouble: a file that cannot be opened or read,\n"
    "with --against an object that does not convert and with --diff a malformed image\n"
    "(nothing could be compared), a usage error, memory.\n";

// An object given as the image is named for what it is before anything is listed, rather
// than by the first fault its header makes in the boot region.
constexpr const char* kObjectNotImage =
    "a COFF object, not a ROM image (coff2efw converts it into one)";

void refuse_object(InputFile& in) {
    if (is_of_kind(in, FileKind::CoffObject))
        fail(in.path, kObjectNotImage);
}

// Lists and checks the image at `path`; the listing stays as far as it got when the
// image breaks. Throws Failure.
int dump(const char* path, std::uint32_t base, bool with_data) {
    ImageFile image{open_image(path, base)};
    refuse_object(image.in); // standard input too, once it is a file here
    dump_image(image, stdout, with_data);
    return 0;
}

// Whether the file a path names is of `kind`; standard input is read once, by the run
// itself, and is of neither.
bool path_is_of_kind(const char* path, FileKind kind) {
    return std::string(path) != kStandardInputName && is_of_kind(std::string(path), kind);
}

// An image where --against wants the object, and the image's place holding none: the
// arguments were swapped. Empty text when they were not, or when the image comes from
// standard input, which is not looked at ahead of the run.
std::string swapped_arguments(const CommandLine& line) {
    if (line.against == nullptr || std::string(line.input) == kStandardInputName ||
        !path_is_of_kind(line.against, FileKind::RomImage) ||
        path_is_of_kind(line.input, FileKind::RomImage))
        return {};
    return std::string("the arguments are swapped: --against names the object, and '") +
           line.against + "' is a ROM image; try 'efwdump --against " + line.input + " " +
           line.against + "'";
}

// The same for --json and --against, which open the image themselves.
void refuse_object(const char* path) {
    if (path_is_of_kind(path, FileKind::CoffObject))
        fail(path, kObjectNotImage);
}

// cmp's statuses: 2 for trouble, the same for anything that keeps two files from being
// compared, 1 for an image that is malformed or differs.
constexpr int kTroubleStatus = 2;

} // namespace

int main(int argc, char** argv) {
    Reporter reporter{.program = "efwdump", .trouble_status = kTroubleStatus};
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("efwdump: error: /dev/null");
        return kTroubleStatus;
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
        else if ((line.pad_to || line.fill) && line.against == nullptr)
            error = "--pad-to and --fill go with --against";
        else if (line.fill && !line.pad_to)
            error = "--fill goes with --pad-to";
        else if (line.report != nullptr && (line.against != nullptr || line.data || line.json))
            error = "--report goes with none of --data, --against and --json";
    }
    if (!error.empty())
        return report_usage_error(reporter, error);
    if (const int status = answer_help_or_version(reporter, line, kDumpOptions, kUsage, kUsageEnd);
        status >= 0)
        return status;

    // Every answer of efwdump goes to standard output; with none there, it is lost.
    if (platform::standard_output_was_closed()) {
        report_error(reporter, "standard output: " + platform::error_text(EBADF));
        return kTroubleStatus;
    }
    if (const std::string swapped = swapped_arguments(line); !swapped.empty())
        return report_usage_error(reporter, swapped);

    reporter.operand = line.options_ended ? nullptr : line.input; // no hint after "--"
    reporter.subject = line.input;
    // Comparing, a malformed file means that nothing could be compared.
    if (line.against != nullptr || line.diff != nullptr)
        reporter.content_status = kTroubleStatus;
    const int status = run_reported(reporter, [&] {
        check_typed_path(line.input);
        check_typed_path(line.against);
        check_typed_path(line.diff);
        // Comparing with an object is no answer: nothing could be compared.
        if (line.against != nullptr || line.diff != nullptr || line.json)
            refuse_object(line.input);
        if (line.diff != nullptr)
            refuse_object(line.diff);
        const std::uint32_t base = line.base.value_or(kDefaultImageBase);
        if (line.against != nullptr)
            return check_image_against(
                line.against, line.input, base, stdout,
                SizeOptions{.pad_to = line.pad_to.value_or(0), .fill = line.fill.value_or(0xFF)});
        if (line.report != nullptr) {
            write_image_report_file(line.report, line.input);
            return 0;
        }
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
