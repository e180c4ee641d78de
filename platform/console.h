// Text for the console that is stored in code page 949 (Korean).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// The character set of the console: on POSIX hosts the locale's (LC_CTYPE from the
// environment), on Windows empty, as the console takes the bytes as they are.
std::string console_charset();

// `cp949` converted for a console whose character set is `charset`: into that set when
// it is not CP949 itself and the conversion succeeds (a UTF-8 terminal then shows
// readable Korean), otherwise the stored bytes unchanged.
std::string cp949_for_console(std::string_view cp949, const std::string& charset);

// Prints code-page-949 text to `console` in the form the console can show.
void print_cp949(std::FILE* console, std::string_view cp949);

} // namespace platform
