// Character and substring search over byte strings in a multibyte (ANSI) code page.
//
// Paths are byte strings in the process's code page. In the double-byte code pages a
// backslash byte (0x5C) can be the second half of a character (for example 0x95 0x5C in
// code page 932), so a plain byte search would cut such a path in the middle of a
// character. These functions walk the string character by character instead.
#pragma once

#include <string_view>

namespace platform {

// Windows code page numbers of the double-byte sets we know; 0 means single-byte.
inline constexpr int kSingleByte = 0;

// The code page of the process: on Windows its ANSI code page, elsewhere the one that
// the locale's character set (LC_CTYPE from the environment) corresponds to.
int host_code_page();

// The code page to search `text` in: the host's when the text holds a byte outside
// ASCII, otherwise kSingleByte, since every code page reads plain ASCII alike. Only then
// is the host's looked up, which on POSIX hosts loads the locale from the environment.
int code_page_for_text(std::string_view text);

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

// Whether `text`, all of main's argument `argv[i]` or the tail of one (an option's value),
// is what the user gave. On Windows the C runtime hands main the command line in the ANSI
// code page, and a character that code page lacks arrives as '?' or as a look-alike, so
// that the path names another file or none; the wide command line tells. Always true on
// POSIX hosts, where arguments are the bytes given.
bool argument_held_by_code_page(const char* text);

// Whether `text` reads as characters of the ANSI code page, the only text a Windows file
// name of the runtime's narrow calls can be. Always true on POSIX hosts, where a file name
// is bytes.
bool text_in_ansi_code_page(std::string_view text);

// The length of the well-formed UTF-8 character at `p`, of `n` bytes left (1 for ASCII),
// or 0 where the bytes form none: a stray or overlong sequence, a surrogate, a code point
// past U+10FFFF, a sequence cut short.
std::size_t utf8_sequence_length(const unsigned char* p, std::size_t n);

// Whether `text` is well-formed UTF-8 holding a character outside ASCII.
bool utf8_beyond_ascii(std::string_view text);

// The same searches in the process's own code page; on Windows these are the C runtime's
// _mbsrchr and _mbsstr, working in the process's ANSI code page.
const char* host_mbsrchr(const char* text, unsigned char ch);
const char* host_mbsstr(const char* text, const char* pattern);

// The searches that file names are formed with: for the process's own code page on
// Windows the C runtime's (host_mbsrchr, host_mbsstr), otherwise mb_strrchr and mb_strstr
// (on POSIX hosts, and for a code page chosen explicitly, as tests do).
const char* path_strrchr(const char* text, unsigned char ch, int code_page);
const char* path_strstr(const char* text, const char* pattern, int code_page);

} // namespace platform
