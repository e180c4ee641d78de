#include "image/text_sink.h"

#include "base/failure.h"
#include "platform/files.h"

#include <cerrno>

namespace {

constexpr std::uint64_t kAddressLimit = std::uint64_t{1} << 32;

// An Intel HEX data record addresses 64 KiB from its extended linear address; a line
// that ran past that boundary would wrap in the reader.
constexpr std::uint64_t kSegmentSize = std::uint64_t{1} << 16;

} // namespace

void TextImageSink::begin(std::uint64_t size) {
    const std::uint64_t base = options_.base;
    if (base + size > kAddressLimit) {
        fail(path_, "image offset " + hex(kAddressLimit - base) +
                        " lies past the 32-bit address range from base " + hex(base));
    }
}

void TextImageSink::put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) {
    if (len == 0)
        return;
    const std::uint64_t base = options_.base;
    if (line_len_ > 0 && line_offset_ + line_len_ != where.offset)
        flush_line(); // pieces come without gaps; should one not, no line spans it
    std::uint64_t off = where.offset;
    for (std::size_t k = 0; k < len; ++k, ++off) {
        if (line_len_ == 0)
            line_offset_ = off;
        line_[line_len_++] = bytes[k];
        const std::uint64_t next = base + off + 1;
        if (next % line_bytes_ == 0 || next % kSegmentSize == 0)
            flush_line();
    }
}

void TextImageSink::finish() {
    flush_line();
    write_end();
}

void TextImageSink::flush_line() {
    if (line_len_ == 0)
        return;
    write_line(static_cast<std::uint32_t>(options_.base + line_offset_), line_, line_len_);
    line_offset_ += line_len_;
    line_len_ = 0;
}

void TextImageSink::emit(const TextLine& line) {
    const bool crlf = options_.line_end == LineEnd::CrLf;
    const char* end = crlf ? "\r\n" : "\n";
    const std::size_t end_len = crlf ? 2 : 1;
    if (std::fwrite(line.text, 1, line.len, fp_) != line.len ||
        std::fwrite(end, 1, end_len, fp_) != end_len) {
        fail(path_, "cannot write at image offset " + hex(line_offset_) + ": " +
                        platform::error_text(errno));
    }
}
