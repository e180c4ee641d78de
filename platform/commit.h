// The temporaries of a run and their commit as one step: every output is written to a
// temporary beside its target, and the temporaries are renamed over their targets only
// when all of them are complete. A commit that fails after another has succeeded puts
// the earlier target back as it was, and a termination signal at any moment removes
// every temporary and puts back whatever was already replaced.
#pragma once

#include "platform/files.h"

#include <cstdio>
#include <string>

namespace platform {

// Holds every signal the clean-up handles while it lives, so that a run's commit, from
// the first name a temporary gets to the last rename, ends all done or not begun. Nests.
// Nothing on Windows.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Outputs one run may hold at once: the image, the map and the report, with room to
// spare.
inline constexpr int kMaxTemporaries = 4;

// Creates a temporary in the directory of `target` and opens it for binary writing; the
// stream is not inherited by child processes. Where the host and the file system allow,
// it has no name until close_temporary, so that nothing is left on the disk should the
// run end at any moment before; otherwise it gets a new, short, random name that begins
// with `prefix` at once, and the signal clean-up is set up then. The file has the permission bits,
// and where the host allows the owner and group, of `like` (the file it is to replace), or without
// one the permissions a new file gets (0666 less the umask on POSIX hosts). `path` receives the
// name it has or will have, and `slot` its place among the run's temporaries, which the signal path
// reads. Null with errno set otherwise (EMFILE when every slot is taken).
std::FILE* create_temporary(const std::string& target, const char* prefix, std::string& path,
                            const FileStatus* like, int& slot);

// Closes `fp`, the stream of the temporary of `slot`, giving the temporary its name first
// when it has none. Call with the signals held. False with errno set; a temporary that
// could not be named is gone.
bool close_temporary(int slot, std::FILE* fp);

// Whether renaming a temporary over `target` will succeed, as far as can be told
// without trying: the directory takes new names (it is writable, searchable and not on a
// read-only file system), a sticky directory lets this user replace the file there, and
// the target is no mount point. False with errno set to what the rename would say.
bool rename_would_succeed(const std::string& target);

// Renames the temporary of `slot` over `target`. With `keep_old`, the file it replaces
// stays under a second temporary name, and a target that did not exist is remembered as
// new, so that restore_committed can undo the commit. False with errno set, the target
// untouched.
bool commit_temporary(int slot, const std::string& target, bool keep_old);

// Undoes a commit made with `keep_old`: the old file goes back to its name, or a file
// that was new is removed.
void restore_committed(int slot);

// Every output of the run is committed: the old files kept for restore_committed are
// removed and every slot is free again. A signal from here on leaves the outputs in place.
void release_committed();

// Removes the temporary of `slot`, which was not committed, and frees the slot.
void discard_temporary(int slot);

// Ignores SIGPIPE, so that a listing nobody reads is a failed write rather than the end of
// the run. From the first temporary that has a name, every other signal whose default
// action ends the process and that does not report a fault of the program itself
// (SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGXFSZ, ... : see
// commit_posix.cpp) removes the run's temporaries and puts back what a partial commit
// replaced before it ends the process as it would have; a run whose temporaries have no
// name needs no handler until its commit, which holds the signals. A signal ignored
// at start stays ignored (nohup, or a parent that wants EFBIG instead of SIGXFSZ).
// Nothing on Windows (see commit_windows.cpp).
void clean_up_on_signals();

} // namespace platform
