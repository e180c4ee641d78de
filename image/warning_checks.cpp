#include "image/warning_checks.h"

#include "coff/coff_headers.h"
#include "image/image_layout.h"
#include "image/rom_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace {

// What a check has at hand and how it tells: each warning it finds is worded into `text`
// and handed to say(), under the check's name.
struct CheckInput {
    // The text is left as it is: a check writes it only to say something, and clearing it
    // for every section of a full table showed in the run's time.
    CheckInput(unsigned at, std::FILE* stream, const InputFile& input, Warnings& w)
        : index(at), console(stream), in(input), warnings(w) {}

    unsigned index;     // the section, at CheckPoint::SectionHeader
    std::FILE* console; // the listing's stream
    const InputFile& in;
    Warnings& warnings;
    WarningName name = WarningName::LeftOut;
    char text[512];

    void say() {
        if (console != nullptr)
            std::fflush(console); // where both streams meet, the listing so far comes first
        warn(warnings, name, in.path.c_str(), text);
    }
};

using CheckFn = void (*)(CheckInput& c);

struct Check {
    CheckPoint at;
    WarningName name;
    CheckFn run;
};

// snprintf's count, held to what the buffer took.
std::size_t used(int n, std::size_t size) {
    return n < 0 ? 0 : static_cast<std::size_t>(n) < size ? static_cast<std::size_t>(n) : size - 1;
}

void version_not_48_byte_headers(CheckInput& c) {
    if (g_FileHead.usVersion == kVersion48)
        return;
    std::snprintf(c.text, sizeof c.text,
                  "file header version 0x%x is not 0x%x, the version whose section headers are "
                  "48 bytes: the section table is probably misread",
                  unsigned{g_FileHead.usVersion}, unsigned{kVersion48});
    c.say();
}

void optional_header_not_28_bytes(CheckInput& c) {
    const unsigned size = g_FileHead.usOptHeadSize;
    if (size == 0 || size == sizeof(OptHead))
        return;
    std::snprintf(c.text, sizeof c.text,
                  "usOptHeadSize is %u, not %u: the optional header is read as %u bytes and the "
                  "section table from offset 0x%x, so both are probably misread",
                  size, unsigned{sizeof(OptHead)}, unsigned{sizeof(OptHead)},
                  unsigned{sizeof(FileHead) + sizeof(OptHead)});
    c.say();
}

void no_optional_header(CheckInput& c) {
    if (g_FileHead.usOptHeadSize != 0)
        return;
    std::snprintf(c.text, sizeof c.text,
                  "no optional header (usOptHeadSize 0): the object is probably not linked, and "
                  "the image's entry word is 0");
    c.say();
}

void loadable_before_first_record(CheckInput& c) {
    const SectHead& s = g_SectTable[c.index];
    SectionReason reason;
    if (section_use(s, c.index, reason) != SectionUse::LeftOut)
        return;
    const auto size = static_cast<std::uint32_t>(s.SectSize);
    char amount[48];
    if (counts_words(s)) {
        std::snprintf(amount, sizeof amount, "0x%x words (0x%llx bytes)", size,
                      static_cast<unsigned long long>(std::uint64_t{size} * 2));
    } else {
        std::snprintf(amount, sizeof amount, "0x%x bytes", size);
    }
    std::snprintf(c.text, sizeof c.text,
                  "%s: %s are left out of the image: sections 0 to %u never become load records",
                  section_subject(c.index, "").text, amount, kFirstLoadSection - 1);
    c.say();
}

void boot_data_at_file_start(CheckInput& c) {
    const SectHead& s = g_SectTable[c.index];
    if (!is_boot_section(s) || s.FilePtrRaw != 0 || s.SectSize <= 0)
        return;
    std::snprintf(c.text, sizeof c.text,
                  "%s: data offset 0: the boot region holds the file's first 0x%x bytes, from its "
                  "file header on, not section data",
                  section_subject(c.index, "").text, static_cast<unsigned>(s.SectSize));
    c.say();
}

// Given whenever a section would carry data: a record, or one the image leaves out, whose
// data would be cut in half all the same once it made a record.
void sizes_count_words(CheckInput& c) {
    if (!is_word_target())
        return;
    unsigned records = 0;
    unsigned first = 0;
    for (unsigned k = 0; k < g_Layout.record_count; ++k) {
        const unsigned i = g_Layout.records[k].usSection;
        if (counts_words(g_SectTable[i]) && records++ == 0)
            first = i;
    }
    unsigned left_out = 0;
    for (unsigned i = 0; records == 0 && i < g_FileHead.usNumSect; ++i) {
        if (g_Layout.sections[i].use == SectionUse::LeftOut && counts_words(g_SectTable[i]) &&
            left_out++ == 0)
            first = i;
    }
    if (records == 0 && left_out == 0)
        return;
    const std::size_t n = used(std::snprintf(c.text, sizeof c.text,
                                             "target 0x%x counts section sizes in 16-bit words, "
                                             "but a load record takes SectSize as bytes: ",
                                             unsigned{g_FileHead.usTargId}),
                               sizeof c.text);
    char* const rest = c.text + n;
    const std::size_t room = sizeof c.text - n;
    const SectionSubject label = section_subject(first, "");
    const char* const subject = label.text;
    if (records == 1) {
        std::snprintf(rest, room, "the record of %s carries half of its data", subject);
    } else if (records > 1) {
        std::snprintf(rest, room, "%u records, the first of %s, carry half of their sections' data",
                      records, subject);
    } else if (left_out == 1) {
        std::snprintf(rest, room,
                      "no record is written, but the left-out %s would carry half of its data",
                      subject);
    } else {
        std::snprintf(rest, room,
                      "no record is written, but %u left-out sections, the first %s, would carry "
                      "half of their data",
                      left_out, subject);
    }
    c.say();
}

// Where a record's data goes: [start, end) on its memory page, in the target's address
// units, as VirtAddr and SectSize count them alike.
struct Destination {
    std::uint16_t page;
    std::uint64_t start;
    std::uint64_t end;
};

Destination destination(unsigned k) {
    const RecordPlace& rec = g_Layout.records[k];
    return {g_SectTable[rec.usSection].MemPage, rec.ulDest,
            std::uint64_t{rec.ulDest} + rec.ulByteCount};
}

// The records in the order of page and start address, with their image order to break
// ties, so that each record need only be compared with the furthest-reaching one before.
std::uint16_t g_ByDestination[kMaxSections];

// Overlaps named one by one; an object whose records all go to one address would
// otherwise bury every other line.
constexpr unsigned kOverlapsNamed = 8;

// The target loads the records in image order, so where two overlap the later one's
// bytes are what stays: the earlier one's are lost without a word at boot time.
void records_overlap(CheckInput& c) {
    const unsigned n = g_Layout.record_count;
    if (n < 2)
        return;
    for (unsigned k = 0; k < n; ++k)
        g_ByDestination[k] = static_cast<std::uint16_t>(k);
    const auto by_destination = [](unsigned a, unsigned b) {
        const Destination da = destination(a);
        const Destination db = destination(b);
        if (da.page != db.page)
            return da.page < db.page;
        if (da.start != db.start)
            return da.start < db.start;
        return a < b;
    };
    // A linker most often lays the records out in address order already.
    if (!std::is_sorted(g_ByDestination, g_ByDestination + n, by_destination))
        std::sort(g_ByDestination, g_ByDestination + n, by_destination);
    unsigned overlaps = 0;
    unsigned reach = g_ByDestination[0]; // of those before on its page, the one that ends last
    for (unsigned j = 1; j < n; ++j) {
        const unsigned k = g_ByDestination[j];
        const Destination here = destination(k);
        const Destination before = destination(reach);
        if (here.page != before.page) {
            reach = k;
            continue;
        }
        if (here.start < before.end && overlaps++ < kOverlapsNamed) {
            const unsigned earlier = std::min(k, reach);
            const unsigned later = std::max(k, reach);
            const std::uint64_t last = std::min(here.end, before.end) - 1;
            std::snprintf(c.text, sizeof c.text,
                          "records %u and %u overlap on page %u at 0x%llx to 0x%llx: %s is "
                          "overwritten there by %s when the target loads the image",
                          earlier, later, unsigned{here.page},
                          static_cast<unsigned long long>(here.start),
                          static_cast<unsigned long long>(last),
                          section_subject(g_Layout.records[earlier].usSection, "").text,
                          section_subject(g_Layout.records[later].usSection, "").text);
            c.say();
        }
        if (here.end > before.end)
            reach = k;
    }
    if (overlaps > kOverlapsNamed) {
        std::snprintf(c.text, sizeof c.text,
                      "%u more records overlap an earlier one on their page (%u overlaps in all)",
                      overlaps - kOverlapsNamed, overlaps);
        c.say();
    }
}

void no_section_data(CheckInput& c) {
    if (g_Layout.boot_bytes > 0 || g_Layout.record_count > 0)
        return;
    std::snprintf(c.text, sizeof c.text,
                  "the image holds no section data: no boot section has bytes and no section from "
                  "index %u on makes a load record",
                  kFirstLoadSection);
    c.say();
}

// The stream may have failed anywhere in the listing; the final flush either fails again
// with the reason or, when the failed write took the buffer with it, leaves its errno.
void listing_incomplete(CheckInput& c) {
    if (c.console == nullptr || (std::fflush(c.console) == 0 && std::ferror(c.console) == 0))
        return;
    const int err = errno;
    std::snprintf(c.text, sizeof c.text, "standard output: the listing is incomplete: %s",
                  err != 0 ? std::strerror(err) : "a write failed");
    c.say();
}

constexpr Check kChecks[] = {
    {CheckPoint::FileHeader, WarningName::Version, version_not_48_byte_headers},
    {CheckPoint::FileHeader, WarningName::OptHeader, optional_header_not_28_bytes},
    {CheckPoint::FileHeader, WarningName::Unlinked, no_optional_header},
    {CheckPoint::SectionHeader, WarningName::LeftOut, loadable_before_first_record},
    {CheckPoint::SectionHeader, WarningName::BootOffset0, boot_data_at_file_start},
    {CheckPoint::Layout, WarningName::WordTarget, sizes_count_words},
    {CheckPoint::Layout, WarningName::Overlap, records_overlap},
    {CheckPoint::Layout, WarningName::EmptyImage, no_section_data},
    {CheckPoint::Image, WarningName::Listing, listing_incomplete},
};

} // namespace

void run_checks(CheckPoint at, unsigned index, const InputFile& in, std::FILE* console,
                Warnings* warnings) {
    if (warnings == nullptr)
        return;
    CheckInput input(index, console, in, *warnings);
    for (const Check& check : kChecks) {
        // A warning turned off costs nothing, not even its condition.
        if (check.at != at || !is_enabled(*warnings, check.name))
            continue;
        input.name = check.name;
        check.run(input);
    }
}

bool checks_refuse(CheckPoint at, unsigned index, const InputFile& in, const Warnings* warnings) {
    if (warnings == nullptr)
        return false;
    bool any_error = false;
    for (const Check& check : kChecks)
        any_error = any_error || (check.at == at && is_enabled(*warnings, check.name) &&
                                  is_error(*warnings, check.name));
    if (!any_error)
        return false; // nothing to learn: the checks run once, when they are reported
    Warnings silent = *warnings;
    silent.report = nullptr;
    silent.errors = 0;
    run_checks(at, index, in, nullptr, &silent);
    return silent.errors > 0;
}
