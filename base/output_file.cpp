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

void refuse_to_replace(const OutputFile& out, const platform::FileStatus& kept, const char* what) {
    const platform::OutputTarget& target = out.existing();
    if (target.kind != platform::OutputKind::kNew && platform::same_file(target.status, kept))
        fail(out.target(), "the output is " + std::string(what) + " itself; nothing was replaced");
}

} // namespace

OutputFile::OutputFile(std::string target, const char* temporary_prefix)
    : target_(std::move(target)), prefix_(temporary_prefix) {
    using platform::OutputKind;
    if (target_ == kStandardOutputName) {
        target_ = "standard output";
        to_stdout_ = true;
        direct_ = true;
        existing_.kind = OutputKind::kStream;
        if (!platform::file_status(stdout, existing_.status))
            existing_.kind = OutputKind::kNew; // nothing to compare with
        return;
    }
    if (!platform::examine_output(target_, existing_))
        fail_to_look(target_, errno);
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
            fail(target_, "the image is write-protected; nothing was replaced");
        break;
    case OutputKind::kNew:
        break;
    }
}

OutputFile::~OutputFile() {
    if (fp_ != nullptr && !to_stdout_)
        std::fclose(fp_);
    if (!committed_ && !temp_.empty())
        platform::remove_file(temp_);
    platform::forget_temporary();
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
    fp_ = platform::create_temporary(existing_.file, prefix_, temp_,
                                     replacing ? &existing_.status : nullptr);
    if (fp_ == nullptr) {
        const int err = errno;
        temp_.clear(); // nothing of ours to remove
        if (err == ENAMETOOLONG)
            fail_to_look(target_, err);
        fail(target_, "cannot create a temporary file beside it: " + platform::error_text(err));
    }
}

void OutputFile::commit() {
    if (std::fflush(fp_) != 0 || std::ferror(fp_) != 0)
        fail(target_, "cannot write the image: " + platform::last_error_text());
    if (to_stdout_) {
        committed_ = true;
        return;
    }
    std::FILE* fp = std::exchange(fp_, nullptr);
    if (std::fclose(fp) != 0)
        fail(target_, "cannot close the image: " + platform::last_error_text());
    if (!direct_ && !platform::replace_file(temp_, existing_.file))
        fail(target_, "cannot replace it: " + platform::error_text(errno));
    committed_ = true;
    platform::forget_temporary();
}

void refuse_to_replace(const OutputFile& out, const InputFile& in) {
    platform::FileStatus input;
    if (platform::file_status(in.fp, input))
        refuse_to_replace(out, input, "the input");
}

void refuse_to_replace(const OutputFile& out, const std::string& path, const char* what) {
    platform::FileStatus other;
    if (platform::path_status(path, other, true))
        refuse_to_replace(out, other, what);
}
