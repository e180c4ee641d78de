// Where a run's outputs go. Every output of a run (the image, the map, the report) is
// decided before anything is created, written to a temporary beside its target, and
// renamed over it only when all of them are complete: a failed run leaves every named
// file as it was and no temporary behind, whatever ends it (a failure, or a termination
// signal once platform::clean_up_on_signals ran; where the host has unnamed files, also
// SIGKILL or a crash before the commit). A target that is no file of the disk
// (a device, a FIFO, a socket, or standard output under any name) cannot be replaced and
// cannot hold a temporary: it is opened as it is and written straight through.
#pragma once

#include "platform/commit.h"
#include "platform/files.h"

#include <cstdio>
#include <string>

// The target "-": the image goes to standard output.
inline constexpr const char* kStandardOutputName = "-";

class OutputFile {
  public:
    // Looks at the target and refuses at once, before anything is written, one that
    // cannot take this output: a directory, a dangling link, an existing file this user
    // may not write to (as cp does without -f), standard output when it was closed or
    // when `may_be_standard_output` is false. A link is followed: the file it finally
    // names is the one replaced, and the link stays. `what` names the output in messages
    // ("the image"). The temporary's name begins with `temporary_prefix`, which says whose
    // it is should a crash leave it. Throws Failure.
    OutputFile(std::string target, const char* temporary_prefix, const char* what,
               bool may_be_standard_output);
    ~OutputFile(); // closes, and removes the temporary unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens what the output is written to: the temporary, created in the directory of the
    // file it replaces under a short random name (so that a target name as long as the
    // system allows still has a temporary beside it and no other user can take the name
    // first), with the permission bits of a file it replaces; or the device or FIFO
    // itself (a FIFO waits for its reader); or standard output. Throws Failure.
    void open();

    std::FILE* stream() const { return fp_; }
    // The name messages give: the target as given, or "standard output".
    const std::string& target() const { return target_; }
    const char* what() const { return what_; }
    bool to_standard_output() const { return to_stdout_; }
    // What stands at the target now, links followed; kNew for nothing.
    const platform::OutputTarget& existing() const { return existing_; }

    // Throws Failure naming the target when the output would go into the file whose
    // status is `kept` (`whose` names it: "the input", "the configuration file"); the
    // same file by device and index, whatever links or other names lead there.
    void refuse_to_replace(const platform::FileStatus& kept, const char* whose) const;

  private:
    friend class OutputSet;
    void flush();              // checked
    void close();              // checked; the temporary gets its name
    void discard();            // closes, and removes the temporary unless committed
    void check_commit() const; // what would stop the rename, looked at before any rename

    std::FILE* fp_ = nullptr;
    std::string target_;
    const char* prefix_;
    const char* what_;
    platform::OutputTarget existing_;
    int slot_ = -1;
    bool to_stdout_ = false;
    bool direct_ = false; // written straight through: no temporary, no rename
};

// The outputs of one run, committed together or not at all.
class OutputSet {
  public:
    // Adds `file`, refusing one that leads where an output added before does. Throws
    // Failure naming the later output.
    void add(OutputFile& file);

    // Refuses any output that is the input or the profile: `status` is that file's.
    void refuse_to_replace(const platform::FileStatus& status, const char* whose) const;

    // Flushes and closes every output, then looks at everything that could stop a rename
    // (a target made write-protected meanwhile, a directory that will not take the new
    // name, a target that is a mount point), and only then renames each temporary over
    // its target, the first output last. A rename that still fails puts back the outputs
    // already renamed. Throws Failure naming the output at fault; every temporary is
    // then removed by its OutputFile.
    void commit();

  private:
    void rename_all();

    OutputFile* files_[platform::kMaxTemporaries] = {};
    unsigned count_ = 0;
};
