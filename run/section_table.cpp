#include "run/section_table.h"

#include "coff/coff_headers.h"
#include "image/section_fate.h"
#include "platform/files.h"

SectionTotals section_totals(const ImageLayout& layout) {
    SectionTotals t;
    t.image_size = layout.image_size;
    t.records = layout.record_count;
    t.bytes_in_image = layout.boot_bytes;
    for (unsigned k = 0; k < layout.record_count; ++k)
        t.bytes_in_image += layout.records[k].ulByteCount;
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        if (layout.sections[i].use == SectionUse::LeftOut)
            t.bytes_left_out += section_data_bytes(i);
    }
    return t;
}

void print_section_table(std::FILE* out, const ImageLayout& layout) {
    const bool terminal = platform::is_terminal(out);
    std::fprintf(out, "\n[Sections]\n%-5s  %-20s  %4s  %-10s  %-10s  %-16s  %s\n", "index", "name",
                 "page", "run", "load", "size", "fate");
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        const SectHead& s = g_SectTable[i];
        const SectionSubject name = section_name_shown(i, terminal);
        std::fprintf(out, "%5u  %-20s  %4u  0x%08x  0x%08x  %-16s  %s\n", i,
                     name.text[0] != '\0' ? name.text : "(unnamed)", unsigned{s.MemPage},
                     static_cast<std::uint32_t>(s.VirtAddr), static_cast<std::uint32_t>(s.PhyAddr),
                     section_size_text(i).text, fate_text(section_fate(layout, i)).text);
    }
    const SectionTotals t = section_totals(layout);
    std::fprintf(out,
                 "image 0x%llx bytes, %u records, 0x%llx bytes of data in the image, 0x%llx "
                 "bytes of data left out\n",
                 static_cast<unsigned long long>(t.image_size), t.records,
                 static_cast<unsigned long long>(t.bytes_in_image),
                 static_cast<unsigned long long>(t.bytes_left_out));
}
