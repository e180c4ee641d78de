// Walking a ROM image: the boot region, the entry word and the chain of load records,
// each checked against the layout the converter writes. The file is read in bounded
// pieces (the boot region at most), so images of any size cost the same memory. The
// listing, the JSON description and the comparison of two images are visitors of the
// one walk; the check against an object needs none, as it names a difference from the
// layout the object gives.
//
// Every structural fault is thrown as a Failure whose text ends in " at offset 0x<n>",
// the image offset where the layout breaks.
#pragma once

#include "base/input_file.h"

#include <cstdint>
#include <cstdio>

// An image open for reading, through the same bounded reader as any input of the
// converter. Its bytes are checksummed as they are read: a read that lies ahead of what
// was checksummed reads the gap through first, so the one forward walk that checks the
// layout also gives the CRC-32, without a second pass over the file.
struct ImageFile {
    InputFile in;
    std::uint64_t crc_end = 0; // bytes [0, crc_end) are checksummed in `crc`
    std::uint32_t crc = 0;
    // Behind the terminator, once the walk reaches it: bytes all of one value, as
    // coff2efw --pad-to fills an image up to the flash's size.
    std::uint64_t fill_size = 0;
    unsigned char fill = 0;
};

// Bytes read per piece where the reader reads through data it does not list.
inline constexpr std::size_t kImageReadPiece = 1 << 16;

// Reads `len` bytes at image offset `off`; the range must lie inside the file.
void read_image_at(ImageFile& image, std::uint64_t off, void* dest, std::size_t len);

// The CRC-32 of the whole file, reading through what the walk has not reached yet.
std::uint32_t image_crc32(ImageFile& image);

struct BootSummary {
    std::uint32_t units = 0;      // 16-bit units up to the last non-zero one
    bool high_byte_set = false;   // some unit's high byte is not zero
    std::uint64_t first_high = 0; // offset of the first such byte
    unsigned char first_high_value = 0;
};

// Refuses a file too short for the smallest image, then reads the boot region.
BootSummary read_boot_region(ImageFile& image);

// Throws when a boot unit carries a non-zero high byte.
void check_boot_region(const ImageFile& image, const BootSummary& boot);

std::uint32_t read_entry_word(ImageFile& image);

struct LoadRecord {
    std::uint64_t offset = 0; // of its byte-count word
    std::uint32_t count = 0;  // data bytes
    std::uint32_t dest = 0;   // destination address
};

inline std::uint64_t record_data_offset(const LoadRecord& rec) {
    return rec.offset + 8;
}
inline std::uint64_t record_end(const LoadRecord& rec) {
    return rec.offset + 8 + rec.count;
}

// Reads what follows the content that ends at `pos` (the entry word or the previous
// record's data): the next load record, returning true, or the terminator, returning
// false with `pos` set to the terminator's offset and the image's fill noted. On a record `pos`
// moves behind its data. Throws Failure when the chain is malformed.
bool next_record(ImageFile& image, std::uint64_t& pos, LoadRecord& rec);

// What a walk has read, in the image's order. The boot region is told before it is
// checked, so a listing shows it even when the check fails.
class ImageVisitor {
  public:
    virtual void boot(const BootSummary& /*boot*/) {}
    virtual void entry(std::uint32_t /*word*/) {}
    // Record `index`; `from` is where the content before it ends, so a record whose
    // offset is not `from` has one padding byte at `from`.
    virtual void record(unsigned /*index*/, const LoadRecord& /*rec*/, std::uint64_t /*from*/) {}
    // The terminator at `offset`, behind content that ends at `from`.
    virtual void terminator(std::uint64_t /*offset*/, std::uint64_t /*from*/) {}

  protected:
    ~ImageVisitor() = default;
};

// Walks and checks the whole image, telling `visitor` what it meets. Throws Failure.
void walk_image(ImageFile& image, ImageVisitor& visitor);

// Walks and checks the whole image, and then its CRC-32 is known: later walks read only
// the headers. Throws Failure.
void check_image(ImageFile& image);

// Walks and checks the image as walk_image does, reading only what the checks need (the
// boot region, the headers, the padding bytes); the CRC-32 is then taken by the reads
// that follow, from the start of the file. Throws Failure.
void walk_image_structure(ImageFile& image, ImageVisitor& visitor);
