// The Windows pieces of host_files.h: the one errno mapping of Windows errors, and paths
// as the wide functions take them.
#ifdef _WIN32

#include "platform/host_files.h"

#include <cerrno>
#include <string>
#include <windows.h>

namespace platform {

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

} // namespace platform

#endif
