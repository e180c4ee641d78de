#include "image/efw_sink.h"

#include "base/failure.h"
#include "base/input_file.h"
#include "platform/files.h"

void StreamSink::put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) {
    if (std::fwrite(bytes, 1, len, fp_) != len) {
        fail(path_, "cannot write at image offset " + hex(where.offset) + ": " +
                        platform::last_error_text());
    }
}

bool StreamSink::put_from_file(const ImagePiece& where, InputFile& in, std::uint64_t from,
                               std::uint64_t len, const char* what) {
    using platform::KernelCopy;
    std::uint64_t copied = 0;
    const KernelCopy result = platform::copy_in_kernel(in.fp, from, fp_, len, copied);
    switch (result) {
    case KernelCopy::kDone:
        return true;
    case KernelCopy::kUnavailable:
        return false;
    case KernelCopy::kWriteFailed:
        fail(path_, "cannot write at image offset " + hex(where.offset + copied) + ": " +
                        platform::last_error_text());
    case KernelCopy::kInputEnded:
    case KernelCopy::kReadFailed:
        break;
    }
    // An input that ends early was cut while the run read it.
    fail(in.path,
         "cannot read " + std::string(what) + " at offset " + hex(from + copied) + ": " +
             (result == KernelCopy::kReadFailed ? platform::error_text(errno) : "unexpected end"),
         FailureKind::Trouble);
}
