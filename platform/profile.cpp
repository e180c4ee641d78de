#include "platform/profile.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

std::string_view trim(std::string_view s) {
    const char* blanks = " \t\r\n\f\v";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::size_t copy_out(std::string_view value, char* buffer, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    // An empty value may have no storage behind it at all, and memcpy takes no null
    // source even for zero bytes.
    if (n > 0)
        std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
}

} // namespace

std::size_t parse_profile_text(std::string_view text, const char* section, const char* key,
                               const char* fallback, char* buffer, std::size_t size) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    bool seen_section = false;
    bool in_section = false;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (in_section)
                break; // only the first section of that name is searched
            const std::size_t close = line.find(']');
            const std::string_view name =
                trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
            in_section = !seen_section && same_name(name, section);
            seen_section = seen_section || in_section;
            continue;
        }
        if (!in_section)
            continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || !same_name(trim(line.substr(0, eq)), key))
            continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return copy_out(value, buffer, size);
    }
    return copy_out(fallback, buffer, size);
}

#ifdef _WIN32

std::size_t read_profile_string(const char* section, const char* key, const char* fallback,
                                char* buffer, std::size_t size, const char* path) {
    // A bare file name would be looked for in the Windows directory; users expect the
    // configuration beside the input and output, which are relative to the working
    // directory.
    std::string where = path;
    if (where.find_first_of("\\/:") == std::string::npos)
        where = ".\\" + where;
    return GetPrivateProfileStringA(section, key, fallback, buffer, static_cast<DWORD>(size),
                                    where.c_str());
}

#else

std::size_t read_profile_string(const char* section, const char* key, const char* fallback,
                                char* buffer, std::size_t size, const char* path) {
    std::FILE* fp = std::fopen(path, "rb");
    if (fp == nullptr)
        return copy_out(fallback, buffer, size);
    std::string text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
        text.append(chunk, n);
    std::fclose(fp);
    return parse_profile_text(text, section, key, fallback, buffer, size);
}

#endif

} // namespace platform
