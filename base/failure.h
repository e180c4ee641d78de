// The converter's one error path: whatever goes wrong is thrown as a Failure and turned
// into a single line on standard error by the run sequence.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct Failure {
    std::string path; // the file the failure concerns
    std::string what; // the cause, naming the section or offset involved
};

[[noreturn]] inline void fail(const std::string& path, std::string what) {
    throw Failure{path, std::move(what)};
}

// Offsets and sizes in messages: "0x" and lower-case hexadecimal, as the listing shows them.
inline std::string hex(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}
