// A file that replaces its target only when it is complete. It is written as a temporary
// beside the target and renamed over it by commit(); until then the target stays as it
// was, and a temporary that is never committed is removed, whatever ends its writing
// (a failure, or a termination signal once platform::remove_temporary_on_signals ran).
#pragma once

#include "base/input_file.h"

#include <cstdio>
#include <string>

class OutputFile {
  public:
    // Creates the temporary in the target's directory, under a short random name, so that
    // a target name as long as the system allows still has a temporary beside it and no
    // other user can take the name first. Throws Failure.
    explicit OutputFile(std::string target);
    ~OutputFile(); // closes and removes the temporary unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* stream() const { return fp_; }
    const std::string& target() const { return target_; }
    const std::string& temporary() const { return temp_; }

    // Flush, close and rename over the target, each checked. Throws Failure naming the
    // target; the temporary is then removed by the destructor.
    void commit();

  private:
    std::FILE* fp_ = nullptr;
    std::string target_;
    std::string temp_;
    bool committed_ = false;
};

// Throws Failure naming the target when a rename onto it would replace the file `in`
// reads, or the file at `path` (`what` names it in the message: "the configuration
// file"), when there is one. Links in the directories of a configured name can lead the
// output back to a file the run reads.
void refuse_to_replace(const OutputFile& out, const InputFile& in);
void refuse_to_replace(const OutputFile& out, const std::string& path, const char* what);
