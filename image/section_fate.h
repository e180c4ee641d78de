// What became of each section, in the one wording every description of a run shares: the
// --sections table, the JSON map and the HTML report all take it from section_fate(), so a
// script and a person read the same answer.
#pragma once

#include "image/image_layout.h"

#include <cstdint>

struct SectionFate {
    SectionUse kind;
    const char* reason;   // why it carries nothing ("copy section (flag 0x10)"); null for
                          // Boot and Record
    const char* key;      // the same reason for scripts ("copy"), as the map spells it
    const char* warning;  // the warning that tells of it ("left-out"), or null
    unsigned record;      // Record: its index among the records
    std::uint64_t offset; // Record: image offset of its byte-count word; Boot: of its first
                          // widened byte
};

// The fate of section `index` in `layout`, filled from the section table.
SectionFate section_fate(const ImageLayout& layout, unsigned index);

// The use's one-word name, as the map's "use" and the report's classes spell it: "boot",
// "record", "left-out", "not-loaded".
const char* section_use_name(SectionUse use);

// "boot", "record 3 at 0x804", "left out: sections 0 to 4 never become records
// [-Wleft-out]", "not loaded: no data in the file".
struct FateText {
    char text[96];
};
FateText fate_text(const SectionFate& fate);

// "0x1a" or, where the section counts 16-bit words, "0x1a words".
struct SizeText {
    char text[32];
};
SizeText section_size_text(unsigned index);

// The bytes a section would carry, words counted as two.
std::uint64_t section_data_bytes(unsigned index);
