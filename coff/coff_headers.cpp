#include "coff/coff_headers.h"

#include "coff/little_endian.h"
#include "platform/files.h"
#include "run/failure.h"

#include <cerrno>
#include <cstring>

FileHead g_FileHead;
OptHead g_OptHead;
SectHead g_SectTable[kMaxSections];

namespace {

std::string read_subject(const char* what, unsigned section) {
    return section == kNoSection ? std::string(what) : section_label(section) + " " + what;
}

} // namespace

InputFile open_input(const std::string& path) {
    InputFile in;
    in.path = path;
    in.fp = std::fopen(path.c_str(), "rb");
    if (in.fp == nullptr)
        fail(path, "cannot open: " + platform::error_text(errno));
    int err = 0;
    if (!platform::regular_file_size(in.fp, in.size, err)) {
        std::fclose(in.fp);
        fail(path, "cannot read: " + platform::error_text(err));
    }
    return in;
}

void read_input(InputFile& in, void* dest, std::size_t len, const char* what, unsigned section) {
    if (in.pos > in.size || len > in.size - in.pos) {
        fail(in.path, "truncated " + read_subject(what, section) + " at offset " + hex(in.pos) +
                          ": needs " + std::to_string(len) + " bytes, the file ends at " +
                          hex(in.size));
    }
    if (std::fread(dest, 1, len, in.fp) != len) {
        const int err = errno;
        fail(in.path, "cannot read " + read_subject(what, section) + " at offset " + hex(in.pos) +
                          ": " +
                          (std::ferror(in.fp) ? platform::error_text(err) : "unexpected end"));
    }
    in.pos += len;
}

void seek_input(InputFile& in, std::uint64_t offset) {
    // Data usually follows on from where the last read ended; a seek would only throw
    // the stream's buffer away.
    if (offset == in.pos)
        return;
    if (!platform::seek_absolute(in.fp, offset))
        fail(in.path, "cannot seek to offset " + hex(offset) + ": " + platform::error_text(errno));
    in.pos = offset;
}

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
    char what[32]; // no allocation for a message that is almost never needed
    std::snprintf(what, sizeof what, "section header %u", index);
    read_input(in, bytes, sizeof bytes, what);
    decode_sect_head(bytes, g_SectTable[index]);
}

std::string_view sect_name_text(const SectHead& sect) {
    const void* zero = std::memchr(sect.SectName, 0, sizeof sect.SectName);
    const std::size_t len =
        zero == nullptr ? sizeof sect.SectName
                        : static_cast<std::size_t>(static_cast<const char*>(zero) - sect.SectName);
    return {sect.SectName, len};
}

bool is_boot_section(const SectHead& sect) {
    return sect_name_text(sect) == ".boot_L";
}

bool has_no_name(const SectHead& sect) {
    return sect.SectName[0] == '\0';
}

std::string section_label(unsigned index) {
    const SectHead& sect = g_SectTable[index];
    return "section " + std::to_string(index) + " (" +
           (has_no_name(sect) ? std::string("unnamed") : std::string(sect_name_text(sect))) + ")";
}
