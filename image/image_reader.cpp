#include "image/image_reader.h"

#include "base/crc32.h"
#include "base/failure.h"
#include "base/little_endian.h"
#include "image/rom_image.h"

#include <utility>

namespace {

// Data the walk passes over are read through here for the checksum.
unsigned char g_ReadBuf[kImageReadPiece];

// How far past a fault the reader looks for the record that misplaced zero bytes hid.
constexpr std::uint64_t kPaddingSearch = 8;

// Reads [crc_end, upto) through into the checksum, in pieces.
void checksum_through(ImageFile& image, std::uint64_t upto) {
    while (image.crc_end < upto) {
        const std::uint64_t left = upto - image.crc_end;
        const std::size_t piece =
            left < sizeof g_ReadBuf ? static_cast<std::size_t>(left) : sizeof g_ReadBuf;
        read_input_at(image.in, image.crc_end, g_ReadBuf, piece, "image bytes");
        image.crc = crc32_update(image.crc, g_ReadBuf, piece);
        image.crc_end += piece;
    }
}

[[noreturn]] void fail_at(const ImageFile& image, const std::string& what, std::uint64_t off) {
    fail(image.in.path, what + " at offset " + hex(off));
}

unsigned char byte_at(ImageFile& image, std::uint64_t off) {
    unsigned char b = 0;
    read_image_at(image, off, &b, 1);
    return b;
}

// One step along the chain: a record, the terminator, or the first fault found.
enum class StepKind { Record, End, Fault };

struct Step {
    StepKind kind = StepKind::Fault;
    LoadRecord rec; // End: rec.offset is the terminator's offset
    std::string fault;
    std::uint64_t fault_at = 0;
    bool behind_terminator = false; // the fault lies after a complete terminator
    std::uint64_t fill_size = 0;    // End: the bytes of one value behind the terminator
    unsigned char fill = 0;
};

Step fault_step(std::string what, std::uint64_t at, bool behind_terminator = false) {
    Step st;
    st.fault = std::move(what);
    st.fault_at = at;
    st.behind_terminator = behind_terminator;
    return st;
}

// True when the `len` bytes at `off` all hold the value of the first, which `value`
// receives. Read in pieces, so a fill of any size costs the same memory.
bool all_one_value(ImageFile& image, std::uint64_t off, std::uint64_t len, unsigned char& value) {
    value = byte_at(image, off);
    while (len > 0) {
        const std::size_t piece =
            len < sizeof g_ReadBuf ? static_cast<std::size_t>(len) : sizeof g_ReadBuf;
        read_image_at(image, off, g_ReadBuf, piece);
        for (std::size_t k = 0; k < piece; ++k) {
            if (g_ReadBuf[k] != value)
                return false;
        }
        off += piece;
        len -= piece;
    }
    return true;
}

// The record or terminator whose header starts exactly at `r`, with no padding before it.
Step header_at(ImageFile& image, std::uint64_t r) {
    if (!in_file(image.in, r, kRecordHeaderSize))
        return fault_step("file ends without a terminator record", r);
    unsigned char h[kRecordHeaderSize];
    read_image_at(image, r, h, sizeof h);
    Step st;
    st.rec.offset = r;
    st.rec.count = get_le32(h);
    st.rec.dest = get_le32(h + 4);
    const std::uint64_t after = image.in.size - r - kRecordHeaderSize;
    if (st.rec.count == 0) {
        if (st.rec.dest != 0)
            return fault_step("terminator address " + hex(st.rec.dest) + " is not zero", r + 4);
        if (after != 0 && !all_one_value(image, r + kRecordHeaderSize, after, st.fill))
            return fault_step(hex(after) + " bytes after the terminator record",
                              r + kRecordHeaderSize, true);
        st.fill_size = after;
        st.kind = StepKind::End;
        return st;
    }
    if (st.rec.count > after) {
        return fault_step("byte count " + hex(st.rec.count) + " runs past the end of the file (" +
                              hex(image.in.size) + " bytes)",
                          r);
    }
    st.kind = StepKind::Record;
    return st;
}

// True when the terminator follows directly at the odd offset `p`: as the last eight
// bytes, or with a fill behind it that does not start with a zero byte. (Behind a zero
// fill the reader takes a padding byte before the terminator instead; both read as the
// same bytes.)
bool terminator_directly_at(ImageFile& image, std::uint64_t p) {
    const std::uint64_t left = image.in.size - p;
    if (left == kTerminatorSize)
        return true;
    if (left < kTerminatorSize + 1 || byte_at(image, p + kTerminatorSize) == 0)
        return false;
    unsigned char zero = 0;
    return all_one_value(image, p, kTerminatorSize, zero) && zero == 0;
}

// What follows content that ends at `p`. Behind an odd end one zero byte aligns the next
// record; the terminator alone may follow directly, unaligned, as the last eight bytes
// before any fill.
Step step_from(ImageFile& image, std::uint64_t p) {
    std::uint64_t r = p;
    if (p % 2 != 0 && !terminator_directly_at(image, p)) {
        if (p == image.in.size)
            return fault_step("file ends without a terminator record", p);
        const unsigned char pad = byte_at(image, p);
        if (pad != 0)
            return fault_step("non-zero padding byte " + hex(pad), p);
        r = p + 1;
    }
    return header_at(image, r);
}

// True when a record or terminator starting exactly at `s` leads through well-formed
// records to a terminator at the end of the file. Each record moves on by at least nine
// bytes, so the walk ends.
bool chain_sound_from(ImageFile& image, std::uint64_t s) {
    Step st = header_at(image, s);
    while (st.kind == StepKind::Record)
        st = step_from(image, record_end(st.rec));
    return st.kind == StepKind::End;
}

// A fault found behind `p` often has a plainer cause than the bytes first suggest: a
// record written without its padding byte, or with zero bytes too many in front of it.
// Those explanations are reported only when the whole rest of the image then reads as a
// sound chain, so the message names the real fault rather than a guess.
Step explain(ImageFile& image, std::uint64_t p, Step fault) {
    if (fault.behind_terminator)
        return fault;
    const std::uint64_t expected = p % 2 != 0 ? p + 1 : p;
    if (p % 2 != 0 && p < image.in.size && byte_at(image, p) != 0 && chain_sound_from(image, p))
        return fault_step("misaligned load record (records start at even offsets)", p);
    for (std::uint64_t s = p + 1; s <= p + kPaddingSearch && s < image.in.size; ++s) {
        if (byte_at(image, s - 1) != 0)
            break;
        if (s == expected || !chain_sound_from(image, s))
            continue;
        if (s - p > 1) {
            return fault_step(std::to_string(s - p) + " padding bytes before a load record (one " +
                                  "at most)",
                              p);
        }
        return fault_step("misaligned load record (records start at even offsets)", s);
    }
    return fault;
}

} // namespace

void read_image_at(ImageFile& image, std::uint64_t off, void* dest, std::size_t len) {
    if (in_file(image.in, off, len))
        checksum_through(image, off);
    read_input_at(image.in, off, dest, len, "image bytes");
    if (off <= image.crc_end && off + len > image.crc_end) {
        const auto seen = static_cast<std::size_t>(image.crc_end - off);
        image.crc =
            crc32_update(image.crc, static_cast<const unsigned char*>(dest) + seen, len - seen);
        image.crc_end = off + len;
    }
}

std::uint32_t image_crc32(ImageFile& image) {
    checksum_through(image, image.in.size);
    return image.crc;
}

BootSummary read_boot_region(ImageFile& image) {
    if (image.in.size < kMinImageSize) {
        fail_at(image,
                "too short for an image of at least " + hex(kMinImageSize) +
                    " bytes, the file ends",
                image.in.size);
    }
    unsigned char region[kBootRegionSize];
    read_image_at(image, 0, region, sizeof region);
    BootSummary boot;
    for (std::uint32_t k = 0; k < kBootCapacity; ++k) {
        const unsigned char low = region[2 * k];
        const unsigned char high = region[2 * k + 1];
        if (low != 0 || high != 0)
            boot.units = k + 1;
        if (high != 0 && !boot.high_byte_set) {
            boot.high_byte_set = true;
            boot.first_high = 2 * k + 1;
            boot.first_high_value = high;
        }
    }
    return boot;
}

void check_boot_region(const ImageFile& image, const BootSummary& boot) {
    if (boot.high_byte_set) {
        fail_at(image, "non-zero high byte " + hex(boot.first_high_value) + " in the boot region",
                boot.first_high);
    }
}

std::uint32_t read_entry_word(ImageFile& image) {
    unsigned char word[4];
    read_image_at(image, kEntryWordOffset, word, sizeof word);
    return get_le32(word);
}

bool next_record(ImageFile& image, std::uint64_t& pos, LoadRecord& rec) {
    Step st = step_from(image, pos);
    if (st.kind == StepKind::Fault)
        st = explain(image, pos, std::move(st));
    if (st.kind == StepKind::Fault)
        fail_at(image, st.fault, st.fault_at);
    if (st.kind == StepKind::End) {
        pos = st.rec.offset;
        image.fill_size = st.fill_size;
        image.fill = st.fill;
        return false;
    }
    rec = st.rec;
    pos = record_end(rec);
    return true;
}

void walk_image(ImageFile& image, ImageVisitor& visitor) {
    const BootSummary boot = read_boot_region(image);
    visitor.boot(boot);
    check_boot_region(image, boot);
    visitor.entry(read_entry_word(image));
    std::uint64_t pos = kFirstRecordOffset;
    std::uint64_t from = pos;
    LoadRecord rec;
    for (unsigned index = 0; next_record(image, pos, rec); ++index) {
        visitor.record(index, rec, from);
        from = pos;
    }
    visitor.terminator(pos, from);
}

void walk_image_structure(ImageFile& image, ImageVisitor& visitor) {
    image.crc_end = image.in.size; // nothing to read through while the walk runs
    walk_image(image, visitor);
    image.crc_end = 0;
    image.crc = 0;
}

void check_image(ImageFile& image) {
    struct : ImageVisitor {
    } nothing;
    walk_image(image, nothing);
    image_crc32(image);
}
