// What --version says, the same way in every program of the tool.
#pragma once

#include <cstdio>

// What --version says after the version; the full text ships beside the programs.
inline constexpr const char* kLicenceLine =
    "Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file.";

// The answer to --version: the version, then the licence line.
inline void print_version(const char* program) {
    std::printf("%s %s\n%s\n", program, COFF2EFW_VERSION, kLicenceLine);
}
