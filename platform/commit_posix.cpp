// Temporaries and the signal clean-up on POSIX hosts.
#ifndef _WIN32

#include "platform/commit.h"

#include "platform/commit_slots.h"
#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

using namespace commit_slots;

namespace {

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

int g_HeldDepth = 0;
sigset_t g_MaskBeforeHeld;
bool g_CleanupWanted = false;
bool g_HandlersSet = false;

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
        default: // an unnamed temporary goes with the process
            break;
        }
    }
    // SA_RESETHAND has put the default action back; the signal ends the process, with a
    // core file where its default action makes one, at the latest when this handler
    // returns.
    raise(sig);
}

// Some 90 system calls, so made only once a run has a named file to clean up.
void set_handlers() {
    if (!g_CleanupWanted || g_HandlersSet)
        return;
    g_HandlersSet = true;
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

// The mask cannot be read without setting it; the process is single-threaded, so no
// file is created while it is zero.
mode_t current_umask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Gives the new file on `fd` what the image it replaces had, or what a new file would
// get. A file system without permissions or owners refuses, and then the file keeps what
// it has; so does an owner or group this user may not give away (the group is tried
// alone then). The owner goes first, as a change of owner may clear permission bits.
// Set-user-id and set-group-id bits are not taken over: they belong to the old content,
// not to an image.
void take_permissions(int fd, const FileStatus* like, bool masked_at_creation) {
    if (like != nullptr) {
        if (fchown(fd, static_cast<uid_t>(like->owner), static_cast<gid_t>(like->group)) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), static_cast<gid_t>(like->group));
        fchmod(fd, static_cast<mode_t>(like->mode & 01777));
    } else if (!masked_at_creation) {
        fchmod(fd, 0666 & ~current_umask());
    }
}

// An unnamed file is linked in through /proc, which a container or a chroot may lack.
bool can_name_unnamed_files() {
    static const bool can = access("/proc/self/fd", X_OK) == 0;
    return can;
}

} // namespace

SignalsHeld::SignalsHeld() {
    if (g_HeldDepth++ == 0) {
        static const sigset_t block = cleanup_signals();
        sigprocmask(SIG_BLOCK, &block, &g_MaskBeforeHeld);
    }
}

SignalsHeld::~SignalsHeld() {
    if (--g_HeldDepth == 0)
        sigprocmask(SIG_SETMASK, &g_MaskBeforeHeld, nullptr);
}

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
    const std::string dir(t, file_name_start(t, kSingleByte));
    path = dir + prefix + "XXXXXX";
    if (!copy_path(s.temp, path))
        return nullptr;
    int fd = -1;
#ifdef O_TMPFILE
    if (can_name_unnamed_files()) {
        fd = open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  like != nullptr ? 0600 : 0666);
        if (fd >= 0) {
            s.fd = fd;
            s.state = kUnnamed;
            take_permissions(fd, like, true);
        }
    }
#endif
    if (fd < 0) {
        // No unnamed files here (an older kernel or file system, no /proc): a name now,
        // and the handlers that remove it should a signal end the run.
        set_handlers();
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
        take_permissions(fd, like, false); // mkstemp's 0600 would make the image private
    }
    std::FILE* fp = stream_on(fd, "wb");
    if (fp == nullptr) {
        const int err = errno;
        if (s.state == kUnnamed)
            close(fd);
        discard_temporary(free);
        errno = err;
        return nullptr;
    }
    slot = free;
    return fp;
}

bool commit_slots::name_unnamed(Slot& s) {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const std::size_t end = std::strlen(s.temp);
    char fd_path[32];
    std::snprintf(fd_path, sizeof fd_path, "/proc/self/fd/%d", s.fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[6];
        if (getentropy(random, sizeof random) != 0)
            return false;
        for (std::size_t i = 0; i < sizeof random; ++i)
            s.temp[end - sizeof random + i] = kLetters[random[i] % (sizeof kLetters - 1)];
        if (linkat(AT_FDCWD, fd_path, AT_FDCWD, s.temp, AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool rename_would_succeed(const std::string& target) {
    const char* t = target.c_str();
    const std::string named(t, file_name_start(t, kSingleByte));
    const char* dir = named.empty() ? "." : named.c_str();
    struct stat d;
    if (stat(dir, &d) != 0 || faccessat(AT_FDCWD, dir, W_OK | X_OK, AT_EACCESS) != 0)
        return false;
    struct statvfs volume;
    if (statvfs(dir, &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0) {
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
    g_CleanupWanted = true;
}

} // namespace platform

#endif
