#include "image/warning_checks.h"

#include "coff/coff_headers.h"
#include "image/image_layout.h"
#include "image/rom_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

struct CheckInput {
    unsigned index;     // the section, at CheckPoint::SectionHeader
    std::FILE* console; // the listing's stream
};

// Words the warning into `text` and returns true when the condition holds.
using CheckFn = bool (*)(const CheckInput& c, char* text, std::size_t size);

struct Check {
    CheckPoint at;
    CheckFn holds;
};

// The file header version whose section headers are the 48 bytes this reader takes.
constexpr std::uint16_t kVersion48 = 0xC2;

// Targets whose section sizes count 16-bit words; a section whose Reserved field is
// kByteCounted counts bytes even there.
constexpr std::uint16_t kWordTargets[] = {0x98, 0x9D};
constexpr std::uint16_t kByteCounted = 8;

bool version_not_48_byte_headers(const CheckInput&, char* text, std::size_t size) {
    if (g_FileHead.usVersion == kVersion48)
        return false;
    std::snprintf(text, size,
                  "file header version 0x%x is not 0x%x, the version whose section headers are "
                  "48 bytes: the section table is probably misread",
                  unsigned{g_FileHead.usVersion}, unsigned{kVersion48});
    return true;
}

bool no_optional_header(const CheckInput&, char* text, std::size_t size) {
    if (g_FileHead.usOptHeadSize != 0)
        return false;
    std::snprintf(text, size,
                  "no optional header (usOptHeadSize 0): the object is probably not linked, and "
                  "the image's entry word is 0");
    return true;
}

bool loadable_before_first_record(const CheckInput& c, char* text, std::size_t size) {
    const SectHead& s = g_SectTable[c.index];
    SectionReason reason;
    if (section_use(s, c.index, reason) != SectionUse::LeftOut)
        return false;
    std::snprintf(text, size,
                  "%s: 0x%x bytes are left out of the image: sections 0 to %u never become load "
                  "records",
                  section_subject(c.index, "").text, static_cast<unsigned>(s.SectSize),
                  kFirstLoadSection - 1);
    return true;
}

bool boot_data_at_file_start(const CheckInput& c, char* text, std::size_t size) {
    const SectHead& s = g_SectTable[c.index];
    if (!is_boot_section(s) || s.FilePtrRaw != 0 || s.SectSize <= 0)
        return false;
    std::snprintf(text, size,
                  "%s: data offset 0: the boot region holds the file's first 0x%x bytes, from its "
                  "file header on, not section data",
                  section_subject(c.index, "").text, static_cast<unsigned>(s.SectSize));
    return true;
}

bool sizes_count_words(const CheckInput&, char* text, std::size_t size) {
    const std::uint16_t target = g_FileHead.usTargId;
    if (std::find(std::begin(kWordTargets), std::end(kWordTargets), target) ==
        std::end(kWordTargets))
        return false;
    unsigned records = 0;
    unsigned first = 0;
    for (unsigned k = 0; k < g_Layout.record_count; ++k) {
        const unsigned i = g_Layout.records[k].usSection;
        if (g_SectTable[i].Reserved == kByteCounted)
            continue;
        if (records++ == 0)
            first = i;
    }
    if (records == 0)
        return false;
    const int n = std::snprintf(text, size,
                                "target 0x%x counts section sizes in 16-bit words, but a load "
                                "record takes SectSize as bytes: ",
                                unsigned{target});
    const std::size_t used =
        static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size;
    if (records == 1) {
        std::snprintf(text + used, size - used, "the record of %s carries half of its data",
                      section_subject(first, "").text);
    } else {
        std::snprintf(text + used, size - used,
                      "%u records, the first of %s, carry half of their sections' data", records,
                      section_subject(first, "").text);
    }
    return true;
}

bool no_section_data(const CheckInput&, char* text, std::size_t size) {
    if (g_Layout.boot_bytes > 0 || g_Layout.record_count > 0)
        return false;
    std::snprintf(text, size,
                  "the image holds no section data: no boot section has bytes and no section from "
                  "index %u on makes a load record",
                  kFirstLoadSection);
    return true;
}

// The stream may have failed anywhere in the listing; the final flush either fails again
// with the reason or, when the failed write took the buffer with it, leaves its errno.
bool listing_incomplete(const CheckInput& c, char* text, std::size_t size) {
    if (c.console == nullptr || (std::fflush(c.console) == 0 && std::ferror(c.console) == 0))
        return false;
    const int err = errno;
    std::snprintf(text, size, "standard output: the listing is incomplete: %s",
                  err != 0 ? std::strerror(err) : "a write failed");
    return true;
}

constexpr Check kChecks[] = {
    {CheckPoint::FileHeader, version_not_48_byte_headers},
    {CheckPoint::FileHeader, no_optional_header},
    {CheckPoint::SectionHeader, loadable_before_first_record},
    {CheckPoint::SectionHeader, boot_data_at_file_start},
    {CheckPoint::Image, sizes_count_words},
    {CheckPoint::Image, no_section_data},
    {CheckPoint::Image, listing_incomplete},
};

} // namespace

void run_checks(CheckPoint at, unsigned index, const InputFile& in, std::FILE* console,
                Warnings* warnings) {
    if (warnings == nullptr)
        return;
    const CheckInput input{index, console};
    for (const Check& check : kChecks) {
        char text[256];
        if (check.at != at || !check.holds(input, text, sizeof text))
            continue;
        if (console != nullptr)
            std::fflush(console); // where both streams meet, the listing so far comes first
        warn(*warnings, in.path.c_str(), text);
    }
}
