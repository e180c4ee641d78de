// The options every program of the tool answers the same way.
#pragma once

#include <cstdio>
#include <cstring>

inline bool is_help_argument(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
           std::strcmp(arg, "/?") == 0;
}

inline bool is_version_argument(const char* arg) {
    return std::strcmp(arg, "--version") == 0;
}

// What --version says after the version; the full text ships beside the programs.
inline constexpr const char* kLicenceLine =
    "Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file.";

// The answer to --version: the version, then the licence line.
inline void print_version(const char* program) {
    std::printf("%s %s\n%s\n", program, COFF2EFW_VERSION, kLicenceLine);
}

// Answers --help (with `usage`) or --version, wherever it stands among the arguments.
// Returns true when it did; the program then ends with status 0 and touches no file.
inline bool answer_help_or_version(int argc, char** argv, const char* usage, const char* program) {
    for (int i = 1; i < argc; ++i) {
        if (is_help_argument(argv[i])) {
            std::fputs(usage, stdout);
            return true;
        }
        if (is_version_argument(argv[i])) {
            print_version(program);
            return true;
        }
    }
    return false;
}
