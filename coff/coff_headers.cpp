#include "coff/coff_headers.h"

#include "base/failure.h"
#include "base/little_endian.h"

#include <algorithm>
#include <charconv>
#include <cstring>

FileHead g_FileHead;
OptHead g_OptHead;
SectHead g_SectTable[kMaxSections];

void decode_file_head(const unsigned char* b, FileHead& h) {
    h.usVersion = get_le16(b + 0);
    h.usNumSect = get_le16(b + 2);
    h.lDataTime = get_le32s(b + 4);
    h.lFilePtr = get_le32s(b + 8);
    h.lNumEntry = get_le32s(b + 12);
    h.usOptHeadSize = get_le16(b + 16);
    h.usFlags = get_le16(b + 18);
    h.usTargId = get_le16(b + 20);
}

void decode_opt_head(const unsigned char* b, OptHead& h) {
    h.sMagicNo = get_le16(b + 0);
    h.sVersion = get_le16(b + 2);
    h.lCodeSize = get_le32s(b + 4);
    h.lDataSize = get_le32s(b + 8);
    h.lBssSize = get_le32s(b + 12);
    h.lEntryPoint = get_le32s(b + 16);
    h.lCodeAddr = get_le32s(b + 20);
    h.lDataAddr = get_le32s(b + 24);
}

void decode_sect_head(const unsigned char* b, SectHead& h) {
    std::memcpy(h.SectName, b, sizeof h.SectName);
    h.PhyAddr = get_le32s(b + 8);
    h.VirtAddr = get_le32s(b + 12);
    h.SectSize = get_le32s(b + 16);
    h.FilePtrRaw = get_le32s(b + 20);
    h.FilePtrReloc = get_le32s(b + 24);
    h.FilePtrLine = get_le32s(b + 28);
    h.NumReloc = get_le32s(b + 32);
    h.NumLineNo = get_le32s(b + 36);
    h.Flags = get_le32s(b + 40);
    h.Reserved = get_le16(b + 44);
    h.MemPage = get_le16(b + 46);
}

void read_file_head(InputFile& in) {
    unsigned char bytes[sizeof(FileHead)];
    read_input(in, bytes, sizeof bytes, "file header");
    decode_file_head(bytes, g_FileHead);
}

void read_opt_head(InputFile& in) {
    unsigned char bytes[sizeof(OptHead)];
    read_input(in, bytes, sizeof bytes, "optional header");
    decode_opt_head(bytes, g_OptHead);
}

void clear_opt_head() {
    g_OptHead = OptHead{};
}

void check_section_count(const InputFile& in) {
    if (g_FileHead.usNumSect > kMaxSections) {
        fail(in.path, "the file header declares " + std::to_string(g_FileHead.usNumSect) +
                          " section headers; at most " + std::to_string(kMaxSections) +
                          " are supported");
    }
}

void read_sect_head(InputFile& in, unsigned index) {
    unsigned char bytes[sizeof(SectHead)];
    // The message is almost never needed: put together without allocation, and without
    // formatted printing, which cost as much as the read itself on a full section table.
    char what[32] = "section header ";
    const std::size_t at = sizeof "section header " - 1;
    *std::to_chars(what + at, what + sizeof what - 1, index).ptr = '\0';
    read_input(in, bytes, sizeof bytes, what);
    decode_sect_head(bytes, g_SectTable[index]);
}

std::string_view sect_name_text(const SectHead& sect) {
    // Asked several times for every section; over eight bytes a plain loop is several
    // times faster than a call into the C library's search.
    std::size_t len = 0;
    while (len < sizeof sect.SectName && sect.SectName[len] != '\0')
        ++len;
    return {sect.SectName, len};
}

bool has_no_name(const SectHead& sect) {
    return sect.SectName[0] == '\0';
}

std::string section_label(unsigned index) {
    const SectHead& sect = g_SectTable[index];
    return "section " + std::to_string(index) + " (" +
           (has_no_name(sect) ? std::string("unnamed") : std::string(sect_name_text(sect))) + ")";
}

SectionSubject section_subject(unsigned index, const char* what) {
    const SectHead& sect = g_SectTable[index];
    const std::string_view name = has_no_name(sect) ? "unnamed" : sect_name_text(sect);
    // "section %u (%.*s)", then a space and `what` unless it is empty, cut to the text's
    // size, without formatted printing (see read_sect_head).
    SectionSubject subject;
    char* p = subject.text;
    char* const end = subject.text + sizeof subject.text - 1;
    const auto put = [&p, end](std::string_view t) {
        p = std::copy_n(t.data(), std::min(t.size(), static_cast<std::size_t>(end - p)), p);
    };
    put("section ");
    p = std::to_chars(p, end, index).ptr;
    put(" (");
    put(name);
    put(")");
    if (*what != '\0') {
        put(" ");
        put(what);
    }
    *p = '\0';
    return subject;
}
