#include "run/json_descriptions.h"

#include "base/failure.h"
#include "coff/coff_headers.h"
#include "image/image_input.h"
#include "image/image_layout.h"
#include "image/image_reader.h"
#include "image/rom_image.h"
#include "image/section_fate.h"
#include "platform/files.h"
#include "platform/mbstring.h"

#include <cerrno>
#include <new>

namespace {

// The one place the map takes a section's name from: the linker's long name from the
// string table where the object has one, as its map file shows it.
std::string_view section_name(unsigned index) {
    const SectHead& s = g_SectTable[index];
    if (has_long_name(s)) {
        const std::string_view name = long_name_text(s);
        if (!name.empty())
            return name;
    }
    return sect_name_text(s);
}

const char* reason_name(SectionReason reason) {
    switch (reason) {
    case SectionReason::BeforeFirstRecord:
        return "leading-section";
    case SectionReason::Empty:
        return "empty";
    case SectionReason::NoData:
        return "no-data";
    case SectionReason::Dummy:
        return "dummy";
    case SectionReason::Copy:
        return "copy";
    case SectionReason::None:
        break;
    }
    return "none";
}

} // namespace

void write_run_map(std::FILE* out, const FileNames& names, ImageFormat format, std::uint32_t crc) {
    JsonWriter w(out);
    w.begin_object();
    w.text("input", names.input);
    w.text("output", names.output);
    w.value("format", format_name(format));
    w.value("target", g_FileHead.usTargId);
    w.value("entry", static_cast<std::uint32_t>(g_OptHead.lEntryPoint));
    w.value("image_size", g_Layout.image_size);
    const std::uint64_t fill_from = g_Layout.terminator_offset + kTerminatorSize;
    if (g_Layout.image_size > fill_from) {
        w.begin_object("fill");
        w.value("offset", fill_from);
        w.value("size", g_Layout.image_size - fill_from);
        w.value("byte", g_Layout.fill);
        w.end_object();
    }
    w.value("crc32", crc);
    w.begin_array("sections");
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        const SectHead& s = g_SectTable[i];
        const SectionPlace& place = g_Layout.sections[i];
        w.begin_object();
        w.value("index", i);
        w.text("name", section_name(i));
        w.value("size", s.SectSize);
        w.value("address", static_cast<std::uint32_t>(s.VirtAddr));
        w.value("physical_address", static_cast<std::uint32_t>(s.PhyAddr));
        w.value("file_offset", s.FilePtrRaw);
        w.value("flags", static_cast<std::uint32_t>(s.Flags));
        w.value("page", s.MemPage);
        w.value("use", section_use_name(place.use));
        if (place.use == SectionUse::LeftOut || place.use == SectionUse::NotLoaded)
            w.value("reason", reason_name(place.reason));
        if (place.use == SectionUse::Boot || place.use == SectionUse::Record)
            w.value("image_offset", place.image_offset);
        const SectionFate fate = section_fate(g_Layout, i);
        w.value("fate", fate_text(fate).text);
        if (fate.kind == SectionUse::Record)
            w.value("record", fate.record);
        if (fate.warning != nullptr)
            w.value("warning", fate.warning);
        w.end_object();
    }
    w.end_array();
    w.begin_array("records");
    for (unsigned k = 0; k < g_Layout.record_count; ++k) {
        const RecordPlace& rec = g_Layout.records[k];
        w.begin_object();
        w.value("section", rec.usSection);
        w.value("image_offset", rec.offset);
        w.value("size", rec.ulByteCount);
        w.value("address", rec.ulDest);
        w.end_object();
    }
    w.end_array();
    w.end_object();
    w.finish();
}

namespace {

// The image's records and then its padding bytes, each walk reading only the headers.
class RecordsJson final : public ImageVisitor {
  public:
    RecordsJson(JsonWriter& json, bool padding) : json_(json), padding_(padding) {}

    void record(unsigned, const LoadRecord& rec, std::uint64_t from) override {
        if (!padding_) {
            json_.begin_object();
            json_.value("image_offset", rec.offset);
            json_.value("size", rec.count);
            json_.value("address", rec.dest);
            json_.end_object();
        } else if (rec.offset != from) {
            json_.value(nullptr, from);
        }
    }
    void terminator(std::uint64_t offset, std::uint64_t from) override {
        terminator_ = offset;
        if (padding_ && offset != from)
            json_.value(nullptr, from);
    }
    std::uint64_t terminator_offset() const { return terminator_; }

  private:
    JsonWriter& json_;
    bool padding_;
    std::uint64_t terminator_ = 0;
};

} // namespace

void write_image_json(const std::string& path, std::uint32_t base, std::FILE* out) {
    ImageFile image{open_image(path, base)};
    // A malformed image prints nothing: the whole image is checked before the first
    // byte, and then the records are streamed by walks that read only their headers.
    check_image(image);
    const BootSummary boot = read_boot_region(image);
    JsonWriter json(out);
    json.begin_object();
    json.value("image_size", image.in.size);
    json.value("crc32", image_crc32(image));
    json.value("entry", read_entry_word(image));
    json.value("boot_units", boot.units);
    json.begin_array("records");
    RecordsJson records(json, false);
    walk_image(image, records);
    json.end_array();
    const std::uint64_t terminator = records.terminator_offset();
    json.value("terminator_offset", terminator);
    json.begin_array("padding");
    RecordsJson padding(json, true);
    walk_image(image, padding);
    json.end_array();
    if (image.fill_size > 0) {
        json.begin_object("fill");
        json.value("offset", terminator + kTerminatorSize);
        json.value("size", image.fill_size);
        json.value("byte", image.fill);
        json.end_object();
    }
    json.end_object();
    json.finish();
}
