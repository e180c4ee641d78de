// The library's one error path: whatever goes wrong is thrown as a Failure, which the
// program's reporter turns into a single line on standard error, and whose status the
// program exits with.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

// The exit statuses a Failure carries, as cmp's: 1 when the file itself is at fault (a
// malformed object or image, a difference), 2 when the run could not look at it (it
// cannot be opened or read).
inline constexpr int kStatusFaulty = 1;
inline constexpr int kStatusTrouble = 2;

struct Failure : std::exception {
    std::string path;  // the file the failure concerns
    std::string cause; // naming the section or offset involved
    int status = kStatusFaulty;

    Failure(std::string p, std::string c, int s = kStatusFaulty)
        : path(std::move(p)), cause(std::move(c)), status(s) {}
    const char* what() const noexcept override { return cause.c_str(); }
};

[[noreturn]] inline void fail(const std::string& path, std::string what,
                              int status = kStatusFaulty) {
    throw Failure(path, std::move(what), status);
}

// Offsets and sizes in messages: "0x" and lower-case hexadecimal, as the listing shows them.
inline std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}
