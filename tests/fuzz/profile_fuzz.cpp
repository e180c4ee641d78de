// The profile reader on arbitrary bytes as the file: the text taken whole and the same
// bytes read from a file in pieces must give the same value, which is zero-terminated,
// holds no line end and no NUL, fits the buffer, and cut to a smaller buffer is a prefix
// of itself. Anything else (a crash, a sanitizer report, a leak, a hang) is a finding.
#include "platform/profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

// A scratch file that is never closed, and the name by which the reader opens it anew.
int g_Fd = -1;
std::string g_Path;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "profile_fuzz: %s\n", what);
    std::abort();
}

constexpr const char* kFallback = "DEFAULT";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_Fd < 0) {
        std::FILE* fp = std::tmpfile();
        if (fp == nullptr)
            broken("cannot create a scratch file");
        g_Fd = fileno(fp);
        g_Path = "/proc/self/fd/" + std::to_string(g_Fd);
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    char whole[256];
    const std::size_t n =
        platform::parse_profile_text(text, "CONFIG", "COFF_FILE", kFallback, whole, sizeof whole);
    if (n >= sizeof whole || whole[n] != '\0' || std::strlen(whole) != n)
        broken("the value is not zero-terminated at its length inside the buffer");
    if (std::memchr(whole, '\n', n) != nullptr || std::memchr(whole, '\r', n) != nullptr)
        broken("the value holds a line end");

    // A smaller buffer gets the value's first bytes.
    char small[8];
    const std::size_t small_size = 1 + size % sizeof small;
    const std::size_t m =
        platform::parse_profile_text(text, "CONFIG", "COFF_FILE", kFallback, small, small_size);
    if (m != (n < small_size - 1 ? n : small_size - 1) || std::memcmp(small, whole, m) != 0 ||
        small[m] != '\0')
        broken("a smaller buffer does not get the value's first bytes");

    // The same bytes from a file, read in pieces of the reader's own size.
    if (ftruncate(g_Fd, 0) != 0 || pwrite(g_Fd, data, size, 0) != static_cast<ssize_t>(size))
        broken("cannot write the scratch file");
    char from_file[256];
    const platform::ProfileResult r = platform::parse_profile_file(
        g_Path.c_str(), "CONFIG", "COFF_FILE", kFallback, from_file, sizeof from_file);
    if (r.status != platform::ProfileStatus::kRead)
        broken("a regular file was not read");
    if (r.length != n || std::memcmp(from_file, whole, n + 1) != 0)
        broken("the file read in pieces gives another value than its text");
    return 0;
}
