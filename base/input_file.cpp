#include "base/input_file.h"

#include "base/failure.h"
#include "platform/files.h"

#include <cerrno>
#include <utility>

namespace {

// Gaps up to this size between two reads are read through rather than sought over.
constexpr std::size_t kReadThrough = 512;

} // namespace

InputFile::InputFile(InputFile&& other) noexcept
    : fp(std::exchange(other.fp, nullptr)), size(other.size), pos(other.pos),
      path(std::move(other.path)) {}

InputFile::~InputFile() {
    if (fp != nullptr)
        std::fclose(fp);
}

InputFile open_input(const std::string& path) {
    InputFile in;
    in.path = path;
    // Only a regular file has a size to check reads against, and anything else (a FIFO, a
    // terminal, a device) could block the run or never end.
    platform::FileStatus status;
    in.fp = platform::open_regular_input(path, status);
    const int error = errno;
    if (in.fp == nullptr && error == 0)
        fail(path, "cannot read: not a regular file", FailureKind::Trouble);
    if (in.fp == nullptr)
        fail(path,
             (error == EISDIR ? "cannot read: " : "cannot open: ") + platform::error_text(error),
             FailureKind::Trouble);
    in.size = status.size;
    return in;
}

void read_input(InputFile& in, void* dest, std::size_t len, const char* what) {
    if (!in_file(in, in.pos, len)) {
        fail(in.path, "truncated " + std::string(what) + " at offset " + hex(in.pos) + ": needs " +
                          std::to_string(len) + " bytes, the file ends at " + hex(in.size));
    }
    if (std::fread(dest, 1, len, in.fp) != len) {
        const int err = errno;
        const bool io_error = std::ferror(in.fp) != 0;
        std::clearerr(in.fp);
        const std::uint64_t at = in.pos;
        in.pos = kUnknownPosition; // the next seek really seeks
        fail(in.path,
             "cannot read " + std::string(what) + " at offset " + hex(at) + ": " +
                 (io_error ? platform::error_text(err) : "unexpected end"),
             FailureKind::Trouble);
    }
    in.pos += len;
}

void seek_input(InputFile& in, std::uint64_t offset) {
    if (offset == in.pos)
        return;
    if (in.pos != kUnknownPosition && offset > in.pos && offset - in.pos <= kReadThrough) {
        unsigned char skip[kReadThrough];
        const auto gap = static_cast<std::size_t>(offset - in.pos);
        if (std::fread(skip, 1, gap, in.fp) == gap) {
            in.pos = offset;
            return;
        }
        std::clearerr(in.fp);
    }
    if (!platform::seek_absolute(in.fp, offset))
        fail(in.path, "cannot seek to offset " + hex(offset) + ": " + platform::error_text(errno),
             FailureKind::Trouble);
    in.pos = offset;
}

void read_input_at(InputFile& in, std::uint64_t offset, void* dest, std::size_t len,
                   const char* what) {
    seek_input(in, offset);
    read_input(in, dest, len, what);
}
