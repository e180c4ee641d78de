// The image as text for flash programmers: Intel HEX or Motorola S-records, each byte at
// a base address plus its image offset. The bytes are the image's, so a reader that turns
// the text back into binary from the base gets the .efw file byte for byte.
//
// Both formats are written with upper-case hexadecimal digits. Lines end in CR LF by
// default, as the flash programmers' own tools on Windows write them; --line-end lf is
// for the readers that choke on a CR.
#pragma once

#include "image/image_format.h"
#include "image/image_sink.h"
#include "text/hex_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

// The longest line either format writes, line end aside: an S3 record of kMaxRecordBytes
// data bytes is longer than any Intel HEX record and than the S0 header.
inline constexpr std::size_t kLongestTextLine = 2 + 2 + 8 + 2 * kMaxRecordBytes + 2;

// A line put together before one write, with the running sum its checksum needs.
struct TextLine {
    char text[kLongestTextLine];
    std::size_t len = 0;
    unsigned sum = 0;

    void text_of(const char* s) {
        while (*s != '\0')
            text[len++] = *s++;
    }
    void byte(unsigned b) {
        b &= 0xFF;
        text[len++] = kHexDigitsUpper[b >> 4];
        text[len++] = kHexDigitsUpper[b & 0xF];
        sum += b;
    }
    // The `count` low bytes of `v`, most significant first.
    void word(std::uint32_t v, unsigned count) {
        while (count-- > 0)
            byte(v >> (8 * count));
    }
    void bytes(const unsigned char* p, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k)
            byte(p[k]);
    }
};

// What both text formats share: the bytes gathered into lines of one aligned block of
// `record_bytes` addresses each, no line crossing a 64 KiB boundary, every address
// checked against the 32-bit range, every write checked. The format writes its lines
// and its end record.
class TextImageSink : public ImageSink {
  public:
    // Refuses an image whose last byte lies past the 32-bit addresses from the base.
    void begin(std::uint64_t size) override;
    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override;

    // Writes the last line and the end record. Throws Failure.
    void finish() override;

  protected:
    TextImageSink(std::FILE* fp, std::string path, const TextOptions& options)
        : fp_(fp), path_(std::move(path)), options_(options),
          line_bytes_(options.record_bytes < 1                 ? 1
                      : options.record_bytes > kMaxRecordBytes ? kMaxRecordBytes
                                                               : options.record_bytes) {}

    // Writes one line for the `len` bytes at `address`; `len` is at most line_bytes().
    virtual void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) = 0;
    virtual void write_end() = 0;

    // Writes `line` out with the line end; a failed write is a Failure naming the output
    // and the image offset of the line.
    void emit(const TextLine& line);

    // A format whose records hold fewer data bytes than asked for lowers the line length
    // before the first piece.
    void limit_line_bytes(unsigned most) {
        if (line_bytes_ > most)
            line_bytes_ = most;
    }

    std::uint32_t base() const { return options_.base; }
    const TextOptions& options() const { return options_; }
    const std::string& path() const { return path_; }

  private:
    void flush_line();

    std::FILE* fp_;
    std::string path_;
    TextOptions options_;
    unsigned line_bytes_;
    std::uint64_t line_offset_ = 0; // image offset of line_[0]
    std::size_t line_len_ = 0;
    unsigned char line_[kMaxRecordBytes];
};
