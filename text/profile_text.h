// Reading one value from the text of a profile (INI) file.
#pragma once

#include <cstddef>

inline constexpr std::size_t kProfileLineMax = 4096;

// Room for one character in the code page of any host.
inline constexpr std::size_t kCharacterBytesMax = 16;

struct ProfileQuery {
    const char* section;
    const char* key;
    const char* fallback;
    char* buffer; // receives the value, always zero-terminated, cut to size - 1 characters
    std::size_t size;
    // Writes `code`, a character outside ASCII, as the process's code page has it into
    // `bytes` (kCharacterBytesMax of room) and gives the count; 0 where the code page
    // lacks it.
    std::size_t (*encode)(char32_t code, char* bytes);
};

// Where the text comes from: fills `chunk` with `size` bytes, fewer only where the text
// ends, and gives their count; 0 at the end of the text, -1 when it cannot be read.
using ReadText = long (*)(void* source, char* chunk, std::size_t size);

// Looks up the key of `query` in its section and copies its value into the buffer, or
// `fallback` when the section or the key is absent; a key present with an empty value
// gives empty text. The text is read through `read` until the value is found or the text
// ends, through fixed buffers, so memory stays the same whatever it holds. `length` is
// what the buffer holds. False when `read` failed before the value was found: the buffer
// is then left as it is.
//
// The rules, those of the Windows reader:
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
bool lookup_profile_value(const ProfileQuery& query, ReadText read, void* source,
                          std::size_t& length);
