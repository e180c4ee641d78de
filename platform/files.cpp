#include "platform/files.h"

#include "platform/mbstring.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
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

void ignore_broken_pipe() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

const char* file_name_start(const char* path, int code_page) {
    const char* start = path;
#ifdef _WIN32
    const char drive = path[0];
    if (((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z')) && path[1] == ':')
        start = path + 2;
    const char* back = path_strrchr(path, '\\', code_page);
    if (back != nullptr && back >= start)
        start = back + 1;
#endif
    const char* slash = path_strrchr(path, '/', code_page);
    if (slash != nullptr && slash >= start)
        start = slash + 1;
    return start;
}

std::string error_text(int error) {
    return std::strerror(error);
}

#ifdef _WIN32

namespace {

// The errno value that says what a Windows error code says, for the one error text.
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
    default:
        return EIO;
    }
}

} // namespace

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
    errno = errno_from_windows(GetLastError());
    return false;
}

std::FILE* open_scratch_file() {
    char dir[MAX_PATH + 1];
    const DWORD len = GetTempPathA(sizeof dir, dir);
    if (len == 0 || len >= sizeof dir) {
        errno = ENOENT;
        return nullptr;
    }
    char name[MAX_PATH];
    if (GetTempFileNameA(dir, "efw", 0, name) == 0) {
        errno = errno_from_windows(GetLastError());
        return nullptr;
    }
    // The system deletes the file when its last handle closes, even when the process is
    // killed, so no run leaves it behind; the C runtime's tmpfile() would instead try
    // the root of the current drive, which a user may not write to.
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int err = errno_from_windows(GetLastError());
        DeleteFileA(name);
        errno = err;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, "w+b");
    if (fp == nullptr) {
        const int saved = errno;
        _close(fd);
        errno = saved;
    }
    return fp;
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

std::FILE* open_scratch_file() {
    // TMPDIR first, as the user may point large scratch files away from a small /tmp.
    const char* dir = std::getenv("TMPDIR");
    std::string name =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/efwdump-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    // Unlinked at once: the descriptor keeps the data, and no run leaves the file behind.
    unlink(name.c_str());
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::FILE* fp = fdopen(fd, "w+b");
    if (fp == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return fp;
}

#endif

} // namespace platform
