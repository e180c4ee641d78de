#include "base/output_file.h"

#include "base/failure.h"
#include "platform/files.h"

#include <cerrno>
#include <utility>

namespace {

// Hidden, and saying whose it is when a crash leaves one behind.
constexpr const char* kTemporaryPrefix = ".coff2efw-";

void refuse_to_replace(const OutputFile& out, const platform::FileStatus& kept, const char* what) {
    // The rename replaces the target's own directory entry, a link there included, so
    // the target is looked at without following one.
    platform::FileStatus target;
    if (platform::path_status(out.target(), target, false) && platform::same_file(target, kept))
        fail(out.target(), "the output is " + std::string(what) + " itself; nothing was replaced");
}

} // namespace

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {
    fp_ = platform::create_temporary(target_, kTemporaryPrefix, temp_);
    if (fp_ == nullptr) {
        const int err = errno;
        temp_.clear(); // nothing of ours to remove
        fail(target_, "cannot create a temporary file beside it: " + platform::error_text(err));
    }
}

OutputFile::~OutputFile() {
    if (fp_ != nullptr)
        std::fclose(fp_);
    if (!committed_ && !temp_.empty())
        std::remove(temp_.c_str());
    platform::forget_temporary();
}

void OutputFile::commit() {
    if (std::fflush(fp_) != 0)
        fail(target_, "cannot write the image: " + platform::error_text(errno));
    std::FILE* fp = std::exchange(fp_, nullptr);
    if (std::fclose(fp) != 0)
        fail(target_, "cannot close the image: " + platform::error_text(errno));
    if (!platform::replace_file(temp_, target_))
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
