#include "image/section_fate.h"

#include "base/warnings.h"
#include "coff/coff_headers.h"
#include "image/rom_image.h"

#include <algorithm>
#include <cstdio>

namespace {

struct ReasonWords {
    const char* text;
    const char* key;
};

ReasonWords reason_words(SectionReason reason) {
    switch (reason) {
    case SectionReason::BeforeFirstRecord:
        static_assert(kFirstLoadSection == 5);
        return {"sections 0 to 4 never become records", "leading-section"};
    case SectionReason::Empty:
        return {"empty (size 0 or less)", "empty"};
    case SectionReason::NoData:
        return {"no data in the file", "no-data"};
    case SectionReason::Dummy:
        return {"dummy section (flag 0x01)", "dummy"};
    case SectionReason::Copy:
        return {"copy section (flag 0x10)", "copy"};
    case SectionReason::None:
        break;
    }
    return {nullptr, nullptr};
}

} // namespace

SectionFate section_fate(const ImageLayout& layout, unsigned index) {
    const SectionPlace& place = layout.sections[index];
    const ReasonWords words = reason_words(place.reason);
    SectionFate fate{place.use, words.text, words.key, nullptr, 0, place.image_offset};
    if (place.use == SectionUse::LeftOut)
        fate.warning = warning_name(WarningName::LeftOut);
    if (place.use == SectionUse::Record) {
        // The layout makes records in section order, so the section's record is found by
        // its index without a table of its own.
        const RecordPlace* end = layout.records + layout.record_count;
        const RecordPlace* rec =
            std::lower_bound(layout.records, end, index,
                             [](const RecordPlace& r, unsigned i) { return r.usSection < i; });
        fate.record = static_cast<unsigned>(rec - layout.records);
    }
    return fate;
}

FateText fate_text(const SectionFate& fate) {
    FateText out;
    switch (fate.kind) {
    case SectionUse::Boot:
        std::snprintf(out.text, sizeof out.text, "boot");
        break;
    case SectionUse::Record:
        std::snprintf(out.text, sizeof out.text, "record %u at 0x%llx", fate.record,
                      static_cast<unsigned long long>(fate.offset));
        break;
    case SectionUse::LeftOut:
        std::snprintf(out.text, sizeof out.text, "left out: %s [-W%s]", fate.reason, fate.warning);
        break;
    case SectionUse::NotLoaded:
        std::snprintf(out.text, sizeof out.text, "not loaded: %s", fate.reason);
        break;
    }
    return out;
}

SizeText section_size_text(unsigned index) {
    const SectHead& s = g_SectTable[index];
    SizeText out;
    std::snprintf(out.text, sizeof out.text, "0x%x%s", static_cast<std::uint32_t>(s.SectSize),
                  counts_words(s) ? " words" : "");
    return out;
}

std::uint64_t section_data_bytes(unsigned index) {
    const SectHead& s = g_SectTable[index];
    if (s.SectSize <= 0)
        return 0;
    const auto size = static_cast<std::uint64_t>(s.SectSize);
    return counts_words(s) ? 2 * size : size;
}

const char* section_use_name(SectionUse use) {
    switch (use) {
    case SectionUse::Boot:
        return "boot";
    case SectionUse::Record:
        return "record";
    case SectionUse::LeftOut:
        return "left-out";
    case SectionUse::NotLoaded:
        break;
    }
    return "not-loaded";
}
