#include "base/output_file.h"

#include "base/failure.h"

#include <cerrno>
#include <utility>

namespace {

[[noreturn]] void fail_to_look(const std::string& target, int err) {
    if (err == ENAMETOOLONG) {
        fail(target, "the path is " + std::to_string(target.size()) +
                         " bytes long, more than the system takes for a file (or one of its "
                         "names is); nothing was written");
    }
    fail(target, "cannot write there: " + platform::error_text(err));
}

// Whether an existing target is standard output's own file, under a name such as
// /dev/stdout or /proc/self/fd/1, or a path that the shell redirected it to.
bool is_standard_output(const platform::OutputTarget& target) {
    using platform::OutputKind;
    if (target.kind != OutputKind::kStream && target.kind != OutputKind::kRegular)
        return false;
    platform::OutputTarget stdout_target;
    stdout_target.kind = target.kind;
    return platform::file_status(stdout, stdout_target.status) &&
           platform::same_destination(stdout_target, target);
}

} // namespace

OutputFile::OutputFile(std::string target, const char* temporary_prefix, const char* what,
                       bool may_be_standard_output)
    : target_(std::move(target)), prefix_(temporary_prefix), what_(what) {
    using platform::OutputKind;
    if (target_ == kStandardOutputName) {
        to_stdout_ = true;
        existing_.kind = OutputKind::kStream;
        if (!platform::file_status(stdout, existing_.status))
            existing_.kind = OutputKind::kNew; // nothing to compare with
    } else {
        if (!platform::examine_output(target_, existing_))
            fail_to_look(target_, errno);
        to_stdout_ = is_standard_output(existing_);
    }
    if (to_stdout_) {
        if (!may_be_standard_output) {
            fail(target_, std::string(what_) +
                              " needs a file; standard output takes the image or the listing");
        }
        if (target_ == kStandardOutputName)
            target_ = "standard output";
        if (platform::standard_output_was_closed())
            fail(target_,
                 "cannot write " + std::string(what_) + ": " + platform::error_text(EBADF));
        direct_ = true;
        return;
    }
    switch (existing_.kind) {
    case OutputKind::kDirectory:
        fail(target_, "cannot replace it: " + platform::error_text(EISDIR));
    case OutputKind::kDanglingLink:
        if (existing_.file == target_) // the host did not say what it names
            fail(target_, "the output is a link to a file that does not exist; nothing was "
                          "written");
        fail(target_, "the output is a link to '" + existing_.file +
                          "', which does not exist; nothing was written");
    case OutputKind::kStream:
        direct_ = true;
        break;
    case OutputKind::kRegular:
        if (existing_.write_protected)
            fail(target_, std::string(what_) + " is write-protected; nothing was replaced");
        break;
    case OutputKind::kNew:
        break;
    }
}

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() {
    if (fp_ != nullptr && !to_stdout_)
        std::fclose(std::exchange(fp_, nullptr));
    platform::discard_temporary(std::exchange(slot_, -1));
}

void OutputFile::open() {
    if (to_stdout_) {
        platform::use_binary_mode(stdout);
        fp_ = stdout;
        return;
    }
    if (direct_) {
        fp_ = platform::open_stream_output(existing_.file);
        if (fp_ == nullptr && errno == 0)
            fail(target_, "cannot open: it became a file of the disk while being looked at");
        if (fp_ == nullptr)
            fail(target_, "cannot open: " + platform::last_error_text());
        return;
    }
    const bool replacing = existing_.kind == platform::OutputKind::kRegular;
    std::string temporary;
    fp_ = platform::create_temporary(existing_.file, prefix_, temporary,
                                     replacing ? &existing_.status : nullptr, slot_);
    if (fp_ == nullptr) {
        const int err = errno;
        if (err == ENAMETOOLONG)
            fail_to_look(target_, err);
        fail(target_, "cannot create a temporary file beside it: " + platform::error_text(err));
    }
}

void OutputFile::refuse_to_replace(const platform::FileStatus& kept, const char* whose) const {
    if (existing_.kind != platform::OutputKind::kNew && platform::same_file(existing_.status, kept))
        fail(target_, "the output is " + std::string(whose) + " itself; nothing was replaced");
}

void OutputFile::flush() {
    if (std::fflush(fp_) != 0 || std::ferror(fp_) != 0)
        fail(target_, "cannot write " + std::string(what_) + ": " + platform::last_error_text());
}

void OutputFile::close() {
    if (to_stdout_)
        return; // closed with the program's other output, and checked there
    std::FILE* fp = std::exchange(fp_, nullptr);
    const bool closed = direct_ ? std::fclose(fp) == 0 : platform::close_temporary(slot_, fp);
    if (!closed)
        fail(target_, "cannot close " + std::string(what_) + ": " + platform::last_error_text());
}

void OutputFile::check_commit() const {
    if (direct_)
        return;
    platform::OutputTarget now;
    if (existing_.kind == platform::OutputKind::kRegular &&
        platform::examine_output(existing_.file, now) && now.write_protected)
        fail(target_, std::string(what_) + " is write-protected; nothing was replaced");
    if (!platform::rename_would_succeed(existing_.file))
        fail(target_, "cannot replace it: " + platform::error_text(errno));
}

void OutputSet::add(OutputFile& file) {
    for (unsigned i = 0; i < count_; ++i) {
        const OutputFile& earlier = *files_[i];
        if (platform::same_destination(earlier.existing(), file.existing()))
            fail(file.target(), std::string(file.what()) + " would replace " + earlier.what() +
                                    "; nothing was written");
    }
    if (count_ == platform::kMaxTemporaries)
        fail(file.target(), "too many outputs for one run");
    files_[count_++] = &file;
}

void OutputSet::refuse_to_replace(const platform::FileStatus& status, const char* whose) const {
    for (unsigned i = 0; i < count_; ++i)
        files_[i]->refuse_to_replace(status, whose);
}

void OutputSet::commit() {
    for (unsigned i = 0; i < count_; ++i)
        files_[i]->flush();
    // From the first name a temporary gets to the last rename, a termination signal
    // waits: the run then ends with every output old or every output new, and nothing
    // else on the disk.
    const platform::SignalsHeld held;
    try {
        rename_all();
    } catch (...) {
        for (unsigned i = 0; i < count_; ++i)
            files_[i]->discard();
        throw;
    }
}

void OutputSet::rename_all() {
    for (unsigned i = 0; i < count_; ++i)
        files_[i]->close();
    for (unsigned i = 0; i < count_; ++i)
        files_[i]->check_commit();
    // The first output, the image, goes in last: should the run be cut between two
    // renames, the image is the older file, and a build that compares times makes it
    // again.
    int last = -1;
    for (unsigned i = 0; i < count_; ++i) {
        if (!files_[i]->direct_) {
            last = static_cast<int>(i);
            break;
        }
    }
    int committed[platform::kMaxTemporaries];
    unsigned done = 0;
    for (int i = static_cast<int>(count_) - 1; i >= 0; --i) {
        OutputFile& f = *files_[i];
        if (f.direct_)
            continue;
        if (!platform::commit_temporary(f.slot_, f.existing_.file, i != last)) {
            const int err = errno;
            while (done > 0)
                platform::restore_committed(committed[--done]);
            fail(f.target(), "cannot replace it: " + platform::error_text(err));
        }
        committed[done++] = f.slot_;
    }
    platform::release_committed();
}
