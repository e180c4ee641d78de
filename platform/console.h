// Console output: text stored in code page 949 (Korean), and lines put together in fixed
// storage and written with one call.
#pragma once

#include "text/hex_text.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace platform {

// Code-page-949 text with its forms in the other sets that can show Korean, so that a
// terminal in any of them gets its bytes without a character-set converter, which the C
// library loads from modules of its own at run time: UTF-8, the usual one, GB18030 and
// Johab. Every other set a console uses (ASCII, the Latin sets, the Japanese and Chinese
// double-byte sets) has no Korean, and the EUC-KR family is code page 949 itself.
struct Cp949Text {
    std::string_view cp949;
    std::string_view utf8;
    std::string_view gb18030;
    std::string_view johab;
};

// The character set of the console: on POSIX hosts the locale's (LC_CTYPE from the
// environment), on Windows empty, as the console takes the bytes as they are.
std::string console_charset();

// The set that the locale settings of the environment name without the system's locale
// data being loaded: the first of LC_ALL, LC_CTYPE and LANG that is set and not empty
// decides; none, "C" and "POSIX" give ASCII (as the C library names it), a name whose
// codeset is UTF-8 ("C.UTF-8", "ko_KR.utf8") gives "UTF-8". Empty for any other name,
// which only the locale data can tell. Null arguments count as unset.
std::string charset_named_by(const char* lc_all, const char* lc_ctype, const char* lang);

// `text` for a console whose character set is `charset`: its form in that set where it
// has one, otherwise the stored bytes unchanged, as a log or a diff against a
// code-page-949 console wants them where the set cannot show Korean.
std::string_view text_for_console(const Cp949Text& text, const std::string& charset);

// Prints code-page-949 text to `console` in the form the console can show. The locale
// is taken from the environment on the first call, not before.
void print_cp949(std::FILE* console, const Cp949Text& text);

// One console line in fixed storage. A listing of 2048 sections prints some 4100 lines;
// formatted printing field by field was a fifth of such a run, so the lines are put
// together here and written with one call each.
struct ConsoleLine {
    char text[256];
    std::size_t len = 0;
};

// Pieces of a line behind a bare cursor, for a line whose longest form the caller has
// shown to fit (a static_assert beside it): no room is checked and the length is not
// stored between pieces, which made the listing's rows twice as fast to put together
// as pieces that checked.
inline char* append_text(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

inline constexpr std::size_t kHexDigitsMax = 8; // of a 32-bit value

inline char* append_hex(char* p, std::uint32_t value) { // as "%x" prints it
    int digits = 1;
    while (digits < 8 && (value >> (4 * digits)) != 0)
        ++digits;
    for (int k = digits - 1; k >= 0; --k) {
        p[k] = kHexDigits[value & 0xF];
        value >>= 4;
    }
    return p + digits;
}

inline constexpr std::size_t kDecimalCharsMax = 11; // of an int: "-2147483648"

inline char* append_dec(char* p, int value) { // as "%d" prints it
    return std::to_chars(p, p + kDecimalCharsMax, value).ptr;
}

void write_line(std::FILE* console, const ConsoleLine& line);

} // namespace platform
