#include "image/text_image_reader.h"

#include "base/failure.h"
#include "image/rom_image.h"
#include "platform/files.h"
#include "text/hex_text.h"

#include <cstring>

namespace {

// The longest record either format can write is 2 + 2 * 260 characters; a longer line is
// no record.
constexpr std::size_t kLineMax = 600;

// One record's bytes in order, decoded from its hexadecimal digits.
struct Record {
    unsigned char bytes[kLineMax / 2];
    std::size_t len = 0;
};

class TextReader {
  public:
    TextReader(const std::string& path, std::uint32_t base, std::FILE* out)
        : path_(path), base_(base), out_(out) {}

    [[noreturn]] void refuse(const std::string& what) const {
        fail(path_, "line " + std::to_string(line_) + ": " + what);
    }

    // Decodes the digits of `text` (`len` characters) into `rec` and checks the record's
    // count, its first byte, which leaves out `uncounted` bytes of it, and its checksum,
    // which makes all its bytes add up to `sum` (mod 256).
    void decode(const char* text, std::size_t len, Record& rec, std::size_t uncounted,
                unsigned sum) const {
        if (len % 2 != 0)
            refuse("odd number of hexadecimal digits");
        rec.len = 0;
        for (std::size_t k = 0; k < len; k += 2) {
            const int hi = hex_digit_value(text[k]);
            const int lo = hex_digit_value(text[k + 1]);
            if (hi < 0 || lo < 0)
                refuse("not a hexadecimal digit in the record");
            rec.bytes[rec.len++] = static_cast<unsigned char>(hi << 4 | lo);
        }
        if (rec.len < uncounted || rec.len != uncounted + rec.bytes[0])
            refuse("record length does not match its byte count");
        unsigned total = 0;
        for (std::size_t k = 0; k < rec.len; ++k)
            total += rec.bytes[k];
        if (total % 256 != sum)
            refuse("checksum mismatch");
    }

    // Puts `len` bytes for `address` behind the bytes so far.
    void data(std::uint64_t address, const unsigned char* bytes, std::size_t len) {
        if (address < base_)
            refuse("address " + hex(address) + " lies before the image's base " + hex(base_));
        const std::uint64_t off = address - base_;
        if (off > end_) {
            refuse("gap: address " + hex(address) + " leaves bytes " + hex(end_) + " to " +
                   hex(off - 1) + " of the image without data (records are read in address " +
                   "order)");
        }
        if (off < end_) {
            refuse("address " + hex(address) + " overlaps the bytes before it (the image so far " +
                   "ends at offset " + hex(end_) + "; records are read in address order)");
        }
        if (len > kFormatMaxSize - off)
            refuse("address " + hex(address + len - 1) + " lies past the largest image (" +
                   hex(kFormatMaxSize) + " bytes from the base)");
        if (len > 0 && std::fwrite(bytes, 1, len, out_) != len)
            fail(path_, "cannot keep it in a scratch file: " + platform::last_error_text(),
                 FailureKind::Trouble);
        end_ += len;
    }

    // One Intel HEX record; true for the end record.
    bool intel_hex(const char* line, std::size_t len) {
        Record r;
        if (line[0] != ':')
            refuse("an Intel HEX record starts with ':'");
        decode(line + 1, len - 1, r, 5, 0x00);
        const unsigned count = r.bytes[0];
        const std::uint32_t low = static_cast<std::uint32_t>(r.bytes[1] << 8 | r.bytes[2]);
        const unsigned char* payload = r.bytes + 4;
        switch (r.bytes[3]) {
        case 0x00:
            data(std::uint64_t{upper_} + low, payload, count);
            return false;
        case 0x01:
            return true;
        case 0x02: // extended segment address: paragraphs of 16 bytes
        case 0x04: // extended linear address: the upper 16 bits
            if (count != 2)
                refuse("an address record carries two bytes");
            upper_ = static_cast<std::uint32_t>(payload[0] << 8 | payload[1]);
            upper_ = r.bytes[3] == 0x02 ? upper_ << 4 : upper_ << 16;
            return false;
        case 0x03: // start addresses: the image's loader takes the entry from the image
        case 0x05:
            return false;
        default:
            refuse("unknown record type " + hex(r.bytes[3]));
        }
    }

    // One S-record; true for an end record.
    bool s_record(const char* line, std::size_t len) {
        Record r;
        if (len < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9')
            refuse("an S-record starts with 'S' and its type digit");
        const char type = line[1];
        decode(line + 2, len - 2, r, 1, 0xFF);
        std::size_t address_len = 0;
        switch (type) {
        case '1':
        case '9':
            address_len = 2;
            break;
        case '2':
        case '8':
            address_len = 3;
            break;
        case '3':
        case '7':
            address_len = 4;
            break;
        case '0': // the header, and the counts of records
        case '5':
        case '6':
            return false;
        default:
            refuse(std::string("unknown record type S") + type);
        }
        if (r.len < 2 + address_len)
            refuse("record too short for its address");
        std::uint32_t address = 0;
        for (std::size_t k = 0; k < address_len; ++k)
            address = address << 8 | r.bytes[1 + k];
        if (type >= '7')
            return true;
        data(address, r.bytes + 1 + address_len, r.len - 2 - address_len);
        return false;
    }

    std::uint64_t read(std::FILE* text, ImageFormat format) {
        char line[kLineMax + 2];
        bool ended = false;
        while (std::fgets(line, sizeof line, text) != nullptr) {
            ++line_;
            std::size_t len = std::strlen(line);
            const bool whole = len > 0 && line[len - 1] == '\n';
            if (!whole && !std::feof(text))
                refuse("line longer than any record");
            while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r'))
                --len;
            if (len == 0)
                continue;
            if (ended)
                refuse("a record after the end record");
            ended = format == ImageFormat::IntelHex ? intel_hex(line, len) : s_record(line, len);
        }
        if (std::ferror(text) != 0)
            fail(path_, "cannot read: " + platform::last_error_text(), FailureKind::Trouble);
        if (!ended)
            fail(path_, "ends at line " + std::to_string(line_) + " without an end record");
        if (std::fflush(out_) != 0)
            fail(path_, "cannot keep it in a scratch file: " + platform::last_error_text(),
                 FailureKind::Trouble);
        return end_;
    }

  private:
    const std::string& path_;
    std::uint32_t base_;
    std::FILE* out_;
    unsigned line_ = 0;
    std::uint64_t end_ = 0;   // image offset behind the last byte written
    std::uint32_t upper_ = 0; // what the last type-02 or type-04 record adds to addresses
};

} // namespace

ImageFormat detect_image_format(const unsigned char* head, std::size_t n) {
    if (n >= 2 && head[0] == ':' && hex_digit_value(static_cast<char>(head[1])) >= 0)
        return ImageFormat::IntelHex;
    if (n >= 2 && head[0] == 'S' && head[1] >= '0' && head[1] <= '9')
        return ImageFormat::SRecord;
    return ImageFormat::Efw;
}

std::uint64_t read_text_image(std::FILE* text, ImageFormat format, const std::string& path,
                              std::uint32_t base, std::FILE* out) {
    TextReader reader(path, base, out);
    return reader.read(text, format);
}
