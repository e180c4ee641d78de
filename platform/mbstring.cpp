#include "platform/mbstring.h"

#include <cctype>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <mbctype.h>
#include <mbstring.h>
#include <windows.h>
#else
#include <clocale>
#include <langinfo.h>
#endif

namespace platform {

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

int code_page_for_text(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return host_code_page();
    }
    return kSingleByte;
}

#ifdef _WIN32

int host_code_page() {
    // The C runtime's _mbs functions work in the runtime's own multibyte code page, which
    // need not be the system's ANSI one (runtimes differ in how they start it, and
    // setlocale can move it). Argument zero arrives in the ANSI code page, so the two are
    // tied together once, before the first search.
    static const int code_page = [] {
        _setmbcp(_MB_CP_ANSI);
        return static_cast<int>(GetACP());
    }();
    return code_page;
}

const char* host_mbsrchr(const char* text, unsigned char ch) {
    host_code_page();
    return reinterpret_cast<const char*>(
        _mbsrchr(reinterpret_cast<const unsigned char*>(text), ch));
}

const char* host_mbsstr(const char* text, const char* pattern) {
    host_code_page();
    return reinterpret_cast<const char*>(_mbsstr(reinterpret_cast<const unsigned char*>(text),
                                                 reinterpret_cast<const unsigned char*>(pattern)));
}

const char* path_strrchr(const char* text, unsigned char ch, int code_page) {
    return code_page == host_code_page() ? host_mbsrchr(text, ch) : mb_strrchr(text, ch, code_page);
}

const char* path_strstr(const char* text, const char* pattern, int code_page) {
    return code_page == host_code_page() ? host_mbsstr(text, pattern)
                                         : mb_strstr(text, pattern, code_page);
}

#else

int host_code_page() {
    static const int code_page = [] {
        std::setlocale(LC_CTYPE, "");
        return code_page_for_charset(nl_langinfo(CODESET));
    }();
    return code_page;
}

const char* host_mbsrchr(const char* text, unsigned char ch) {
    return mb_strrchr(text, ch, host_code_page());
}

const char* host_mbsstr(const char* text, const char* pattern) {
    return mb_strstr(text, pattern, host_code_page());
}

const char* path_strrchr(const char* text, unsigned char ch, int code_page) {
    return mb_strrchr(text, ch, code_page);
}

const char* path_strstr(const char* text, const char* pattern, int code_page) {
    return mb_strstr(text, pattern, code_page);
}

#endif

} // namespace platform
