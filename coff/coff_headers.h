// The header records of a linked COFF object for the target, as they lie in the file,
// and the in-memory section table filled from them.
#pragma once

#include "base/input_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#pragma pack(push, 1)

struct FileHead {
    std::uint16_t usVersion;
    std::uint16_t usNumSect;
    std::int32_t lDataTime;
    std::int32_t lFilePtr;
    std::int32_t lNumEntry;
    std::uint16_t usOptHeadSize;
    std::uint16_t usFlags;
    std::uint16_t usTargId;
};

struct OptHead {
    std::uint16_t sMagicNo;
    std::uint16_t sVersion;
    std::int32_t lCodeSize;
    std::int32_t lDataSize;
    std::int32_t lBssSize;
    std::int32_t lEntryPoint;
    std::int32_t lCodeAddr;
    std::int32_t lDataAddr;
};

struct SectHead {
    char SectName[8]; // zero-padded, not always zero-terminated
    std::int32_t PhyAddr;
    std::int32_t VirtAddr;
    std::int32_t SectSize;
    std::int32_t FilePtrRaw;
    std::int32_t FilePtrReloc;
    std::int32_t FilePtrLine;
    std::int32_t NumReloc;
    std::int32_t NumLineNo;
    std::int32_t Flags;
    std::uint16_t Reserved;
    std::uint16_t MemPage;
};

#pragma pack(pop)

static_assert(sizeof(FileHead) == 22, "FileHead is 22 bytes in the file");
static_assert(sizeof(OptHead) == 28, "OptHead is 28 bytes in the file");
static_assert(sizeof(SectHead) == 48, "SectHead is 48 bytes in the file");

inline constexpr unsigned kMaxSections = 2048;

// Single instances for the whole process; filled by the readers below.
extern FileHead g_FileHead;
extern OptHead g_OptHead;
extern SectHead g_SectTable[kMaxSections];

// Header readers. Each consumes exactly its record's size from the current position.
void read_file_head(InputFile& in);
void read_opt_head(InputFile& in); // 28 bytes, whatever usOptHeadSize says
void clear_opt_head();
void check_section_count(const InputFile& in); // refuses more than the table holds
void read_sect_head(InputFile& in, unsigned index);

// Decoding from the file's bytes, field by field in little-endian order.
void decode_file_head(const unsigned char* bytes, FileHead& out);
void decode_opt_head(const unsigned char* bytes, OptHead& out);
void decode_sect_head(const unsigned char* bytes, SectHead& out);

// The name field as text: up to the first zero byte, or all eight bytes.
std::string_view sect_name_text(const SectHead& sect);

// The name text is ".boot_L" exactly when the eight bytes are ".boot_L" and a zero; one
// comparison, as it is asked several times for every section.
inline bool is_boot_section(const SectHead& sect) {
    static_assert(sizeof sect.SectName == sizeof ".boot_L");
    return std::memcmp(sect.SectName, ".boot_L", sizeof sect.SectName) == 0;
}
bool has_no_name(const SectHead& sect);

// "section 7 (.text)" or "section 7 (unnamed)", for error messages.
std::string section_label(unsigned index);

// The label followed by `what` ("section 7 (.text) data"; the label alone when `what` is
// empty), formed without allocation for the reads and warnings that name a section.
struct SectionSubject {
    char text[48];
};
SectionSubject section_subject(unsigned index, const char* what);
