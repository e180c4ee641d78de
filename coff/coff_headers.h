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
// The file header is refused first when the file is plainly of another format.
void read_file_head(InputFile& in);
void read_opt_head(InputFile& in); // 28 bytes, whatever usOptHeadSize says
void clear_opt_head();
void check_section_count(const InputFile& in); // refuses more than the table holds
// The first section header with a long name also has the string table read, once, with
// the stream put back where it was; see section_subject.
void read_sect_head(InputFile& in, unsigned index);

// What the first bytes of a file say it is when it is plainly no COFF object of this
// kind ("an ELF file"), or null. `bytes` holds the first `len` bytes of the file.
const char* other_format(const unsigned char* bytes, std::size_t len);

// The file header version whose section headers are the 48 bytes this reader takes.
inline constexpr std::uint16_t kVersion48 = 0xC2;

// The name field as text: up to the first zero byte, or all eight bytes.
std::string_view sect_name_text(const SectHead& sect);

// The name text is ".boot_L" exactly when the eight bytes are ".boot_L" and a zero; one
// comparison, as it is asked several times for every section.
inline bool is_boot_section(const SectHead& sect) {
    static_assert(sizeof sect.SectName == sizeof ".boot_L");
    return std::memcmp(sect.SectName, ".boot_L", sizeof sect.SectName) == 0;
}
bool has_no_name(const SectHead& sect);

// A name kept in the string table: the first four bytes zero, the next four the name's
// offset in the table (never below 4, where the table's size word stands).
bool has_long_name(const SectHead& sect);

// The long name of `sect` from the string table of the object being read, or empty when
// it has none or the table could not be read or does not hold it.
std::string_view long_name_text(const SectHead& sect);

// How a section is named in messages: "section 7 (.text)", "section 4 (.ramfuncs_copy)" for
// a long name, "section 9 (unnamed)" for none, followed by a space and `what` unless that
// is empty ("section 7 (.text) data"). Bytes of the name that are control bytes, or that
// do not form text in the console's character set, are written \xHH, so that a message
// stays one line and shows what the name holds. Formed without allocation for the reads
// and warnings that name a section; a text longer than the buffer is cut.
struct SectionSubject {
    char text[192];
};
SectionSubject section_subject(unsigned index, const char* what);

// The same, for messages put together as strings.
std::string section_label(unsigned index);

// Section `index`'s name alone, the long name where the string table has one, for a line
// of a table: with `as_text_only` escaped as messages escape it (and cut likewise), else
// its bytes as they are but for control bytes, written \xHH so that a line stays one.
// Empty for an unnamed section.
SectionSubject section_name_shown(unsigned index, bool as_text_only);

// Targets whose section sizes count 16-bit words, where a section whose Reserved field
// marks it byte-counted counts bytes all the same.
bool is_word_target();
bool counts_words(const SectHead& s);
