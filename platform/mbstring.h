// The host's side of multibyte text: which code page the process reads paths in, the
// searches in it that the host's own runtime makes, and whether text survived the
// host's conversion of arguments and file names.
#pragma once

#include "text/multibyte.h"

#include <string_view>

namespace platform {

// The code page of the process: on Windows its ANSI code page, elsewhere the one that
// the locale's character set (LC_CTYPE from the environment) corresponds to.
int host_code_page();

// The code page to search `text` in: the host's when the text holds a byte outside
// ASCII, otherwise kSingleByte, since every code page reads plain ASCII alike. Only then
// is the host's looked up, which on POSIX hosts loads the locale from the environment.
int code_page_for_text(std::string_view text);

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
