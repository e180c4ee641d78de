// What --version says, the same way in every program of the tool.
#pragma once

#include "app/command_line.h"
#include "app/report.h"
#include "coff2efw_version.h"

#include <cstdio>

// What --version says after the version; the full text ships beside the programs.
inline constexpr const char* kLicenceLine =
    "Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file.";

// The answer to --version: the version, then the licence line.
inline void print_version(const char* program) {
    std::printf("%s %s\n%s\n", program, COFF2EFW_VERSION, kLicenceLine);
}

// Answers --help (`usage`, the table's option lines, `usage_end`) or --version when the
// line asks for one, and returns the status the program ends with, standard output
// checked; -1 when it asks for neither.
inline int answer_help_or_version(const Reporter& reporter, const CommandLine& line,
                                  const OptionTable& table, const char* usage,
                                  const char* usage_end) {
    if (line.help) {
        std::fputs(usage, stdout);
        print_option_lines(table, stdout);
        std::fputs(usage_end, stdout);
    } else if (line.version) {
        print_version(reporter.program);
    } else {
        return -1;
    }
    return close_standard_output(reporter, 0);
}
