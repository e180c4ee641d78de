// rand_s, the C runtime's cryptographic random numbers, is declared only on request, and
// before the first standard header.
#ifdef _WIN32
#define _CRT_RAND_S
#endif

#include "platform/commit.h"

#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

// The paths of every temporary, target and kept old file live here, in storage that
// needs no allocation, because the signal handler reads them. 4096 bytes hold any path
// that Linux (PATH_MAX) or macOS (1024) will open; a Windows path may be 32767 UTF-16
// units behind its \\?\ prefix, up to two bytes each in a double-byte code page.
#ifdef _WIN32
constexpr std::size_t kPathRoom = 65536;
#else
constexpr std::size_t kPathRoom = 4096;
#endif

// What stands on the disk for one output, so that a failure or a signal at any moment
// knows what to remove and what to put back.
enum SlotState : int {
    kFree,
    kTemporary, // the temporary exists, the target is untouched
    kLinked,    // the temporary exists, and the target also under `kept`
    kMoved,     // the temporary exists, and the target was moved to `kept`
    kReplaced,  // the temporary is the target now; the old file is under `kept`
    kCreated,   // the temporary is the target now, where there was no file
};

struct Slot {
    char temp[kPathRoom];
    char target[kPathRoom];
    char kept[kPathRoom];
    volatile std::sig_atomic_t state;
};

Slot g_Slots[kMaxTemporaries];
// Set once the last output is committed: from then on a signal keeps what was committed
// and only removes the old files kept for a restore.
volatile std::sig_atomic_t g_AllCommitted = 0;

bool copy_path(char (&dest)[kPathRoom], const std::string& path) {
    if (path.size() >= kPathRoom) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(dest, path.c_str(), path.size() + 1);
    return true;
}

int free_slot() {
    for (int i = 0; i < kMaxTemporaries; ++i) {
        if (g_Slots[i].state == kFree)
            return i;
    }
    return -1;
}

#ifdef _WIN32

// Windows has no SIGPIPE, SIGHUP or SIGXFSZ, and its SIGINT handler runs on a thread of
// its own while a temporary is still open without delete sharing, so a removal there
// would fail. A Ctrl+C can leave a temporary; its name (".coff2efw-...") says whose it is.
struct SignalsHeld {
    SignalsHeld() {} // a user-provided constructor: a guard that is used, if empty
};

#else

// Every signal whose default action ends the process and that comes from outside the
// program's own doing: a user (SIGINT, SIGQUIT), a session or a job control (SIGHUP,
// SIGTERM), timers and limits (SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ), another
// process (SIGUSR1, SIGUSR2, the real-time signals) or the system (SIGSYS from a filter,
// SIGPOLL, SIGPWR, SIGSTKFLT). Left out: SIGPIPE, which is ignored; SIGKILL and SIGSTOP,
// which cannot be caught; and the faults of the program itself (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL, SIGTRAP, SIGABRT), after which its memory, the temporaries' names included, is
// not to be trusted, and which belong to the sanitizers and the debugger.
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

// Each change on the disk and the state that records it happen with the signals held,
// so that the handler never sees one without the other.
struct SignalsHeld {
    sigset_t old;
    SignalsHeld() {
        static const sigset_t block = cleanup_signals();
        sigprocmask(SIG_BLOCK, &block, &old);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

extern "C" void clean_up_and_end(int sig) {
    const bool done = g_AllCommitted != 0;
    for (Slot& s : g_Slots) {
        switch (s.state) {
        case kTemporary:
            unlink(s.temp);
            break;
        case kLinked:
            unlink(s.temp);
            unlink(s.kept);
            break;
        case kMoved:
            unlink(s.temp);
            rename(s.kept, s.target);
            break;
        case kReplaced:
            if (done)
                unlink(s.kept);
            else
                rename(s.kept, s.target);
            break;
        case kCreated:
            if (!done)
                unlink(s.target);
            break;
        default:
            break;
        }
    }
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

#endif

} // namespace

#ifdef _WIN32

std::FILE* create_temporary(const std::string& target, const char* prefix, std::string& path,
                            [[maybe_unused]] const FileStatus* like, int& slot) {
    slot = -1;
    const int free = free_slot();
    if (free < 0) {
        errno = EMFILE;
        return nullptr;
    }
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
        std::wstring wide;
        if (!wide_path(path, wide) || !copy_path(g_Slots[free].temp, path))
            return nullptr;
        // The file's permissions come from its directory, as a new file's do; a handle
        // not inherited by child processes. Binary, or the C runtime would turn every
        // 0x0A of the image into 0x0D 0x0A.
        const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            errno = errno_from_windows(error);
            return nullptr;
        }
        g_Slots[free].state = kTemporary;
        std::FILE* fp = stream_on_handle(h, _O_WRONLY, "wb");
        if (fp == nullptr) {
            const int saved = errno;
            discard_temporary(free);
            errno = saved;
            return nullptr;
        }
        slot = free;
        SetLastError(ERROR_SUCCESS); // a failed write is then the one error left here
        return fp;
    }
    errno = EEXIST;
    return nullptr;
}

bool rename_would_succeed(const std::string&) {
    // A read-only attribute on the target is the caller's write protection; what else
    // stops MoveFileEx (a file open without delete sharing) is only known by trying.
    return true;
}

void clean_up_on_signals() {}

#else

std::FILE* create_temporary(const std::string& target, const char* prefix, std::string& path,
                            const FileStatus* like, int& slot) {
    slot = -1;
    const int free = free_slot();
    if (free < 0) {
        errno = EMFILE;
        return nullptr;
    }
    Slot& s = g_Slots[free];
    const char* t = target.c_str();
    path = std::string(t, file_name_start(t, kSingleByte)) + prefix + "XXXXXX";
    if (!copy_path(s.temp, path))
        return nullptr;
    int fd = -1;
    int saved = 0;
    {
        // A signal between the creation and the state would leave the file behind.
        const SignalsHeld held;
        fd = mkstemp(s.temp);
        saved = errno;
        if (fd >= 0)
            s.state = kTemporary;
    }
    if (fd < 0) {
        errno = saved;
        return nullptr;
    }
    std::memcpy(path.data(), s.temp, path.size()); // the same length: no allocation
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    // mkstemp's 0600 would make the image private; it gets what the image it replaces
    // had, or what a new file would get. A file system without permissions or owners
    // refuses, and then the file keeps what it has; so does an owner or group this user
    // may not give away (the group is tried alone then). The owner goes first, as a
    // change of owner may clear permission bits. Set-user-id and set-group-id bits are
    // not taken over: they belong to the old content, not to an image.
    if (like != nullptr) {
        if (fchown(fd, static_cast<uid_t>(like->owner), static_cast<gid_t>(like->group)) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(like->group));
        fchmod(fd, static_cast<mode_t>(like->mode & 01777));
    } else {
        fchmod(fd, 0666 & ~current_umask());
    }
    std::FILE* fp = stream_on(fd, "wb");
    if (fp == nullptr) {
        const int err = errno;
        discard_temporary(free);
        errno = err;
        return nullptr;
    }
    slot = free;
    return fp;
}

bool rename_would_succeed(const std::string& target) {
    const char* t = target.c_str();
    std::string dir(t, file_name_start(t, kSingleByte));
    if (dir.empty())
        dir = ".";
    struct stat d;
    if (stat(dir.c_str(), &d) != 0 ||
        faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    struct statvfs volume;
    if (statvfs(dir.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
        errno = EROFS;
        return false;
    }
    struct stat st;
    if (lstat(t, &st) != 0)
        return errno == ENOENT; // nothing there to replace
    // In a sticky directory (/tmp) only the file's owner, the directory's owner or root
    // may replace a file.
    const uid_t me = geteuid();
    if ((d.st_mode & S_ISVTX) != 0 && me != 0 && st.st_uid != me && d.st_uid != me) {
        errno = EPERM;
        return false;
    }
    // A file mounted over the target's name cannot be renamed over.
    bool mount_root = st.st_dev != d.st_dev;
#ifdef STATX_ATTR_MOUNT_ROOT
    struct statx x;
    if (statx(AT_FDCWD, t, AT_SYMLINK_NOFOLLOW, 0, &x) == 0 &&
        (x.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        mount_root = mount_root || (x.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    if (mount_root) {
        errno = EBUSY;
        return false;
    }
    return true;
}

void clean_up_on_signals() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action = {};
    action.sa_handler = clean_up_and_end;
    action.sa_mask = cleanup_signals(); // one clean-up at a time
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

#endif

bool commit_temporary(int slot, const std::string& target, bool keep_old) {
    Slot& s = g_Slots[slot];
    if (!copy_path(s.target, target))
        return false;
    FileStatus old;
    if (keep_old && path_status(target, old, false)) {
        // The old file stays reachable until every output is in place: under a second
        // name by a link where the file system has them, or moved there where it has not.
        if (std::strlen(s.temp) + 2 > kPathRoom) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(s.kept, s.temp, std::strlen(s.temp));
        std::memcpy(s.kept + std::strlen(s.temp), "~", 2);
        {
            const SignalsHeld held;
            if (link_file(target, s.kept)) {
                s.state = kLinked;
            } else if (errno != EEXIST && replace_file(target, s.kept)) {
                s.state = kMoved;
            } else {
                return false;
            }
        }
        const SignalsHeld held;
        if (!replace_file(s.temp, target)) {
            const int err = errno;
            if (s.state == kMoved)
                replace_file(s.kept, target);
            else
                remove_file(s.kept);
            s.state = kTemporary;
            errno = err;
            return false;
        }
        s.state = kReplaced;
        return true;
    }
    const SignalsHeld held;
    if (!replace_file(s.temp, target))
        return false;
    if (keep_old) {
        s.state = kCreated;
    } else {
        // The last output: the run's outputs are all in place.
        s.state = kFree;
        g_AllCommitted = 1;
    }
    return true;
}

void restore_committed(int slot) {
    Slot& s = g_Slots[slot];
    const SignalsHeld held;
    if (s.state == kReplaced)
        replace_file(s.kept, s.target);
    else if (s.state == kCreated)
        remove_file(s.target);
    s.state = kFree;
}

void release_committed() {
    {
        const SignalsHeld held;
        g_AllCommitted = 1;
    }
    for (Slot& s : g_Slots) {
        const SignalsHeld held;
        if (s.state == kReplaced)
            remove_file(s.kept);
        if (s.state != kTemporary)
            s.state = kFree;
    }
    const SignalsHeld held;
    g_AllCommitted = 0;
}

void discard_temporary(int slot) {
    if (slot < 0)
        return;
    Slot& s = g_Slots[slot];
    const SignalsHeld held;
    if (s.state == kTemporary)
        remove_file(s.temp);
    if (s.state == kTemporary || s.state == kLinked || s.state == kMoved)
        s.state = kFree;
}

} // namespace platform
