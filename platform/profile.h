// Reading one value from a profile (INI) file.
#pragma once

#include <cstddef>
#include <string_view>

namespace platform {

// Looks up `key` in `[section]` of the profile file at `path` and copies its value into
// `buffer` (always zero-terminated, cut to size - 1 characters). When the file, the
// section or the key is absent, `fallback` is copied instead; a key present with an empty
// value gives empty text. Returns the number of characters copied.
//
// On Windows this is GetPrivateProfileStringA; a path without a directory part is looked
// for in the working directory, not in the Windows directory.
std::size_t read_profile_string(const char* section, const char* key, const char* fallback,
                                char* buffer, std::size_t size, const char* path);

// The same lookup over the text of a profile file already in memory. Conventions: section
// and key names are case-insensitive; blanks around names and values are trimmed; one pair
// of matching enclosing quotes is removed from a value; lines whose first non-blank
// character is ';' are comments; LF or CRLF line ends; a UTF-8 byte-order mark is ignored;
// the first matching section and the first matching key in it win.
std::size_t parse_profile_text(std::string_view text, const char* section, const char* key,
                               const char* fallback, char* buffer, std::size_t size);

} // namespace platform
