// A file's bytes copied to an output inside the kernel. Linux moves them from the page
// cache into a pipe without a copy (splice takes references to the pages) and copies
// them once from there, at any offset; copy_file_range and sendfile copy only as fast
// when input and output share their offset within a page, which load records never do.
#include "platform/files.h"

#include <cerrno>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef __linux__

namespace {

// The pipe lives as long as the run: one pipe, and its setting, for every record.
int g_Pipe[2] = {-1, -1};
std::size_t g_PipeBytes = 0;
bool g_NoSplice = false;   // the host or the input cannot take part
int g_RefusingOutput = -1; // the output that cannot, such as a terminal on older kernels

// A larger pipe moves more per call; where this user may not have one, the default does.
constexpr int kPipeBytes = 1 << 20;
constexpr std::size_t kDefaultPipeBytes = 1 << 16;

// What a failed write left in the pipe must not reach the next output.
void empty_pipe(std::size_t left) {
    char chunk[4096];
    while (left > 0) {
        const ssize_t n = read(g_Pipe[0], chunk, left < sizeof chunk ? left : sizeof chunk);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
            left -= static_cast<std::size_t>(n);
    }
}

bool open_pipe() {
    if (g_Pipe[0] >= 0)
        return true;
    if (pipe2(g_Pipe, O_CLOEXEC) != 0)
        return false;
    const int size = fcntl(g_Pipe[1], F_SETPIPE_SZ, kPipeBytes);
    g_PipeBytes = size > 0 ? static_cast<std::size_t>(size) : kDefaultPipeBytes;
    return true;
}

} // namespace

KernelCopy copy_in_kernel(std::FILE* in, std::uint64_t from, std::FILE* out, std::uint64_t len,
                          std::uint64_t& copied) {
    copied = 0;
    const int out_fd = fileno(out);
    if (g_NoSplice || out_fd == g_RefusingOutput)
        return KernelCopy::kUnavailable;
    if (!open_pipe()) {
        g_NoSplice = true;
        return KernelCopy::kUnavailable;
    }
    if (std::fflush(out) != 0)
        return KernelCopy::kWriteFailed;
    loff_t at = static_cast<loff_t>(from);
    while (copied < len) {
        const std::uint64_t rest = len - copied;
        const ssize_t got = splice(fileno(in), &at, g_Pipe[1], nullptr,
                                   rest < g_PipeBytes ? rest : g_PipeBytes, SPLICE_F_MOVE);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && copied == 0 && (errno == EINVAL || errno == ENOSYS)) {
            g_NoSplice = true;
            return KernelCopy::kUnavailable;
        }
        if (got < 0)
            return KernelCopy::kReadFailed;
        if (got == 0)
            return KernelCopy::kInputEnded;
        auto left = static_cast<std::size_t>(got);
        while (left > 0) {
            const ssize_t put = splice(g_Pipe[0], nullptr, out_fd, nullptr, left, SPLICE_F_MOVE);
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0) {
                const int error = errno;
                empty_pipe(left);
                if (copied == 0 && error == EINVAL) {
                    g_RefusingOutput = out_fd;
                    return KernelCopy::kUnavailable;
                }
                errno = error;
                return KernelCopy::kWriteFailed;
            }
            left -= static_cast<std::size_t>(put);
            copied += static_cast<std::uint64_t>(put);
        }
    }
    return KernelCopy::kDone;
}

#else

KernelCopy copy_in_kernel(std::FILE*, std::uint64_t, std::FILE*, std::uint64_t,
                          std::uint64_t& copied) {
    copied = 0;
    return KernelCopy::kUnavailable;
}

#endif

} // namespace platform
