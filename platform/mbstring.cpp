#include "platform/mbstring.h"

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

// The wide form of main's arguments, as the C runtime parsed the same command line for
// its narrow ones; declared for the runtime's startup code only.
extern "C" int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int glob,
                              int* startup_info);

namespace {

std::wstring wide_from_ansi(std::string_view text) {
    if (text.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

} // namespace

bool argument_held_by_code_page(const char* text) {
    int argc = 0;
    wchar_t** wargv = nullptr;
    wchar_t** wenv = nullptr;
    int startup_info = 0;
    if (__wgetmainargs(&argc, &wargv, &wenv, 0, &startup_info) < 0 || wargv == nullptr ||
        argc != __argc)
        return true; // nothing to tell by
    // main's argv may be a copy of the runtime's __argv, so the argument is found by its
    // text: the whole of one, or its tail (an option's value). Any such argument that did
    // not arrive as given makes the text suspect.
    const std::size_t len = std::strlen(text);
    for (int i = 0; i < argc; ++i) {
        const char* arg = __argv[i];
        const std::size_t arg_len = std::strlen(arg);
        if (arg_len < len || std::strcmp(arg + (arg_len - len), text) != 0)
            continue;
        // The head of a tail is ASCII option text (--config=), which every code page
        // holds: the whole argument is compared.
        if (wide_from_ansi(arg) != wargv[i])
            return false;
    }
    return true;
}

bool text_in_ansi_code_page(std::string_view text) {
    return text.empty() || MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0) > 0;
}

#else

bool argument_held_by_code_page(const char*) {
    return true;
}

bool text_in_ansi_code_page(std::string_view) {
    return true;
}

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
