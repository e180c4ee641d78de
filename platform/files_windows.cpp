// The host layer's file calls on Windows; files.cpp holds the rules both hosts share.
#ifdef _WIN32

#include "platform/files.h"

#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

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

bool same_name(const std::string& a, const std::string& b) {
    std::wstring wa;
    std::wstring wb;
    if (!wide_path(a, wa) || !wide_path(b, wb))
        return a == b;
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                                static_cast<int>(wb.size()), TRUE) == CSTR_EQUAL;
}

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

} // namespace platform

#endif
