// coff2efw: converts a linked COFF object, named on the command line or in a profile
// file, into the ROM image the target's boot loader takes.
#include "app/arguments.h"
#include "app/command_line.h"
#include "app/report.h"
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

void report_warning_line(void* reporter, const char* path, const char* what, const char* name,
                         bool as_error) {
    report_warning(*static_cast<const Reporter*>(reporter), path, what, name, as_error);
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
    // A listing read through a pipe or a file, as a build log does, took a 4 KiB buffer and
    // one write per 4 KiB; a large one costs some pages and saves most of those writes.
    // Every warning and error flushes the listing before it, so the order stays.
    static char stdout_buffer[1 << 16];
    if (!platform::is_terminal(stdout))
        std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    platform::remove_temporary_on_signals(); // also lets a closed pipe cost no image
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
    RunOptions options{line.quiet, line.warnings.strict, line.max_size};
    options.temporary_prefix = ".coff2efw-";
    const std::string format_error = read_format_options(line.format, line.base, options);
    if (!format_error.empty())
        return report_usage_error(reporter, format_error);
    options.map = line.map;
    options.report = line.report;
    options.dry_run = line.dry_run;
    if (line.sections && line.output != nullptr && std::strcmp(line.output, "-") == 0 &&
        !line.dry_run)
        return report_usage_error(reporter, "--sections needs standard output, which -o - "
                                            "takes for the image");
    options.sections = line.sections ? stdout : nullptr;
    const char* extension =
        options.format == ImageFormat::Efw ? nullptr : format_extension(options.format);
    NameChoice choice{line.input, line.config, line.output};
    choice.extension = extension;
    choice.no_profile_hint = "try 'coff2efw app.out'";
    Warnings warnings = line.warnings;
    warnings.report = report_warning_line;
    warnings.context = &reporter;
    return run_reported(reporter,
                        [&] { return run_sequence(argv0, choice, options, stdout, warnings); });
}
