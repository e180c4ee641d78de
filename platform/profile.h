// Reading one value from a profile (INI) file.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

enum class ProfileStatus {
    kRead,       // the value is in the buffer, or the fallback when section or key is absent
    kNoFile,     // there is no such file: the buffer holds the fallback
    kNotRegular, // the path names a FIFO, a device or a socket
    kError,      // the file is there but cannot be read; `error` says why
};

struct ProfileResult {
    ProfileStatus status;
    int error;          // an errno value: why kError (EISDIR for a directory), or how the
                        // system said kNoFile (ENOENT, or ENOTDIR for a file on the way)
    std::size_t length; // characters in the buffer, for kRead and kNoFile
};

// Looks up `key` in `[section]` of the profile file at `path` by the rules of
// lookup_profile_value, in the process's code page, and copies its value into `buffer`.
// When there is no such file `fallback` is copied instead. Anything else that keeps the
// file from being read is reported, never taken for an absent file: the buffer is then
// left as it is.
//
// The file is opened once, checked and read through fixed buffers. The same reader serves
// every host: the Windows one would open the file a second time, after ours had checked
// it, and would look for a bare file name in the Windows directory;
// tests/windows/profile_compare.cpp checks under Wine that both give the same values.
ProfileResult parse_profile_file(const char* path, const char* section, const char* key,
                                 const char* fallback, char* buffer, std::size_t size);

// The same lookup over the text of a profile file already in memory.
std::size_t parse_profile_text(std::string_view text, const char* section, const char* key,
                               const char* fallback, char* buffer, std::size_t size);

} // namespace platform
