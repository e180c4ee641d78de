// The library's one error path: whatever goes wrong is thrown as a Failure, and the
// program's reporter turns it into a single line on standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

// The exit statuses a Failure carries, as cmp's: 1 when the file itself is at fault (a
// malformed object or image, a difference), 2 when the run could not look at it (it
// cannot be opened or read).
inline constexpr int kStatusFaulty = 1;
inline constexpr int kStatusTrouble = 2;

struct Failure : std::exception {
    std::string path;  // the file the failure concerns
    std::string cause; // naming the section or offset involved
    int status = kStatusFaulty;

    const char* what() const noexcept override { return cause.c_str(); }
};

[[noreturn]] inline void fail(const std::string& path, std::string cause,
                              int status = kStatusFaulty) {
    Failure failure;
    failure.path = path;
    failure.cause = std::move(cause);
    failure.status = status;
    throw failure;
}

// Offsets and sizes in messages: "0x" and lower-case hexadecimal, as the listing shows them.
inline std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}
