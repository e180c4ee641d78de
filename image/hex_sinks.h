// The image as text for flash programmers: Intel HEX or Motorola S-records, each byte at
// a base address plus its image offset. The bytes are the image's, so a reader that turns
// the text back into binary from the base gets the .efw file byte for byte.
//
// Both formats are written with upper-case hexadecimal digits and CR LF line ends: the
// flash programmers' own tools on Windows write CR LF, and the readers on other systems
// (srec_cat among them) take it as well as LF.
#pragma once

#include "image/image_sink.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

enum class ImageFormat : unsigned char {
    Efw,      // the binary image itself
    IntelHex, // "ihex"
    SRecord,  // "srec"
};

// Where image offset 0 lies unless the command line says otherwise: the address that the
// progress lines' btad shows for it.
inline constexpr std::uint32_t kDefaultImageBase = 0x90000000;

// Data bytes on one line of either format; lines hold the bytes of one 32-byte aligned
// block of addresses, so no line crosses an Intel HEX 64 KiB segment.
inline constexpr std::size_t kHexLineBytes = 32;

// "efw", "ihex", "srec": the names -O takes, and the map's "format".
const char* format_name(ImageFormat format);

// ".efw", ".hex", ".srec": what a derived output name ends in.
const char* format_extension(ImageFormat format);

// The format named `name`; false when it names none.
bool parse_image_format(std::string_view name, ImageFormat& format);

// A 32-bit address, as "0x" and hexadecimal digits or as decimal digits (a leading zero
// is not octal). False for anything else, an empty text and values above 0xFFFFFFFF.
bool parse_address(std::string_view text, std::uint32_t& address);

// What both text formats share: the bytes gathered into lines of one aligned block each,
// every address checked against the 32-bit range, every write checked. The format writes
// its lines and its end record; finish() must follow the last piece.
class TextImageSink : public ImageSink {
  public:
    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override;
    // Refuses an image whose last byte lies past the 32-bit addresses from the base.
    void check_room(std::uint64_t size) const override;

    // Writes the last line and the end record. Throws Failure.
    void finish();

  protected:
    TextImageSink(std::FILE* fp, std::string path, std::uint32_t base)
        : fp_(fp), path_(std::move(path)), base_(base) {}
    ~TextImageSink() = default;

    // Writes one line for the `len` bytes at `address`; `len` is at most kHexLineBytes.
    virtual void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) = 0;
    virtual void write_end() = 0;

    // Writes `text` out, ended by CR LF; a failed write is a Failure naming the output
    // and the image offset of the line.
    void emit(const char* text, std::size_t len);

    std::uint32_t base() const { return base_; }

  private:
    void flush_line();

    std::FILE* fp_;
    std::string path_;
    std::uint32_t base_;
    std::uint64_t line_offset_ = 0; // image offset of line_[0]
    std::size_t line_len_ = 0;
    unsigned char line_[kHexLineBytes];
};

// Intel HEX: a type-04 extended linear address record before the first data record and
// wherever the upper 16 bits of the address change, type-00 data records, a type-01 end
// record. No start address record: the entry point is an address of the target, not of
// the image, and the image's own loader reads it from the entry word.
class IntelHexSink final : public TextImageSink {
  public:
    IntelHexSink(std::FILE* fp, std::string path, std::uint32_t base)
        : TextImageSink(fp, std::move(path), base) {}

  private:
    void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) override;
    void write_end() override;

    bool upper_written_ = false;
    std::uint32_t upper_ = 0; // the upper 16 bits the last type-04 record set
};

// Motorola S-records: an S0 header carrying `header` (at most kSRecordHeaderMax bytes of
// it), S3 data records with 32-bit addresses, and an S7 end record. The S7 address is the
// base: an S7 names where execution starts, and the object's entry point is an address in
// the target's memory that the image's loader takes from the entry word, not an address
// among the image's bytes; the base is the one address that starts them.
class SRecordSink final : public TextImageSink {
  public:
    SRecordSink(std::FILE* fp, std::string path, std::uint32_t base, std::string header)
        : TextImageSink(fp, std::move(path), base), header_(std::move(header)) {}

  private:
    void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) override;
    void write_end() override;
    void write_header();

    std::string header_;
    bool header_written_ = false;
};

inline constexpr std::size_t kSRecordHeaderMax = 64;
