#include "image/hex_sinks.h"

#include "base/failure.h"
#include "platform/files.h"

#include <cerrno>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// The longest line either format writes: an S0 record with the longest header, CR LF.
constexpr std::size_t kLongestLine = 2 + 2 + 4 + 2 * kSRecordHeaderMax + 2 + 2;

// A line put together before one write, with the running sum its checksum needs.
struct Line {
    char text[kLongestLine];
    std::size_t len = 0;
    unsigned sum = 0;

    void text_of(const char* s) {
        while (*s != '\0')
            text[len++] = *s++;
    }
    void byte(unsigned b) {
        b &= 0xFF;
        text[len++] = kDigits[b >> 4];
        text[len++] = kDigits[b & 0xF];
        sum += b;
    }
    void word16(std::uint32_t v) {
        byte(v >> 8);
        byte(v);
    }
    void word32(std::uint32_t v) {
        word16(v >> 16);
        word16(v);
    }
    void bytes(const unsigned char* p, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k)
            byte(p[k]);
    }
};

constexpr std::uint64_t kAddressLimit = std::uint64_t{1} << 32;

} // namespace

const char* format_name(ImageFormat format) {
    switch (format) {
    case ImageFormat::IntelHex:
        return "ihex";
    case ImageFormat::SRecord:
        return "srec";
    case ImageFormat::Efw:
        break;
    }
    return "efw";
}

const char* format_extension(ImageFormat format) {
    switch (format) {
    case ImageFormat::IntelHex:
        return ".hex";
    case ImageFormat::SRecord:
        return ".srec";
    case ImageFormat::Efw:
        break;
    }
    return ".efw";
}

bool parse_image_format(std::string_view name, ImageFormat& format) {
    for (ImageFormat f : {ImageFormat::Efw, ImageFormat::IntelHex, ImageFormat::SRecord}) {
        if (name == format_name(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

bool parse_address(std::string_view text, std::uint32_t& address) {
    unsigned radix = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        radix = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (radix == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (radix == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        value = value * radix + digit;
        if (value >= kAddressLimit)
            return false;
    }
    address = static_cast<std::uint32_t>(value);
    return true;
}

void TextImageSink::check_room(std::uint64_t size) const {
    if (base_ + size > kAddressLimit) {
        fail(path_, "image offset " + hex(kAddressLimit - base_) +
                        " lies past the 32-bit address range from base " + hex(base_));
    }
}

void TextImageSink::put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) {
    if (len == 0)
        return;
    check_room(where.offset + len); // a caller that did not ask before the first piece
    if (line_len_ > 0 && line_offset_ + line_len_ != where.offset)
        flush_line(); // pieces come without gaps; should one not, no line spans it
    std::uint64_t off = where.offset;
    for (std::size_t k = 0; k < len; ++k, ++off) {
        if (line_len_ == 0)
            line_offset_ = off;
        line_[line_len_++] = bytes[k];
        if ((base_ + off + 1) % kHexLineBytes == 0)
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
    write_line(static_cast<std::uint32_t>(base_ + line_offset_), line_, line_len_);
    line_offset_ += line_len_;
    line_len_ = 0;
}

void TextImageSink::emit(const char* text, std::size_t len) {
    if (std::fwrite(text, 1, len, fp_) != len || std::fwrite("\r\n", 1, 2, fp_) != 2) {
        fail(path_, "cannot write at image offset " + hex(line_offset_) + ": " +
                        platform::error_text(errno));
    }
}

void IntelHexSink::write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) {
    const std::uint32_t upper = address >> 16;
    if (!upper_written_ || upper != upper_) {
        Line ela;
        ela.text_of(":");
        ela.byte(2);
        ela.word16(0);
        ela.byte(4);
        ela.word16(upper);
        ela.byte(0x100 - (ela.sum & 0xFF));
        emit(ela.text, ela.len);
        upper_written_ = true;
        upper_ = upper;
    }
    Line data;
    data.text_of(":");
    data.byte(static_cast<unsigned>(len));
    data.word16(address);
    data.byte(0);
    data.bytes(bytes, len);
    data.byte(0x100 - (data.sum & 0xFF));
    emit(data.text, data.len);
}

void IntelHexSink::write_end() {
    emit(":00000001FF", 11);
}

void SRecordSink::write_header() {
    if (header_written_)
        return;
    const std::size_t n = header_.size() < kSRecordHeaderMax ? header_.size() : kSRecordHeaderMax;
    Line s0;
    s0.text_of("S0");
    s0.byte(static_cast<unsigned>(2 + n + 1));
    s0.word16(0);
    s0.bytes(reinterpret_cast<const unsigned char*>(header_.data()), n);
    s0.byte(~s0.sum);
    emit(s0.text, s0.len);
    header_written_ = true;
}

void SRecordSink::write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) {
    write_header();
    Line s3;
    s3.text_of("S3");
    s3.byte(static_cast<unsigned>(4 + len + 1));
    s3.word32(address);
    s3.bytes(bytes, len);
    s3.byte(~s3.sum);
    emit(s3.text, s3.len);
}

void SRecordSink::write_end() {
    write_header();
    Line s7;
    s7.text_of("S7");
    s7.byte(4 + 1);
    s7.word32(base());
    s7.byte(~s7.sum);
    emit(s7.text, s7.len);
}
