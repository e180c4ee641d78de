#include "platform/files.h"

#include "platform/mbstring.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

const char* last_directory_separator(const char* path, int code_page) {
    const char* back = path_strrchr(path, '\\', code_page);
#ifdef _WIN32
    return back;
#else
    const char* slash = path_strrchr(path, '/', code_page);
    return back == nullptr || (slash != nullptr && slash > back) ? slash : back;
#endif
}

std::string error_text(int error) {
    return std::strerror(error);
}

#ifdef _WIN32

bool regular_file_size(std::FILE* fp, std::uint64_t& size, int& error) {
    struct _stat64 st;
    if (_fstat64(_fileno(fp), &st) != 0) {
        error = errno;
        return false;
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        error = (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR : EINVAL;
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return _fseeki64(fp, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::FILE* create_temporary_beside(const std::string& target, std::string& temp_path) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temp_path = target + ".tmp" + std::to_string(_getpid()) + "-" + std::to_string(attempt);
        // Binary, or the C runtime would turn every 0x0A of the image into 0x0D 0x0A.
        const int fd =
            _open(temp_path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            std::FILE* fp = _fdopen(fd, "wb");
            if (fp == nullptr) {
                const int saved = errno;
                _close(fd);
                std::remove(temp_path.c_str());
                errno = saved;
            }
            return fp;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool replace_file(const std::string& from, const std::string& to) {
    // rename() of the C runtime refuses an existing target on Windows; MoveFileExA replaces
    // it in one step, and write-through has the new name on the disk before we report success.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: // the old image is open in another program
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
        break;
    }
    return false;
}

#else

bool regular_file_size(std::FILE* fp, std::uint64_t& size, int& error) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::FILE* create_temporary_beside(const std::string& target, std::string& temp_path) {
    // O_EXCL with a 0666 mode (not mkstemp's 0600) gives the finished image the
    // permissions the user's umask would give any new file.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temp_path = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            std::FILE* fp = fdopen(fd, "wb");
            if (fp == nullptr) {
                const int saved = errno;
                close(fd);
                unlink(temp_path.c_str());
                errno = saved;
            }
            return fp;
        }
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

} // namespace platform
