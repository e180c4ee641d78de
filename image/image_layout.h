// Where every byte of the image comes from, worked out from the header records and the
// section table alone, before anything is written. The passes that write the image, the
// warnings, the comparison with an image on disk and every description of an image read
// this table; it is the only code that knows which sections become load records and where
// a padding byte stands.
#pragma once

#include "coff/coff_headers.h"
#include "image/rom_image.h"

#include <cstdint>
#include <string>

// What the image makes of a section.
enum class SectionUse : unsigned char {
    Boot,      // its bytes are widened into the boot region
    Record,    // it is a load record
    LeftOut,   // it would carry data, but the image's rules skip it
    NotLoaded, // it has nothing to load: empty, no data in the file, dummy or copy
};

// Why a section is left out or not loaded.
enum class SectionReason : unsigned char {
    None,
    BeforeFirstRecord, // its index is below kFirstLoadSection
    Empty,             // SectSize is zero or negative
    NoData,            // FilePtrRaw is zero
    Dummy,             // kDummySectionFlag
    Copy,              // kCopySectionFlag
};

struct SectionPlace {
    SectionUse use;
    SectionReason reason;
    std::uint64_t image_offset; // Boot: its first boot byte's unit; Record: its byte-count
                                // word; 0 for the others
};

struct RecordPlace {
    std::uint16_t usSection;   // the section it carries
    bool pad_before;           // one zero byte stands before it
    std::uint64_t offset;      // of its byte-count word
    std::uint32_t ulByteCount; // SectSize, as the record's first word holds it
    std::uint32_t ulDest;      // VirtAddr, its second word
};

struct ImageLayout {
    std::uint64_t boot_bytes = 0; // boot bytes of all boot sections (each takes two image bytes)
    unsigned record_count = 0;
    bool pad_before_terminator = false;
    std::uint64_t terminator_offset = 0;
    std::uint64_t image_size = 0; // the fill behind the terminator included
    unsigned char fill = 0xFF;    // what fills the image from its terminator's end on
    SectionPlace sections[kMaxSections];
    RecordPlace records[kMaxSections];
};

// What the image makes of section `index`, from its header alone; `reason` receives why
// it carries nothing (None for Boot and Record).
SectionUse section_use(const SectHead& s, unsigned index, SectionReason& reason);

// The layout of the conversion under way; filled by compute_layout from the section table.
extern ImageLayout g_Layout;

// Fills `layout` from the first `count` sections of `table` (count at most kMaxSections),
// with no fill behind the terminator.
// Pure: it reads nothing but its arguments and holds for a boot region of any size, which
// the passes refuse when it passes the region.
void compute_layout(const SectHead* table, unsigned count, ImageLayout& layout);

// Where image offset `off` lies: "boot region unit 0x3 (high byte)", "entry word byte 2",
// "record 1, section 6 (.data), data byte 0x1c", "record 0, section 5 (.text), header byte
// 4 (destination address)", "padding byte before record 2", "padding byte before the
// terminator", "terminator byte 5", "fill byte 0x10 behind the terminator". Sections are named from
// g_SectTable. `off` must lie inside the image.
std::string describe_image_offset(const ImageLayout& layout, std::uint64_t off);

// Where a record's data begins and ends: behind its byte-count and destination words.
inline std::uint64_t record_data_start(const RecordPlace& rec) {
    return rec.offset + kRecordHeaderSize;
}
inline std::uint64_t record_data_end(const RecordPlace& rec) {
    return rec.offset + kRecordHeaderSize + rec.ulByteCount;
}
