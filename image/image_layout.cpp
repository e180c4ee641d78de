#include "image/image_layout.h"

#include "base/failure.h"
#include "image/rom_image.h"

ImageLayout g_Layout;

namespace {

// Why a section that is not a boot section carries nothing, or None when it carries data.
SectionReason missing_data(const SectHead& s) {
    if (s.SectSize <= 0)
        return SectionReason::Empty;
    if (s.FilePtrRaw == 0)
        return SectionReason::NoData;
    const auto flags = static_cast<std::uint32_t>(s.Flags);
    if ((flags & kDummySectionFlag) != 0)
        return SectionReason::Dummy;
    if ((flags & kCopySectionFlag) != 0)
        return SectionReason::Copy;
    return SectionReason::None;
}

} // namespace

SectionUse section_use(const SectHead& s, unsigned index, SectionReason& reason) {
    if (is_boot_section(s)) {
        reason = SectionReason::None;
        return SectionUse::Boot;
    }
    reason = missing_data(s);
    if (reason != SectionReason::None)
        return SectionUse::NotLoaded;
    if (index < kFirstLoadSection) {
        reason = SectionReason::BeforeFirstRecord;
        return SectionUse::LeftOut;
    }
    return SectionUse::Record;
}

void compute_layout(const SectHead* table, unsigned count, ImageLayout& layout) {
    layout.boot_bytes = 0;
    layout.record_count = 0;
    std::uint64_t pos = kFirstRecordOffset;
    bool pad = false; // a zero byte is owed before whatever comes next
    for (unsigned i = 0; i < count; ++i) {
        const SectHead& s = table[i];
        SectionPlace& place = layout.sections[i];
        place.use = section_use(s, i, place.reason);
        place.image_offset = 0;
        if (place.use == SectionUse::Boot) {
            // A boot section's bytes go into the boot region wherever it stands, and the
            // load pass passes over it without aligning.
            place.image_offset = 2 * layout.boot_bytes;
            if (s.SectSize > 0)
                layout.boot_bytes += static_cast<std::uint64_t>(s.SectSize);
            continue;
        }
        if (i < kFirstLoadSection)
            continue;
        // Every section the load pass visits aligns the image, even one that then makes no
        // record; the byte stands before whatever is written next.
        if (pos % 2 != 0) {
            pad = true;
            ++pos;
        }
        if (place.use != SectionUse::Record)
            continue;
        place.image_offset = pos;
        RecordPlace& rec = layout.records[layout.record_count++];
        rec.usSection = static_cast<std::uint16_t>(i);
        rec.pad_before = pad;
        rec.offset = pos;
        rec.ulByteCount = static_cast<std::uint32_t>(s.SectSize);
        rec.ulDest = static_cast<std::uint32_t>(s.VirtAddr);
        pos = record_data_end(rec);
        pad = false;
    }
    layout.pad_before_terminator = pad;
    layout.terminator_offset = pos;
    layout.image_size = pos + kTerminatorSize;
}

std::string describe_image_offset(const ImageLayout& layout, std::uint64_t off) {
    if (off < kBootRegionSize)
        return "boot region unit " + hex(off / 2) + (off % 2 == 0 ? " (low byte)" : " (high byte)");
    if (off < kFirstRecordOffset)
        return "entry word byte " + std::to_string(off - kEntryWordOffset);
    for (unsigned k = 0; k < layout.record_count; ++k) {
        const RecordPlace& rec = layout.records[k];
        if (off < rec.offset)
            return "padding byte before record " + std::to_string(k);
        if (off >= record_data_end(rec))
            continue;
        const std::string where =
            "record " + std::to_string(k) + ", " + section_label(rec.usSection);
        if (off >= record_data_start(rec))
            return where + ", data byte " + hex(off - record_data_start(rec));
        const std::uint64_t j = off - rec.offset;
        return where + ", header byte " + std::to_string(j) +
               (j < 4 ? " (byte count)" : " (destination address)");
    }
    if (off < layout.terminator_offset)
        return "padding byte before the terminator";
    if (off < layout.terminator_offset + kTerminatorSize)
        return "terminator byte " + std::to_string(off - layout.terminator_offset);
    return "fill byte " + hex(off - layout.terminator_offset - kTerminatorSize) +
           " behind the terminator";
}
