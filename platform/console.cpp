#include "platform/console.h"

#include "platform/mbstring.h"

#include <cstdlib>

#ifndef _WIN32
#include <iconv.h>
#include <langinfo.h>
#endif

namespace platform {

#ifdef _WIN32

std::string console_charset() {
    return {};
}

std::string cp949_for_console(std::string_view cp949, const std::string&) {
    return std::string(cp949);
}

std::string text_for_console(const Cp949Text& text, const std::string&) {
    return std::string(text.cp949);
}

#else

std::string console_charset() {
    // Loading the locale costs a short run about a twentieth of its time and 0.2 MiB, and
    // nearly every console is named UTF-8 or C outright.
    std::string named =
        charset_named_by(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
    if (!named.empty())
        return named;
    host_code_page(); // takes LC_CTYPE from the environment once
    return nl_langinfo(CODESET);
}

std::string cp949_for_console(std::string_view cp949, const std::string& charset) {
    const std::string stored(cp949);
    if (charset.empty() || code_page_for_charset(charset.c_str()) == 949)
        return stored;
    iconv_t cd = iconv_open(charset.c_str(), "CP949");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return stored;
    std::string out(stored.size() * 4, '\0');
    char* in_ptr = const_cast<char*>(stored.data());
    std::size_t in_left = stored.size();
    char* out_ptr = out.data();
    std::size_t out_left = out.size();
    const std::size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    // A set that cannot show Korean (plain ASCII in the C locale) gets the stored bytes,
    // as a log or a diff against a code-page-949 console wants them.
    if (r == static_cast<std::size_t>(-1) || in_left != 0)
        return stored;
    out.resize(out.size() - out_left);
    return out;
}

std::string text_for_console(const Cp949Text& text, const std::string& charset) {
    // glibc's names for the sets of nearly every POSIX console. Into plain ASCII a
    // conversion gives the stored bytes either way: ASCII text unchanged, Korean not at all.
    if (charset == "UTF-8")
        return std::string(text.utf8);
    if (charset == "ANSI_X3.4-1968")
        return std::string(text.cp949);
    return cp949_for_console(text.cp949, charset);
}

#endif

std::string charset_named_by(const char* lc_all, const char* lc_ctype, const char* lang) {
    const char* name = "";
    for (const char* value : {lc_all, lc_ctype, lang}) {
        if (value != nullptr && *value != '\0') {
            name = value;
            break;
        }
    }
    const std::string_view n = name;
    if (n.empty() || n == "C" || n == "POSIX")
        return "ANSI_X3.4-1968";
    // language_TERRITORY.codeset@modifier
    const std::size_t dot = n.find('.');
    if (dot == std::string_view::npos)
        return {};
    std::string codeset;
    for (const char c : n.substr(dot + 1, n.find('@', dot) - dot - 1)) {
        if (c != '-')
            codeset += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return codeset == "UTF8" ? "UTF-8" : std::string();
}

void print_cp949(std::FILE* console, const Cp949Text& text) {
    static const std::string charset = console_charset();
    const std::string shown = text_for_console(text, charset);
    std::fwrite(shown.data(), 1, shown.size(), console);
}

void write_line(std::FILE* console, const ConsoleLine& line) {
    std::fwrite(line.text, 1, line.len, console);
}

} // namespace platform
