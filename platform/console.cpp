#include "platform/console.h"

#include "platform/mbstring.h"

#include <cstdlib>

#ifndef _WIN32
#include <langinfo.h>
#endif

namespace platform {

#ifdef _WIN32

std::string console_charset() {
    return {};
}

std::string_view text_for_console(const Cp949Text& text, const std::string&) {
    return text.cp949;
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

std::string_view text_for_console(const Cp949Text& text, const std::string& charset) {
    // Names as the C library gives them ("UTF-8", "GB18030", "JOHAB") or as a locale's
    // name spells them ("utf8").
    std::string name;
    for (const char c : charset) {
        if (c != '-' && c != '_')
            name += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (name == "UTF8")
        return text.utf8;
    if (name == "GB18030")
        return text.gb18030;
    if (name == "JOHAB")
        return text.johab;
    return text.cp949;
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
    const std::string_view shown = text_for_console(text, charset);
    std::fwrite(shown.data(), 1, shown.size(), console);
}

void write_line(std::FILE* console, const ConsoleLine& line) {
    std::fwrite(line.text, 1, line.len, console);
}

} // namespace platform
