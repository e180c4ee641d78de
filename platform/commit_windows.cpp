// Temporaries on Windows. Windows has no SIGPIPE, SIGHUP or SIGXFSZ, and its SIGINT
// handler runs on a thread of its own while a temporary is still open without delete
// sharing, so a removal there would fail. A Ctrl+C can leave a temporary; its name
// (".coff2efw-...") says whose it is.
#ifdef _WIN32

// rand_s, the C runtime's cryptographic random numbers, is declared only on request, and
// before the first standard header.
#define _CRT_RAND_S

#include "platform/commit.h"

#include "platform/commit_slots.h"
#include "platform/host_files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace platform {

using namespace commit_slots;

SignalsHeld::SignalsHeld() {}
SignalsHeld::~SignalsHeld() {}

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

bool commit_slots::name_unnamed(Slot&) {
    errno = ENOSYS; // every temporary here is named at creation
    return false;
}

void clean_up_on_signals() {}

} // namespace platform

#endif
