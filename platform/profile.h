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

// Looks up `key` in `[section]` of the profile file at `path` and copies its value into
// `buffer` (always zero-terminated, cut to size - 1 characters). When the section or the
// key is absent, or there is no such file, `fallback` is copied instead; a key present
// with an empty value gives empty text. Anything else that keeps the file from being read
// is reported, never taken for an absent file: the buffer is then left as it is.
//
// The file is opened once, checked and read line by line through fixed buffers, so
// memory stays the same whatever the file holds. The same reader serves every host: the
// Windows one would open the file a second time, after ours had checked it, and would
// look for a bare file name in the Windows directory; tests/windows/profile_compare.cpp
// checks under Wine that both give the same values.
ProfileResult parse_profile_file(const char* path, const char* section, const char* key,
                                 const char* fallback, char* buffer, std::size_t size);

// The same lookup over the text of a profile file already in memory. The rules, those of
// the Windows reader:
// - a line ends at LF, CR or CR LF; a line longer than kProfileLineMax bytes is read as
//   its first kProfileLineMax bytes;
// - a UTF-8, UTF-16 LE or UTF-16 BE byte-order mark makes the text be read in that
//   encoding and handed back in the process's code page (characters it lacks become '?';
//   a byte left over at the end of UTF-16 counts as a unit); text without one is taken
//   as it is;
// - blanks (space, tab, CR, LF, VT, FF and ^Z) around a line, around the name and the
//   value of a key and inside the brackets of a section line are dropped;
// - a section line starts with '[' and its name runs to the last ']' on the line; a line
//   starting with '[' that has no ']' is an ordinary line of the section before it;
// - section and key names are case-insensitive; only the first section of a name is
//   searched, and the first key of the name in it decides: a line that is just the key's
//   name, with no '=', reads as an absent key;
// - a value or a name ends at its first NUL byte; one pair of matching enclosing quotes
//   (" or ') is removed from a value, nothing else: ';' and '#' after a value are part of
//   it, and lines starting with them are comments only in that their names match no key.
std::size_t parse_profile_text(std::string_view text, const char* section, const char* key,
                               const char* fallback, char* buffer, std::size_t size);

inline constexpr std::size_t kProfileLineMax = 4096;

} // namespace platform
