#include "coff/header_listing.h"

#include "coff/coff_headers.h"
#include "platform/console.h"

#include <iterator>

namespace {

// The listing shows every field as its unsigned bit pattern: a size of -1 reads ffffffff.
unsigned u32(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}

} // namespace

void list_file_head(std::FILE* console) {
    const FileHead& h = g_FileHead;
    std::fprintf(console, "[FileHead]\n");
    std::fprintf(console, "sizeof FileHead = %d\n", static_cast<int>(sizeof(FileHead)));
    std::fprintf(console, "usVersion\tusNumSect\tlDataTime\tlFilePtr\tlNumEntry\tusOptHeadSize"
                          "\tusFlags\t\tusTargId\n");
    std::fprintf(console, "%x\t\t%x\t\t%x\t%x\t\t%x\t\t%x\t\t%x\t\t%x\n", unsigned{h.usVersion},
                 unsigned{h.usNumSect}, u32(h.lDataTime), u32(h.lFilePtr), u32(h.lNumEntry),
                 unsigned{h.usOptHeadSize}, unsigned{h.usFlags}, unsigned{h.usTargId});
}

void list_opt_head(std::FILE* console) {
    const OptHead& h = g_OptHead;
    std::fprintf(console, "\n[OptHead]\n");
    std::fprintf(console, "sizeof OptHead = %d\n", static_cast<int>(sizeof(OptHead)));
    std::fprintf(console, "sMagicNo\tsVersion\tlCodeSize\tlDataSize\tlBssSize\tlEntryPoint"
                          "\t\tlCodeAddr\t\tlDataAddr\n");
    std::fprintf(console, "%x\t\t%x\t\t%x\t\t%x\t\t%x\t\t%x\t\t%x\t\t%x\n", unsigned{h.sMagicNo},
                 unsigned{h.sVersion}, u32(h.lCodeSize), u32(h.lDataSize), u32(h.lBssSize),
                 u32(h.lEntryPoint), u32(h.lCodeAddr), u32(h.lDataAddr));
}

void list_sect_banner(std::FILE* console) {
    std::fprintf(console, "\n[SectHead]\n");
    std::fprintf(console, "sizeof SectHead = %d\n",
                 static_cast<int>(g_FileHead.usNumSect * sizeof(SectHead)));
    std::fprintf(console, "Sect No.\tSect Name\tPhyAddr\t\tVirtAddr\tSectSize\tFilePtrRaw"
                          "\tFilePtrReloc\tFilePtrLine\tNumReloc\tNumLineNo\tFlags\t\tReserved"
                          "\tMemPage\n");
}

// "%d\t\t%s\t\t%x\t\t ... %x\n": the index, the name text and the eleven numbers, each
// field after the first behind two tabs; put together without a copy of the name.
void list_sect_row(std::FILE* console, unsigned index) {
    const SectHead& s = g_SectTable[index];
    const std::uint32_t fields[] = {u32(s.PhyAddr),       u32(s.VirtAddr),     u32(s.SectSize),
                                    u32(s.FilePtrRaw),    u32(s.FilePtrReloc), u32(s.FilePtrLine),
                                    u32(s.NumReloc),      u32(s.NumLineNo),    u32(s.Flags),
                                    unsigned{s.Reserved}, unsigned{s.MemPage}};
    constexpr std::size_t kLongestRow = platform::kDecimalCharsMax + 2 + sizeof s.SectName +
                                        std::size(fields) * (2 + platform::kHexDigitsMax) + 1;
    platform::ConsoleLine line;
    static_assert(kLongestRow <= sizeof line.text);
    char* p = platform::append_dec(line.text, static_cast<int>(index));
    p = platform::append_text(p, "\t\t");
    p = platform::append_text(p, sect_name_text(s));
    for (const std::uint32_t v : fields) {
        p = platform::append_text(p, "\t\t");
        p = platform::append_hex(p, v);
    }
    p = platform::append_text(p, "\n");
    line.len = static_cast<std::size_t>(p - line.text);
    platform::write_line(console, line);
}
