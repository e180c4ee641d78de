#include "platform/profile.h"

#include "platform/files.h"
#include "platform/mbstring.h"
#include "text/profile_text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

// One character in the process's code page, as WideCharToMultiByte and wcrtomb give it.
std::size_t host_encode(char32_t code, char* bytes) {
#ifdef _WIN32
    wchar_t units[2];
    int count = 1;
    if (code >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(code);
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, units, count, bytes,
                                      static_cast<int>(kCharacterBytesMax), nullptr, nullptr);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
#else
    static_assert(MB_LEN_MAX <= kCharacterBytesMax);
    host_code_page(); // takes LC_CTYPE from the environment once
    std::mbstate_t state{};
    const std::size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(code), &state);
    return n == static_cast<std::size_t>(-1) ? 0 : n;
#endif
}

ProfileQuery host_query(const char* section, const char* key, const char* fallback, char* buffer,
                        std::size_t size) {
    return {section, key, fallback, buffer, size, host_encode};
}

struct TextSource {
    std::string_view rest;
};

long read_text(void* source, char* chunk, std::size_t size) {
    std::string_view& rest = static_cast<TextSource*>(source)->rest;
    const std::size_t n = rest.copy(chunk, size);
    rest.remove_prefix(n);
    return static_cast<long>(n);
}

struct FileSource {
    std::FILE* fp;
    int error;
};

long read_file(void* source, char* chunk, std::size_t size) {
    auto* file = static_cast<FileSource*>(source);
    errno = 0;
    const std::size_t n = std::fread(chunk, 1, size, file->fp);
    if (n == 0 && std::ferror(file->fp)) {
        file->error = errno != 0 ? errno : EIO;
        return -1;
    }
    return static_cast<long>(n);
}

} // namespace

std::size_t parse_profile_text(std::string_view text, const char* section, const char* key,
                               const char* fallback, char* buffer, std::size_t size) {
    TextSource source{text};
    std::size_t length = 0;
    lookup_profile_value(host_query(section, key, fallback, buffer, size), read_text, &source,
                         length);
    return length;
}

ProfileResult parse_profile_file(const char* path, const char* section, const char* key,
                                 const char* fallback, char* buffer, std::size_t size) {
    // Only "no such file" means there is no configuration; a missing directory on the way
    // is the same thing.
    FileStatus status;
    FileSource source{open_regular_input(path, status), 0};
    if (source.fp == nullptr) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) // read as an empty file: the fallback
            return {ProfileStatus::kNoFile, error,
                    parse_profile_text({}, section, key, fallback, buffer, size)};
        if (error == 0)
            return {ProfileStatus::kNotRegular, 0, 0};
        return {ProfileStatus::kError, error, 0};
    }
    ProfileResult result{ProfileStatus::kRead, 0, 0};
    if (!lookup_profile_value(host_query(section, key, fallback, buffer, size), read_file, &source,
                              result.length))
        result = {ProfileStatus::kError, source.error, 0};
    std::fclose(source.fp);
    return result;
}

} // namespace platform
