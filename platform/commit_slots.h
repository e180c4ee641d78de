// The table of a run's temporaries, which the commit steps both hosts take (commit.cpp)
// and each host's creation of temporaries and signal handling share.
#pragma once

#include "platform/commit.h"

#include <csignal>
#include <cstddef>
#include <string>

namespace platform::commit_slots {

// The paths of every temporary, target and kept old file live here, in storage that
// needs no allocation, because the signal handler reads them. 4096 bytes hold any path
// that Linux (PATH_MAX) or macOS (1024) will open; a Windows path may be 32767 UTF-16
// units behind its \\?\ prefix, up to two bytes each in a double-byte code page.
#ifdef _WIN32
inline constexpr std::size_t kPathRoom = 65536;
#else
inline constexpr std::size_t kPathRoom = 4096;
#endif

// What stands on the disk for one output, so that a failure or a signal at any moment
// knows what to remove and what to put back.
enum SlotState : int {
    kFree,
    kUnnamed,   // the temporary has no name yet: nothing on the disk to clean up
    kTemporary, // the temporary exists under `temp`, the target is untouched
    kLinked,    // the temporary exists, and the target also under `kept`
    kMoved,     // the temporary exists, and the target was moved to `kept`
    kReplaced,  // the temporary is the target now; the old file is under `kept`
    kCreated,   // the temporary is the target now, where there was no file
};

// The paths are kPathRoom bytes each, elsewhere: the states of all slots, which every
// run reads, then share one page, and a run touches only the path pages it writes.
struct Slot {
    volatile std::sig_atomic_t state;
    int fd;     // kUnnamed: its descriptor, owned by its stream
    char* temp; // kUnnamed: the name it will get, ending in six X
    char* target;
    char* kept;
};

extern Slot g_Slots[kMaxTemporaries];
// Set once the last output is committed: from then on a signal keeps what was committed
// and only removes the old files kept for a restore.
extern volatile std::sig_atomic_t g_AllCommitted;

bool copy_path(char* dest, const std::string& path);
int free_slot();

// Gives the unnamed temporary of `s` a new name from `s.temp`, its X replaced. False with
// errno set. Only POSIX hosts have unnamed temporaries.
bool name_unnamed(Slot& s);

} // namespace platform::commit_slots
