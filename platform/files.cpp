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
    // No double-byte code page has "/" as the second byte of a character, and the system
    // itself ends a directory at every "/", so a plain search is the right one here; a
    // character-wise walk would take a lead byte at the end of a directory name and the
    // "/" after it for one character.
    const char* slash = std::strrchr(path, '/');
    return back == nullptr || (slash != nullptr && slash > back) ? slash : back;
#endif
}

std::string error_text(int error) {
    return std::strerror(error);
}

#ifdef _WIN32

bool file_status(std::FILE* fp, FileStatus& status) {
    struct _stat64 st;
    if (_fstat64(_fileno(fp), &st) != 0)
        return false;
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.regular = (st.st_mode & _S_IFMT) == _S_IFREG;
    status.directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
    return true;
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return _fseeki64(fp, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::FILE* create_new_file(const std::string& path) {
    // Binary, or the C runtime would turn every 0x0A of the image into 0x0D 0x0A.
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* fp = _fdopen(fd, "wb");
    if (fp == nullptr) {
        const int saved = errno;
        _close(fd);
        std::remove(path.c_str());
        errno = saved;
    }
    return fp;
}

unsigned long process_id() {
    return static_cast<unsigned long>(_getpid());
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

bool file_status(std::FILE* fp, FileStatus& status) {
    struct stat st;
    if (fstat(fileno(fp), &st) != 0)
        return false;
    status.size = static_cast<std::uint64_t>(st.st_size);
    status.regular = S_ISREG(st.st_mode);
    status.directory = S_ISDIR(st.st_mode);
    return true;
}

bool seek_absolute(std::FILE* fp, std::uint64_t offset) {
    return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::FILE* create_new_file(const std::string& path) {
    // O_EXCL with a 0666 mode (not mkstemp's 0600) gives the finished image the
    // permissions the user's umask would give any new file.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* fp = fdopen(fd, "wb");
    if (fp == nullptr) {
        const int saved = errno;
        close(fd);
        unlink(path.c_str());
        errno = saved;
    }
    return fp;
}

unsigned long process_id() {
    return static_cast<unsigned long>(getpid());
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

} // namespace platform
