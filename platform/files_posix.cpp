// The host layer's file calls on POSIX hosts; files.cpp holds the rules both hosts share.
#ifndef _WIN32

#include "platform/files.h"

#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

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

bool same_name(const std::string& a, const std::string& b) {
    return a == b;
}

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

} // namespace platform

#endif
