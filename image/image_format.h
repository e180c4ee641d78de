// The formats the image is written in, what each can be asked for on the command line,
// and the one place that picks the sink for a format.
#pragma once

#include "image/image_sink.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

enum class ImageFormat : unsigned char {
    Efw,      // the binary image itself
    IntelHex, // "ihex"
    SRecord,  // "srec"
};

// Where image offset 0 lies unless the command line says otherwise: the address that the
// progress lines' btad shows for it.
inline constexpr std::uint32_t kDefaultImageBase = 0x90000000;

// Data bytes on one line of a text format: a debug probe takes at most 32, and an
// Intel HEX record's count field at most 255.
inline constexpr unsigned kDefaultRecordBytes = 32;
inline constexpr unsigned kMaxRecordBytes = 255;

enum class LineEnd : unsigned char { CrLf, Lf };

// The S-records' address width; Auto takes the narrowest that holds the highest address.
enum class SRecordAddress : unsigned char { Auto, Bits16, Bits24, Bits32 };

// How a text format writes its lines. The defaults are what every earlier version wrote.
struct TextOptions {
    std::uint32_t base = kDefaultImageBase; // the address of image offset 0
    unsigned record_bytes = kDefaultRecordBytes;
    SRecordAddress srec_address = SRecordAddress::Bits32;
    bool srec_count = false; // an S5 or S6 record before the end record
    LineEnd line_end = LineEnd::CrLf;
};

inline constexpr std::uint64_t kNoMaxSize = ~std::uint64_t{0};

// How large the image may be and what fills it behind its terminator.
struct SizeOptions {
    std::uint64_t max_size = kNoMaxSize; // a larger image is an error
    std::uint64_t pad_to = 0;            // fill bytes up to this size; 0 for none
    unsigned char fill = 0xFF;           // what erased flash reads
};

// "efw", "ihex", "srec": the names -O takes, and the map's "format".
const char* format_name(ImageFormat format);

// ".efw", ".hex", ".srec": what a derived output name ends in.
const char* format_extension(ImageFormat format);

// The format named `name`; false when it names none.
bool parse_image_format(std::string_view name, ImageFormat& format);

// A 32-bit address, as "0x" and hexadecimal digits or as decimal digits (a leading zero
// is not octal). False for anything else, an empty text and values above 0xFFFFFFFF.
bool parse_address(std::string_view text, std::uint32_t& address);

// "auto", "16", "24", "32"; false for anything else.
bool parse_srec_address(std::string_view text, SRecordAddress& width);

// "crlf", "lf"; false for anything else.
bool parse_line_end(std::string_view text, LineEnd& line_end);

// The sink that writes the image in `format` to `fp`, named `path` in messages. An
// S-record file's header record carries `srec_header`.
std::unique_ptr<ImageSink> make_image_sink(ImageFormat format, const TextOptions& text,
                                           std::FILE* fp, const std::string& path,
                                           const std::string& srec_header);
