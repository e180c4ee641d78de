// Conditions under which a conversion succeeds and yet the image is probably not what the
// user meant: data left out, headers probably misread, a listing cut short. The rules
// behind them are what the target's loader and stored images rely on, so they are told,
// not refused; with `strict` each one is an error and the run writes nothing.
#pragma once

#include <cstdio>

struct Warnings {
    std::FILE* stream = nullptr; // where the lines go: standard error
    bool strict = false;         // every warning is an error
    unsigned count = 0;          // lines given so far
};

// One line, "coff2efw: warning: <path>: <what>" ("error" instead under `strict`), printed
// straight from the caller's buffers: a warning costs no allocation.
inline void warn(Warnings& warnings, const char* path, const char* what) {
    std::fprintf(warnings.stream, "coff2efw: %s: %s: %s\n", warnings.strict ? "error" : "warning",
                 path, what);
    ++warnings.count;
}
