// The commit steps both hosts take; each host creates its temporaries and handles signals
// in commit_posix.cpp or commit_windows.cpp.
#include "platform/commit.h"

#include "platform/commit_slots.h"

#include <cerrno>
#include <cstring>

namespace platform {

namespace commit_slots {

namespace {

char g_Paths[kMaxTemporaries][3][kPathRoom];

} // namespace

Slot g_Slots[kMaxTemporaries] = {
    {kFree, -1, g_Paths[0][0], g_Paths[0][1], g_Paths[0][2]},
    {kFree, -1, g_Paths[1][0], g_Paths[1][1], g_Paths[1][2]},
    {kFree, -1, g_Paths[2][0], g_Paths[2][1], g_Paths[2][2]},
    {kFree, -1, g_Paths[3][0], g_Paths[3][1], g_Paths[3][2]},
};
static_assert(kMaxTemporaries == 4, "one initialiser a slot");
volatile std::sig_atomic_t g_AllCommitted = 0;

bool copy_path(char* dest, const std::string& path) {
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

} // namespace commit_slots

using namespace commit_slots;

bool close_temporary(int slot, std::FILE* fp) {
    Slot& s = g_Slots[slot];
    if (s.state == kUnnamed) {
        const SignalsHeld held;
        if (std::fflush(fp) != 0 || !name_unnamed(s)) {
            const int err = errno;
            std::fclose(fp);
            s.state = kFree;
            errno = err;
            return false;
        }
        s.state = kTemporary;
    }
    return std::fclose(fp) == 0;
}

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
        if (s.state != kTemporary && s.state != kUnnamed)
            s.state = kFree;
    }
    const SignalsHeld held;
    g_AllCommitted = 0;
}

void discard_temporary(int slot) {
    if (slot < 0)
        return;
    Slot& s = g_Slots[slot];
    if (s.state == kFree || s.state == kUnnamed) {
        s.state = kFree; // nothing on the disk, so no signals to hold
        return;
    }
    const SignalsHeld held;
    if (s.state == kTemporary)
        remove_file(s.temp);
    if (s.state == kTemporary || s.state == kLinked || s.state == kMoved)
        s.state = kFree;
}

} // namespace platform
