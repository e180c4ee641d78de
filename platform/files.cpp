// rand_s, the C runtime's cryptographic random numbers, is declared only on request, and
// before the first standard header.
#ifdef _WIN32
#define _CRT_RAND_S
#endif

#include "platform/files.h"

#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<stdio_ext.h>)
#include <stdio_ext.h> // glibc and musl
#endif
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

namespace {

bool same_name(const std::string& a, const std::string& b);

// What a new file will be: its directory and its name there.
void describe_new_file(const std::string& path, OutputTarget& target) {
    const char* p = path.c_str();
    const char* name = file_name_start(p, code_page_for_text(path));
    const std::string dir = name == p ? std::string(".") : std::string(p, name);
    target.name = name;
    if (!path_status(dir, target.directory, true))
        target.directory = FileStatus{};
}

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

#ifdef _WIN32

// The C runtime gives descriptors 0, 1 and 2 to the standard streams even when the
// process has no standard handles, so no file opened later can take their place.
bool fill_closed_standard_descriptors() {
    return true;
}

// A write to a closed standard output fails there by itself.
bool standard_output_was_closed() {
    return false;
}

// NUL has no index to tell it by; it is never taken for a file another output leads to,
// as nothing without an index is.
bool is_null_device(const FileStatus&) {
    return false;
}

int errno_from_windows(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: // the old image is open in another program
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return EINVAL;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    default:
        return EIO;
    }
}

namespace {

// The longest path the wide functions take behind the \\?\ prefix, in UTF-16 units.
constexpr std::size_t kLongestPath = 32767;

} // namespace

// `path` in UTF-16 as the ANSI code page reads it. Where the full path reaches the
// classic limit (MAX_PATH, less the room a directory's 8.3 name needs), it is made
// absolute and given the \\?\ prefix, which the wide functions take up to 32767 units
// without the long-path setting of the system; a shorter path stays as given, so that
// relative names and the host's own rules for "." and trailing dots stay as they were.
// False with errno set: EILSEQ for bytes that are no text of the code page,
// ENAMETOOLONG past 32767.
bool wide_path(const std::string& path, std::wstring& out) {
    out.clear();
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    if (path.size() > kLongestPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    const int len = static_cast<int>(path.size());
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), len, nullptr, 0);
    if (n <= 0) {
        errno = EILSEQ;
        return false;
    }
    out.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), len, out.data(), n);
    if (out.starts_with(L"\\\\?\\") || out.starts_with(L"\\\\.\\"))
        return true;
    const DWORD need = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
    if (need == 0) {
        errno = errno_from_windows(GetLastError());
        return false;
    }
    if (need < MAX_PATH - 12)
        return true;
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(out.c_str(), need, full.data(), nullptr);
    if (got == 0 || got >= need) {
        errno = got == 0 ? errno_from_windows(GetLastError()) : ENAMETOOLONG;
        return false;
    }
    full.resize(got);
    if (full.starts_with(L"\\\\"))
        out = L"\\\\?\\UNC\\" + full.substr(2); // \\server\share\...
    else
        out = L"\\\\?\\" + full;
    if (out.size() > kLongestPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

namespace {

// Whether the last name of `path` is one Windows may take for a device in any directory
// and with any extension ("nul.efw", "C:\\out\\COM1.bin", "CON:"). Newer versions take
// some such names for files, so a caller checks the type of what it opened as well.
bool is_device_name(const std::string& path) {
    const char* p = path.c_str();
    const char* start = host_mbsrchr(p, '\\');
    start = start == nullptr ? p : start + 1;
    if (const char* slash = std::strrchr(start, '/'))
        start = slash + 1;
    if (start == p && path.size() >= 2 && path[1] == ':')
        start += 2;
    std::size_t len = std::strcspn(start, ".:");
    while (len > 0 && start[len - 1] == ' ')
        --len;
    char name[8] = {};
    if (len < 3 || len >= sizeof name)
        return false;
    for (std::size_t i = 0; i < len; ++i)
        name[i] = static_cast<char>(start[i] >= 'a' && start[i] <= 'z' ? start[i] - 32 : start[i]);
    for (const char* device : {"NUL", "CON", "PRN", "AUX", "CONIN$", "CONOUT$"}) {
        if (std::strcmp(name, device) == 0)
            return true;
    }
    return len == 4 && (std::strncmp(name, "COM", 3) == 0 || std::strncmp(name, "LPT", 3) == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

} // namespace

// A C stream on a handle the caller opened; the handle is closed when there is none.
std::FILE* stream_on_handle(HANDLE h, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, mode);
    if (fp == nullptr) {
        const int saved = errno;
        _close(fd);
        errno = saved;
    }
    return fp;
}

namespace {

bool handle_status(HANDLE h, FileStatus& status) {
    status = FileStatus{};
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info))
        return true; // a console, a pipe or a device: no file of the disk
    status.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.regular = !status.directory;
    status.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    status.device = info.dwVolumeSerialNumber;
    status.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return true;
}

} // namespace

bool file_status(std::FILE* fp, FileStatus& status) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return false;
    }
    return handle_status(h, status);
}

bool path_status(const std::string& path, FileStatus& status, bool follow_links) {
    // No access asked for, only the attributes; backup semantics let a directory open.
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE h =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE && is_device_name(path)) {
        // CON and its like do not open without an access to choose between their two
        // sides; what they are is known all the same: a device, not a file.
        status = FileStatus{};
        return true;
    }
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        errno = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return false;
    }
    const bool ok = handle_status(h, status);
    CloseHandle(h);
    return ok;
}

std::FILE* open_for_reading(const std::string& path) {
    return std::fopen(path.c_str(), "rb");
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return _fseeki64(fp, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool replace_file(const std::string& from, const std::string& to) {
    // rename() of the C runtime refuses an existing target on Windows; MoveFileExW replaces
    // it in one step, and write-through has the new name on the disk before we report success.
    std::wstring wide_from;
    std::wstring wide_to;
    if (!wide_path(from, wide_from) || !wide_path(to, wide_to))
        return false;
    if (MoveFileExW(wide_from.c_str(), wide_to.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = errno_from_windows(GetLastError());
    return false;
}

bool remove_file(const std::string& path) {
    std::wstring wide;
    if (!wide_path(path, wide))
        return false;
    if (DeleteFileW(wide.c_str()))
        return true;
    errno = errno_from_windows(GetLastError());
    return false;
}

bool link_file(const std::string& existing, const std::string& new_name) {
    std::wstring wide_existing;
    std::wstring wide_new;
    if (!wide_path(existing, wide_existing) || !wide_path(new_name, wide_new))
        return false;
    if (CreateHardLinkW(wide_new.c_str(), wide_existing.c_str(), nullptr))
        return true;
    errno = errno_from_windows(GetLastError());
    return false;
}

namespace {

bool same_name(const std::string& a, const std::string& b) {
    std::wstring wa;
    std::wstring wb;
    if (!wide_path(a, wa) || !wide_path(b, wb))
        return a == b;
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

bool examine_output(const std::string& path, OutputTarget& target) {
    target = OutputTarget{};
    target.file = path;
    std::wstring wide;
    if (!wide_path(path, wide))
        return false;
    if (wide.starts_with(L"\\\\.\\")) { // \\.\PhysicalDrive0, \\.\pipe\name, \\.\NUL
        target.kind = OutputKind::kStream;
        return true;
    }
    if (is_device_name(path)) {
        // Opened as it will be written, without creating or truncating anything: CON takes
        // no other access, and the handle's type tells a device from a file of that name.
        const HANDLE h =
            CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            const DWORD type = GetFileType(h);
            CloseHandle(h);
            if (type != FILE_TYPE_DISK) {
                target.kind = OutputKind::kStream;
                return true;
            }
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            // A device that does not answer (no printer on PRN): opening it for the image
            // names the system's reason. A name the system takes for a file and that does
            // not exist yet is a new file.
            target.kind = OutputKind::kStream;
            return true;
        }
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_ACCESS_DENIED) {
            // A new file; a missing directory is named when the temporary is made.
            describe_new_file(path, target);
            return true;
        }
        errno = errno_from_windows(error);
        return false;
    }
    const HANDLE h =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            target.kind = OutputKind::kDanglingLink;
            return true;
        }
        errno = errno_from_windows(error);
        return false;
    }
    handle_status(h, target.status);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        target.kind = OutputKind::kStream;
    } else if (target.status.directory) {
        target.kind = OutputKind::kDirectory;
    } else {
        target.kind = OutputKind::kRegular;
        // What a link finally names is where the new image goes; the link stays.
        target.write_protected = GetFileInformationByHandle(h, &info) &&
                                 (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            std::wstring final_name(kLongestPath + 1, L'\0');
            const DWORD n = GetFinalPathNameByHandleW(h, final_name.data(), kLongestPath + 1,
                                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
            const int len =
                n == 0 || n > kLongestPath
                    ? 0
                    : WideCharToMultiByte(CP_ACP, 0, final_name.data(), static_cast<int>(n),
                                          nullptr, 0, nullptr, nullptr);
            if (len <= 0) {
                CloseHandle(h);
                errno = EILSEQ;
                return false;
            }
            target.file.assign(static_cast<std::size_t>(len), '\0');
            WideCharToMultiByte(CP_ACP, 0, final_name.data(), static_cast<int>(n),
                                target.file.data(), len, nullptr, nullptr);
        }
    }
    CloseHandle(h);
    return true;
}

std::FILE* open_stream_output(const std::string& path) {
    std::wstring wide;
    if (!wide_path(path, wide))
        return nullptr;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_windows(GetLastError());
        return nullptr;
    }
    if (GetFileType(h) == FILE_TYPE_DISK) {
        CloseHandle(h);
        errno = 0;
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS); // a failed write is then the one error left here
    return stream_on_handle(h, _O_WRONLY, "wb");
}

bool is_terminal(std::FILE* fp) {
    // _isatty is true for every character device, the null device included.
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

std::FILE* open_null_output() {
    return std::fopen("NUL", "wb");
}

void use_binary_mode(std::FILE* fp) {
    _setmode(_fileno(fp), _O_BINARY);
    SetLastError(ERROR_SUCCESS); // the stream is about to take the image: see last_error_text
}

std::FILE* reopen_standard_input() {
    const int fd = _dup(0);
    if (fd < 0)
        return nullptr;
    _setmode(fd, _O_BINARY);
    std::FILE* fp = _fdopen(fd, "rb");
    if (fp == nullptr) {
        const int saved = errno;
        _close(fd);
        errno = saved;
        return nullptr;
    }
    if (!seek_absolute(fp, 0)) {
        const int saved = errno;
        std::fclose(fp);
        errno = saved;
        return nullptr;
    }
    return fp;
}

std::FILE* create_scratch_file() {
    // tmpfile() of the older C runtime creates its file in the root of the drive, where a
    // user may not write; the system's directory for temporary files takes it instead,
    // and the system deletes it on close, a crash included.
    wchar_t dir[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"efw", 0, name) == 0) {
        errno = errno_from_windows(GetLastError());
        return nullptr;
    }
    const HANDLE h =
        CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = errno_from_windows(GetLastError());
        DeleteFileW(name);
        return nullptr;
    }
    return stream_on_handle(h, _O_RDWR, "w+b");
}

std::string last_error_text() {
    // The C runtime maps some of WriteFile's errors and leaves others; the system's code,
    // cleared when the stream was opened, is the cause whenever it is set.
    const int saved = errno;
    const DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) {
        const int mapped = errno_from_windows(error);
        if (mapped != EIO)
            return error_text(mapped);
        char text[256];
        DWORD len = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, text, sizeof text, nullptr);
        while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r' || text[len - 1] == '.' ||
                           text[len - 1] == ' '))
            --len;
        if (len > 0)
            return std::string(text, len);
    }
    return error_text(saved);
}

#else

namespace {

bool g_StandardOutputClosed = false;

} // namespace

bool fill_closed_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        if (fd == STDOUT_FILENO)
            g_StandardOutputClosed = true;
        // The lowest free descriptor is `fd` itself, as the ones below it are open by now.
        const int null_fd = open("/dev/null", O_RDWR);
        if (null_fd < 0)
            return false;
        if (null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
    return true;
}

namespace {

void fill_status(const struct stat& st, FileStatus& status) {
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.regular = S_ISREG(st.st_mode);
    status.directory = S_ISDIR(st.st_mode);
    status.device = static_cast<std::uint64_t>(st.st_dev);
    status.index = static_cast<std::uint64_t>(st.st_ino);
    status.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    status.owner = static_cast<std::uint32_t>(st.st_uid);
    status.group = static_cast<std::uint32_t>(st.st_gid);
}

} // namespace

bool file_status(std::FILE* fp, FileStatus& status) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return false;
    fill_status(st, status);
    return true;
}

bool path_status(const std::string& path, FileStatus& status, bool follow_links) {
    struct stat st;
    if ((follow_links ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return false;
    fill_status(st, status);
    return true;
}

std::FILE* stream_on(int fd, const char* mode) {
    std::FILE* fp = fdopen(fd, mode);
    if (fp == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return nullptr;
    }
    use_without_locking(fp);
    return fp;
}

std::FILE* open_for_reading(const std::string& path) {
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer. It is cleared
    // again, so that a file that turns out to be regular reads as usual.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return nullptr;
    }
    return stream_on(fd, "rb");
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool link_file(const std::string& existing, const std::string& new_name) {
    return link(existing.c_str(), new_name.c_str()) == 0;
}

bool standard_output_was_closed() {
    return g_StandardOutputClosed;
}

bool is_null_device(const FileStatus& status) {
    static FileStatus null_device;
    static const bool known = path_status("/dev/null", null_device, true);
    return known && same_file(status, null_device);
}

namespace {

bool same_name(const std::string& a, const std::string& b) {
    return a == b;
}

} // namespace

bool examine_output(const std::string& path, OutputTarget& target) {
    target = OutputTarget{};
    target.file = path;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        const int err = errno;
        struct stat link;
        if (err == ENOENT && lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            target.kind = OutputKind::kDanglingLink;
            // Along a chain of links, what is missing is what the last one names. Links
            // changed meanwhile into a loop end the walk where stat would have.
            std::string at = path;
            char names[4096];
            ssize_t n = 0;
            for (int hop = 0; hop < 40 && (n = readlink(at.c_str(), names, sizeof names)) > 0;
                 ++hop) {
                target.file.assign(names, static_cast<std::size_t>(n));
                const char* dir_end = file_name_start(at.c_str(), kSingleByte);
                const std::string next =
                    names[0] == '/' ? target.file : std::string(at.c_str(), dir_end) + target.file;
                if (lstat(next.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
                    break;
                at = next;
            }
            return true;
        }
        errno = err;
        // Nothing there, or nothing this user can look at: a new file, whose temporary
        // then names the reason. A loop of links or a path too long is said at once.
        if (err != ENOENT && err != ENOTDIR && err != EACCES)
            return false;
        describe_new_file(path, target);
        return true;
    }
    fill_status(st, target.status);
    if (S_ISDIR(st.st_mode)) {
        target.kind = OutputKind::kDirectory;
        return true;
    }
    if (!S_ISREG(st.st_mode)) {
        target.kind = OutputKind::kStream;
        return true;
    }
    target.kind = OutputKind::kRegular;
    // As cp decides without -f: by the rights of the effective user, so root may replace
    // a file of mode 0444 and an ordinary user may not. A read-only file system is left
    // to the creation of the temporary, which names it.
    target.write_protected =
        faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
    struct stat link;
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        // The rename must land on the file the links lead to, not on the first link.
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr)
            return false;
        target.file = real;
        std::free(real);
    }
    return true;
}

std::FILE* open_stream_output(const std::string& path) {
    // No O_CREAT and no O_TRUNC: a name that became a regular file since it was looked at
    // is not touched. Without O_NONBLOCK a FIFO waits for its reader, as `>` does.
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st = {};
    if (fstat(fd, &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        const int err = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) ? 0 : errno;
        close(fd);
        errno = err;
        return nullptr;
    }
    return stream_on(fd, "wb");
}

bool is_terminal(std::FILE* fp) {
    return isatty(fileno(fp)) != 0;
}

std::FILE* open_null_output() {
    return std::fopen("/dev/null", "wb");
}

void use_binary_mode(std::FILE*) {}

std::FILE* reopen_standard_input() {
    const int fd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    std::FILE* fp = stream_on(fd, "rb");
    if (fp != nullptr && !seek_absolute(fp, 0)) {
        const int err = errno;
        std::fclose(fp);
        errno = err;
        return nullptr;
    }
    return fp;
}

std::FILE* create_scratch_file() {
    // In TMPDIR, where the user keeps large temporary files; tmpfile() takes /tmp always.
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = "/tmp";
    int fd = -1;
#ifdef O_TMPFILE
    // A file without a name: nothing is left behind, whatever ends the program.
    fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return nullptr;
#endif
    if (fd < 0) { // a file system without unnamed files: a name, removed at once
        std::string name = std::string(dir) + "/coff2efw-scratch-XXXXXX";
        fd = mkstemp(name.data());
        if (fd < 0)
            return nullptr;
        unlink(name.c_str());
    }
    return stream_on(fd, "w+b");
}

std::string last_error_text() {
    return error_text(errno);
}

#endif

} // namespace platform
