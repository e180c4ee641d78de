// coff2efw: converts a linked COFF object, named on the command line or in a profile
// file, into the ROM image the target's boot loader takes.
#include "app/arguments.h"
#include "app/command_line.h"
#include "app/report.h"
#include "platform/commit.h"
#include "platform/files.h"
#include "run/file_names.h"
#include "run/run_sequence.h"

#include <cstdio>
#include <cstring>
#include <string>

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
    "\n"
    "With -O ihex or -O srec the image is written as Intel HEX or S-records, its bytes\n"
    "placed from the --base address, and a derived name ends in \".hex\" or \".srec\"\n"
    "instead of \".efw\". --map writes a JSON description of the run, --report an HTML\n"
    "page that draws it. --sections lists every section and what became of it; -n checks\n"
    "the whole run and writes nothing.\n"
    "\n";

constexpr const char* kUsageEnd =
    "\n"
    "Exit status: 0 image written, 1 conversion failed, 2 usage error.\n";

// What the options ask for together that they cannot give; empty when nothing.
std::string options_combination_error(const CommandLine& line) {
    const ImageFormat format = line.format.value_or(ImageFormat::Efw);
    const char* text_only = line.base           ? "--base"
                            : line.record_bytes ? "--record-bytes"
                            : line.line_end     ? "--line-end"
                                                : nullptr;
    if (text_only != nullptr && format == ImageFormat::Efw)
        return std::string(text_only) + " applies to -O ihex and -O srec only";
    const char* srec_only = line.srec_address ? "--srec-address"
                            : line.srec_count ? "--srec-count"
                                              : nullptr;
    if (srec_only != nullptr && format != ImageFormat::SRecord)
        return std::string(srec_only) + " applies to -O srec only";
    if (line.fill && !line.pad_to)
        return "--fill goes with --pad-to";
    return {};
}

RunOptions run_options(const CommandLine& line) {
    RunOptions options;
    options.quiet = line.quiet;
    options.strict = line.warnings.strict;
    options.format = line.format.value_or(ImageFormat::Efw);
    options.text.base = line.base.value_or(kDefaultImageBase);
    options.text.record_bytes = line.record_bytes.value_or(kDefaultRecordBytes);
    options.text.srec_address = line.srec_address.value_or(SRecordAddress::Bits32);
    options.text.srec_count = line.srec_count;
    options.text.line_end = line.line_end.value_or(LineEnd::CrLf);
    options.size.max_size = line.max_size.value_or(kNoMaxSize);
    options.size.pad_to = line.pad_to.value_or(0);
    options.size.fill = line.fill.value_or(SizeOptions{}.fill);
    options.map = line.map;
    options.report = line.report;
    options.dry_run = line.dry_run;
    options.sections = line.sections ? stdout : nullptr;
    options.temporary_prefix = ".coff2efw-";
    return options;
}

void report_warning_line(void* reporter, const char* path, const char* what, const char* name,
                         bool as_error) {
    report_warning(*static_cast<const Reporter*>(reporter), path, what, name, as_error);
}

// A run given options but no input converts what config.ini beside the program names,
// which the user may have forgotten is there: the note says which object and why.
void note_profile_input(void* reporter, const FileNames& names) {
    const std::string what = "no input given: converting " + names.input;
    report_note(*static_cast<const Reporter*>(reporter),
                names.default_input ? what + ", the default name (" + names.config + " names none)"
                                    : what + ", named by " + names.config);
}

} // namespace

int main(int argc, char** argv) {
    Reporter reporter{.program = "coff2efw", .trouble_status = 1};
    if (!platform::fill_closed_standard_descriptors()) {
        std::perror("coff2efw: error: /dev/null");
        return 1;
    }
    platform::use_without_locking(stdout); // one thread: no lock around each line
    platform::use_without_locking(stderr);
    // A listing read through a pipe or a file, as a build log does, would get a 4 KiB buffer
    // and one write per 4 KiB; a large one costs some pages and saves most of those writes.
    // Every warning and error flushes the listing before it, so the order stays.
    static char stdout_buffer[1 << 16];
    if (!platform::is_terminal(stdout))
        std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    platform::clean_up_on_signals(); // also lets a closed pipe cost no image
    CommandLine line;
    std::string error = read_command_line(kConverterOptions, argc, argv, line);
    if (error.empty() && !line.help && !line.version && line.input != nullptr &&
        line.config != nullptr)
        error = "an input and --config cannot be given together";
    if (!error.empty())
        return report_usage_error(reporter, error);
    if (const int status =
            answer_help_or_version(reporter, line, kConverterOptions, kUsage, kUsageEnd);
        status >= 0)
        return status;

    // Standard output is not checked at the end of a conversion: a lost listing is a
    // warning of its own, and the status says whether the image was written.
    const char* argv0 = argc > 0 ? argv[0] : nullptr;
    reporter.operand = line.options_ended ? nullptr : line.input; // no hint after "--"
    reporter.subject = argv0 != nullptr ? argv0 : "";
    // An image is binary: on a terminal it would only garble the screen.
    if (line.output != nullptr && std::strcmp(line.output, "-") == 0 &&
        platform::is_terminal(stdout)) {
        return report_usage_error(reporter, "standard output is a terminal; the image is not "
                                            "written to it (redirect it, or name a file with -o)");
    }
    const std::string combination_error = options_combination_error(line);
    if (!combination_error.empty())
        return report_usage_error(reporter, combination_error);
    const RunOptions options = run_options(line);
    if (line.sections && line.output != nullptr && std::strcmp(line.output, "-") == 0 &&
        !line.dry_run)
        return report_usage_error(reporter, "--sections needs standard output, which -o - "
                                            "takes for the image");
    const char* extension =
        options.format == ImageFormat::Efw ? nullptr : format_extension(options.format);
    NameChoice choice{line.input, line.config, line.output};
    choice.extension = extension;
    choice.no_profile_hint = "try 'coff2efw app.out'";
    if (argc > 1) { // the run without arguments stays as quiet as it always was
        choice.profile_input = note_profile_input;
        choice.context = &reporter;
    }
    Warnings warnings = line.warnings;
    warnings.report = report_warning_line;
    warnings.context = &reporter;
    return run_reported(reporter,
                        [&] { return run_sequence(argv0, choice, options, stdout, warnings); });
}
