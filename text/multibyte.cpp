#include "text/multibyte.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

// "Shift_JIS", "shift-jis" and "SHIFTJIS" all name the same set.
std::string normalised_charset(const char* name) {
    std::string out;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '-' || *p == '_' || *p == ' ')
            continue;
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    }
    return out;
}

} // namespace

int code_page_for_charset(const char* name) {
    if (name == nullptr)
        return kSingleByte;
    const std::string n = normalised_charset(name);
    struct Alias {
        const char* name;
        int code_page;
    };
    static constexpr Alias aliases[] = {
        {"SHIFTJIS", 932}, {"SJIS", 932},   {"CP932", 932}, {"WINDOWS31J", 932}, {"MS932", 932},
        {"GBK", 936},      {"GB2312", 936}, {"CP936", 936}, {"EUCKR", 949},      {"UHC", 949},
        {"CP949", 949},    {"BIG5", 950},   {"CP950", 950}, {"BIG5HKSCS", 950},
    };
    for (const Alias& a : aliases) {
        if (n == a.name)
            return a.code_page;
    }
    return kSingleByte;
}

bool is_lead_byte(unsigned char byte, int code_page) {
    switch (code_page) {
    case 932:
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950:
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return false;
    }
}

namespace {

// Length of the character that starts at `p`; a lead byte at the very end of the string
// stands alone.
std::size_t char_length(const char* p, int code_page) {
    if (is_lead_byte(static_cast<unsigned char>(*p), code_page) && p[1] != '\0')
        return 2;
    return 1;
}

} // namespace

const char* mb_strrchr(const char* text, unsigned char ch, int code_page) {
    const char* found = nullptr;
    for (const char* p = text; *p != '\0'; p += char_length(p, code_page)) {
        if (static_cast<unsigned char>(*p) == ch && char_length(p, code_page) == 1)
            found = p;
    }
    if (ch == '\0')
        return text + std::strlen(text);
    return found;
}

const char* mb_strstr(const char* text, const char* pattern, int code_page) {
    const std::size_t n = std::strlen(pattern);
    for (const char* p = text;; p += char_length(p, code_page)) {
        if (std::strncmp(p, pattern, n) == 0)
            return p;
        if (*p == '\0')
            return nullptr;
    }
}

namespace {

char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool starts_with_any_case(const char* text, const char* pattern) {
    for (; *pattern != '\0'; ++text, ++pattern) {
        if (ascii_lower(*text) != ascii_lower(*pattern))
            return false;
    }
    return true;
}

} // namespace

const char* mb_strcasestr(const char* text, const char* pattern, int code_page) {
    for (const char* p = text;; p += char_length(p, code_page)) {
        if (starts_with_any_case(p, pattern))
            return p;
        if (*p == '\0')
            return nullptr;
    }
}

std::size_t utf8_sequence_length(const unsigned char* p, std::size_t n) {
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    // The sequence's length and the range its second byte must lie in, which rules out
    // overlong forms, surrogates and codes past U+10FFFF.
    std::size_t len = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if (p[k] < (k == 1 ? low : 0x80) || p[k] > (k == 1 ? high : 0xBF))
            return 0;
    }
    return len;
}

std::size_t utf8_shown_length(const unsigned char* p, std::size_t n) {
    const std::size_t len = utf8_sequence_length(p, n);
    return len == 2 && p[0] == 0xC2 && p[1] < 0xA0 ? 0 : len;
}

bool utf8_beyond_ascii(std::string_view text) {
    bool beyond = false;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = utf8_sequence_length(p + i, text.size() - i);
        if (len == 0)
            return false;
        beyond = beyond || len > 1;
        i += len;
    }
    return beyond;
}
