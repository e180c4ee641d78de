// The library's one error path: whatever goes wrong is thrown as a Failure, which the
// program's reporter turns into a single line on standard error, and whose status the
// program exits with.
#pragma once

#include "text/hex_text.h" // hex(), which the messages name offsets and sizes with

#include <exception>
#include <string>
#include <utility>

// What kind of failure it is; each program maps the kinds to its exit statuses in one
// place, as cmp's conventions and its own usage ask.
enum class FailureKind : unsigned char {
    Content, // the object or the image is malformed
    Trouble, // the host's: a file that cannot be opened, read or written, memory
};

struct Failure : std::exception {
    std::string path;  // the file the failure concerns
    std::string cause; // naming the section or offset involved
    FailureKind kind = FailureKind::Content;

    Failure(std::string p, std::string c, FailureKind k = FailureKind::Content)
        : path(std::move(p)), cause(std::move(c)), kind(k) {}
    const char* what() const noexcept override { return cause.c_str(); }
};

[[noreturn]] inline void fail(const std::string& path, std::string what,
                              FailureKind kind = FailureKind::Content) {
    throw Failure(path, std::move(what), kind);
}
