// Conditions under which a conversion succeeds and yet the image is probably not what the
// user meant: data left out, headers probably misread, a listing cut short. The rules
// behind them are what the target's loader and stored images rely on, so they are told,
// not refused; with `strict` each one is an error and the run writes nothing.
#pragma once

struct Warnings {
    // The program's reporter, which words and prints the line; `as_error` under strict.
    // The text comes straight from the caller's buffers: a warning costs no allocation.
    void (*report)(void* context, const char* path, const char* what, bool as_error) = nullptr;
    void* context = nullptr;
    bool strict = false; // every warning is an error
    unsigned count = 0;  // warnings given so far
};

inline void warn(Warnings& warnings, const char* path, const char* what) {
    if (warnings.report != nullptr)
        warnings.report(warnings.context, path, what, warnings.strict);
    ++warnings.count;
}
