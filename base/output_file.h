// Where the image goes. An image file replaces its target only when it is complete: it
// is written as a temporary beside the target and renamed over it by commit(); until
// then the target stays as it was, and a temporary that is never committed is removed,
// whatever ends its writing (a failure, or a termination signal once
// platform::remove_temporary_on_signals ran). A target that is no file of the disk (a
// device, a FIFO, a socket, or standard output for "-") cannot be replaced and cannot
// hold a temporary: it is opened as it is and written straight through.
#pragma once

#include "base/input_file.h"
#include "platform/files.h"

#include <cstdio>
#include <string>

// The target "-": the image goes to standard output.
inline constexpr const char* kStandardOutputName = "-";

class OutputFile {
  public:
    // Looks at the target and refuses at once, before anything is written, one that
    // cannot take an image: a directory, a dangling link, an existing image this user may
    // not write to (as cp does without -f). A link is followed: the file it finally names
    // is the one replaced, and the link stays. The temporary's name begins with
    // `temporary_prefix`, which says whose it is should a crash leave it. Throws Failure.
    OutputFile(std::string target, const char* temporary_prefix);
    ~OutputFile(); // closes, and removes the temporary unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens what the image is written to: the temporary, created in the directory of the
    // file it replaces under a short random name (so that a target name as long as the
    // system allows still has a temporary beside it and no other user can take the name
    // first), with the permission bits of an image it replaces; or the device or FIFO
    // itself (a FIFO waits for its reader); or standard output. Throws Failure.
    void open();

    std::FILE* stream() const { return fp_; }
    // The name messages give: the target as given, or "standard output".
    const std::string& target() const { return target_; }
    const std::string& temporary() const { return temp_; }
    // Whether the image replaces a file by a rename, so that a failure leaves the old one.
    bool replaces_a_file() const { return !direct_; }
    // What stands at the target now, links followed; kNew for nothing.
    const platform::OutputTarget& existing() const { return existing_; }

    // Flush and close, each checked, and for a file the rename over its target. Throws
    // Failure naming the target; a temporary is then removed by the destructor.
    void commit();

  private:
    std::FILE* fp_ = nullptr;
    std::string target_;
    std::string temp_;
    const char* prefix_;
    platform::OutputTarget existing_;
    bool to_stdout_ = false;
    bool direct_ = false; // written straight through: no temporary, no rename
    bool committed_ = false;
};

// Throws Failure naming the target when the image would go into the file `in` reads, or
// the file at `path` (`what` names it in the message: "the configuration file"), when
// there is one; the same file by device and index, whatever links or other names lead
// there. Called before the output is opened, so that nothing is written into it.
void refuse_to_replace(const OutputFile& out, const InputFile& in);
void refuse_to_replace(const OutputFile& out, const std::string& path, const char* what);
