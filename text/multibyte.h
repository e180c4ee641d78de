// Character and substring search over byte strings in a multibyte (ANSI) code page, and
// the shape of UTF-8 text.
//
// Paths are byte strings in the process's code page. In the double-byte code pages a
// backslash byte (0x5C) can be the second half of a character (for example 0x95 0x5C in
// code page 932), so a plain byte search would cut such a path in the middle of a
// character. These functions walk the string character by character instead.
#pragma once

#include <cstddef>
#include <string_view>

// Windows code page numbers of the double-byte sets we know; 0 means single-byte.
inline constexpr int kSingleByte = 0;

// Maps a character set name such as "SJIS", "EUC-KR" or "CP950" to 932, 936, 949 or
// 950; any other name (UTF-8 included) maps to kSingleByte.
int code_page_for_charset(const char* name);

bool is_lead_byte(unsigned char byte, int code_page);

// Last occurrence of the single-byte character `ch` that starts a character, or null.
const char* mb_strrchr(const char* text, unsigned char ch, int code_page);

// First occurrence of `pattern` in `text` that starts on a character boundary, or null.
// An empty pattern matches at the start.
const char* mb_strstr(const char* text, const char* pattern, int code_page);

// mb_strstr with ASCII letters matched regardless of case (".OUT" and ".Out" for ".out"),
// as Windows matches file names.
const char* mb_strcasestr(const char* text, const char* pattern, int code_page);

// The length of the well-formed UTF-8 character at `p`, of `n` bytes left (1 for ASCII),
// or 0 where the bytes form none: a stray or overlong sequence, a surrogate, a code point
// past U+10FFFF, a sequence cut short.
std::size_t utf8_sequence_length(const unsigned char* p, std::size_t n);

// utf8_sequence_length, and 0 too for a C1 control (U+0080 to U+009F, the bytes C2 80 to
// C2 9F), which a terminal acts on rather than shows.
std::size_t utf8_shown_length(const unsigned char* p, std::size_t n);

// Whether `text` is well-formed UTF-8 holding a character outside ASCII.
bool utf8_beyond_ascii(std::string_view text);
