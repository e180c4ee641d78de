// coff2efw --sections: one line for every section of the conversion just run, with what
// became of it, and the totals; for a person who asks where a section went.
#pragma once

#include "image/image_layout.h"

#include <cstdint>
#include <cstdio>

// What the image holds and what it lost, summed over the sections.
struct SectionTotals {
    std::uint64_t image_size = 0;
    unsigned records = 0;
    std::uint64_t bytes_in_image = 0; // boot bytes and records' data
    std::uint64_t bytes_left_out = 0; // data of the sections left out, words counted as two
};
SectionTotals section_totals(const ImageLayout& layout);

// Prints the table for the section table and `layout` on `out`. Names are escaped as
// messages escape them where `out` is a terminal; elsewhere only their control bytes are.
void print_section_table(std::FILE* out, const ImageLayout& layout);
