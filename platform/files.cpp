// rand_s, the C runtime's cryptographic random numbers, is declared only on request, and
// before the first standard header.
#ifdef _WIN32
#define _CRT_RAND_S
#endif

#include "platform/files.h"

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

bool is_terminal(std::FILE* fp) {
#ifdef _WIN32
    return _isatty(_fileno(fp)) != 0;
#else
    return isatty(fileno(fp)) != 0;
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

#ifdef _WIN32

// The C runtime gives descriptors 0, 1 and 2 to the standard streams even when the
// process has no standard handles, so no file opened later can take their place.
bool fill_closed_standard_descriptors() {
    return true;
}

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
    case ERROR_FILENAME_EXCED_RANGE: // a path over 260 characters where long ones are off
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

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

std::FILE* create_temporary(const std::string& target, const char* prefix, std::string& path) {
    const char* t = target.c_str();
    const std::string dir(t, file_name_start(t, host_code_page()));
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = dir + prefix;
        for (int i = 0; i < 6; ++i) {
            unsigned int r = 0;
            if (rand_s(&r) != 0) {
                errno = EIO;
                return nullptr;
            }
            path += kLetters[r % (sizeof kLetters - 1)];
        }
        // Binary, or the C runtime would turn every 0x0A of the image into 0x0D 0x0A.
        const int fd =
            _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return nullptr;
        }
        std::FILE* fp = _fdopen(fd, "wb");
        if (fp == nullptr) {
            const int saved = errno;
            _close(fd);
            std::remove(path.c_str());
            errno = saved;
        }
        return fp;
    }
    errno = EEXIST;
    return nullptr;
}

void forget_temporary() {}

// Windows has no SIGPIPE, SIGHUP or SIGXFSZ, and its SIGINT handler runs on a thread of
// its own while the temporary is still open without delete sharing, so a removal there
// would fail. A Ctrl+C can leave a temporary; its name (".coff2efw-...") says whose it is.
void remove_temporary_on_signals() {}

bool replace_file(const std::string& from, const std::string& to) {
    // rename() of the C runtime refuses an existing target on Windows; MoveFileExA replaces
    // it in one step, and write-through has the new name on the disk before we report success.
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    errno = errno_from_windows(GetLastError());
    return false;
}

#else

bool fill_closed_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
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

namespace {

// A stream on `fd`, used without locking; when there is none, the descriptor is closed
// and errno kept.
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

} // namespace

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

namespace {

// The one temporary of the run, for the signal handler: a path prepared before the
// file exists, in storage that needs no allocation, and a flag set once it does exist.
// 4096 bytes hold any path that Linux (PATH_MAX) or macOS (1024) will open.
char g_TempPath[4096];
volatile std::sig_atomic_t g_TempExists = 0;

// Every signal whose default action ends the process and that comes from outside the
// program's own doing: a user (SIGINT, SIGQUIT), a session or a job control (SIGHUP,
// SIGTERM), timers and limits (SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ), another
// process (SIGUSR1, SIGUSR2, the real-time signals) or the system (SIGSYS from a filter,
// SIGPOLL, SIGPWR, SIGSTKFLT). Left out: SIGPIPE, which is ignored; SIGKILL and SIGSTOP,
// which cannot be caught; and the faults of the program itself (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGTRAP, SIGABRT), after which its memory, the temporary's name included, is not
// to be trusted, and which belong to the sanitizers and the debugger.
constexpr int kCleanupSignals[] = {
    SIGHUP,    SIGINT,    SIGQUIT, SIGTERM, SIGALRM, SIGUSR1,
    SIGUSR2,   SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

sigset_t cleanup_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kCleanupSignals)
        sigaddset(&set, sig);
#ifdef SIGRTMIN
    // Not constants: the C library keeps the lowest few for itself.
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&set, sig);
#endif
    return set;
}

extern "C" void remove_temporary_and_end(int sig) {
    if (g_TempExists != 0)
        unlink(g_TempPath);
    // SA_RESETHAND has put the default action back; the signal ends the process, with a
    // core file where its default action makes one, at the latest when this handler
    // returns.
    raise(sig);
}

// The mask cannot be read without setting it; the process is single-threaded, so no
// file is created while it is zero.
mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

std::FILE* create_temporary(const std::string& target, const char* prefix, std::string& path) {
    const char* t = target.c_str();
    path = std::string(t, file_name_start(t, kSingleByte)) + prefix + "XXXXXX";
    if (path.size() >= sizeof g_TempPath) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    // A signal between the creation and the flag would leave the file behind.
    const sigset_t block = cleanup_signals();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &block, &old);
    std::memcpy(g_TempPath, path.c_str(), path.size() + 1);
    const int fd = mkstemp(g_TempPath);
    const int saved = errno;
    if (fd >= 0)
        g_TempExists = 1;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd < 0) {
        errno = saved;
        return nullptr;
    }
    std::memcpy(path.data(), g_TempPath, path.size()); // the same length: no allocation
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    // mkstemp's 0600 would make the image private; it gets what a new file would get.
    // A file system without permissions refuses, and then the file keeps what it has.
    fchmod(fd, 0666 & ~current_umask());
    std::FILE* fp = stream_on(fd, "wb");
    if (fp == nullptr) {
        const int err = errno;
        unlink(path.c_str());
        forget_temporary();
        errno = err;
    }
    return fp;
}

void forget_temporary() {
    g_TempExists = 0;
}

void remove_temporary_on_signals() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = remove_temporary_and_end;
    action.sa_mask = cleanup_signals(); // one removal at a time
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    // Only a signal at its default action: one ignored at start stays ignored, and one a
    // runtime has taken (a sanitizer's, a profiler's) stays with it.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old = {};
        if (sigismember(&action.sa_mask, sig) == 1 && sigaction(sig, nullptr, &old) == 0 &&
            (old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_DFL)
            sigaction(sig, &action, nullptr);
    }
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

#endif

} // namespace platform
