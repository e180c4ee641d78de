#include "platform/files.h"

#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <cstring>

#if !defined(_WIN32) && __has_include(<stdio_ext.h>)
#include <stdio_ext.h> // glibc and musl
#endif

namespace platform {

void use_without_locking([[maybe_unused]] std::FILE* fp) {
#if !defined(_WIN32) && __has_include(<stdio_ext.h>)
    __fsetlocking(fp, FSETLOCKING_BYCALLER);
#endif
}

// The program's own path (program_directory in run/file_names, for config.ini and a
// profile run's input and output). The backslash is searched character-wise, since it can
// be the second byte of a double-byte character. The last "/" ends it too, on Windows as
// well, where "C:/tools/coff2efw.exe" is a path like any other: no double-byte code page
// has "/" as the second byte of a character, so a plain search is the right one, and a
// character-wise walk would take a lead byte at the end of a directory name and the "/"
// behind it for one character.
const char* last_directory_separator(const char* path, int code_page) {
    const char* back = path_strrchr(path, '\\', code_page);
    const char* slash = std::strrchr(path, '/');
    return back == nullptr || (slash != nullptr && slash > back) ? slash : back;
}

// A typed path (input_file_names and profile_file_names in run/file_names, and the
// temporary beside an output in create_temporary). On POSIX hosts the system ends a
// directory at every "/", whatever the locale, so the search is a plain one; on Windows
// the backslash is searched character-wise and a drive's colon counts too.
const char* file_name_start(const char* path, [[maybe_unused]] int code_page) {
    const char* start = path;
#ifdef _WIN32
    const char drive = path[0];
    if (((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) && path[1] == ':')
        start = path + 2;
    const char* back = path_strrchr(path, '\\', code_page);
    if (back != nullptr && back >= start)
        start = back + 1;
#endif
    const char* slash = std::strrchr(path, '/');
    if (slash != nullptr && slash >= start)
        start = slash + 1;
    return start;
}

std::string error_text(int error) {
    return std::strerror(error);
}

// What a new file will be: its directory and its name there.
void describe_new_file(const std::string& path, OutputTarget& target) {
    const char* p = path.c_str();
    const char* name = file_name_start(p, code_page_for_text(path));
    const std::string dir = name == p ? std::string(".") : std::string(p, name);
    target.name = name;
    if (!path_status(dir, target.directory, true))
        target.directory = FileStatus{};
}

namespace {

bool identified(const FileStatus& status) {
    return status.device != 0 || status.index != 0;
}

} // namespace

bool same_destination(const OutputTarget& a, const OutputTarget& b) {
    const bool a_new = a.kind == OutputKind::kNew;
    if (a_new != (b.kind == OutputKind::kNew))
        return false;
    if (!a_new) {
        return identified(a.status) && !is_null_device(a.status) && same_file(a.status, b.status);
    }
    return identified(a.directory) && same_file(a.directory, b.directory) &&
           same_name(a.name, b.name);
}

std::FILE* open_regular_input(const std::string& path, FileStatus& status) {
    // A look before the open spares a device the side effects of being opened; the look
    // after it holds even when the name was swapped in between.
    if (path_status(path, status, true) && !status.regular) {
        errno = status.directory ? EISDIR : 0;
        return nullptr;
    }
    std::FILE* fp = open_for_reading(path);
    if (fp == nullptr)
        return nullptr;
    int error = 0;
    if (!file_status(fp, status))
        error = errno;
    else if (status.regular)
        return fp;
    else
        error = status.directory ? EISDIR : 0;
    std::fclose(fp);
    errno = error;
    return nullptr;
}

} // namespace platform
