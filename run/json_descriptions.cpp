#include "run/json_descriptions.h"

#include "base/failure.h"
#include "coff/coff_headers.h"
#include "image/image_input.h"
#include "image/image_layout.h"
#include "image/image_reader.h"
#include "image/rom_image.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/json_stream.h"

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

const char* use_name(SectionUse use) {
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

std::string dump(const Json& j) {
    return j.dump(2) + "\n";
}

} // namespace

std::string json_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        const std::size_t len = platform::utf8_sequence_length(p, left);
        if (len > 0) {
            out.append(reinterpret_cast<const char*>(p), len);
        } else {
            out += static_cast<char>(0xC0 | (p[0] >> 6));
            out += static_cast<char>(0x80 | (p[0] & 0x3F));
        }
        const std::size_t step = len > 0 ? len : 1;
        p += step;
        left -= step;
    }
    return out;
}

std::string run_map_json(const FileNames& names, ImageFormat format, std::uint32_t crc) {
    Json sections = Json::array();
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        const SectHead& s = g_SectTable[i];
        const SectionPlace& place = g_Layout.sections[i];
        Json j;
        j["index"] = i;
        j["name"] = json_text(section_name(i));
        j["size"] = s.SectSize;
        j["address"] = static_cast<std::uint32_t>(s.VirtAddr);
        j["physical_address"] = static_cast<std::uint32_t>(s.PhyAddr);
        j["file_offset"] = s.FilePtrRaw;
        j["flags"] = static_cast<std::uint32_t>(s.Flags);
        j["page"] = s.MemPage;
        j["use"] = use_name(place.use);
        if (place.use == SectionUse::LeftOut || place.use == SectionUse::NotLoaded)
            j["reason"] = reason_name(place.reason);
        if (place.use == SectionUse::Boot || place.use == SectionUse::Record)
            j["image_offset"] = place.image_offset;
        sections.push_back(std::move(j));
    }
    Json records = Json::array();
    for (unsigned k = 0; k < g_Layout.record_count; ++k) {
        const RecordPlace& rec = g_Layout.records[k];
        records.push_back(Json{{"section", rec.usSection},
                               {"image_offset", rec.offset},
                               {"size", rec.ulByteCount},
                               {"address", rec.ulDest}});
    }
    Json map;
    map["input"] = json_text(names.input);
    map["output"] = json_text(names.output);
    map["format"] = format_name(format);
    map["target"] = g_FileHead.usTargId;
    map["entry"] = static_cast<std::uint32_t>(g_OptHead.lEntryPoint);
    map["image_size"] = g_Layout.image_size;
    map["crc32"] = crc;
    map["sections"] = std::move(sections);
    map["records"] = std::move(records);
    return dump(map);
}

namespace {

// The image's records and then its padding bytes, each walk reading only the headers.
class RecordsJson final : public ImageVisitor {
  public:
    RecordsJson(JsonStream& json, bool padding) : json_(json), padding_(padding) {}

    void record(unsigned, const LoadRecord& rec, std::uint64_t from) override {
        if (!padding_)
            json_.value(
                nullptr,
                Json{{"image_offset", rec.offset}, {"size", rec.count}, {"address", rec.dest}});
        else if (rec.offset != from)
            json_.value(nullptr, from);
    }
    void terminator(std::uint64_t offset, std::uint64_t from) override {
        terminator_ = offset;
        if (padding_ && offset != from)
            json_.value(nullptr, from);
    }
    std::uint64_t terminator_offset() const { return terminator_; }

  private:
    JsonStream& json_;
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
    JsonStream json(out);
    json.begin_object();
    json.value("image_size", image.in.size);
    json.value("crc32", image_crc32(image));
    json.value("entry", read_entry_word(image));
    json.value("boot_units", boot.units);
    json.begin_array("records");
    RecordsJson records(json, false);
    walk_image(image, records);
    json.end_array();
    json.value("terminator_offset", records.terminator_offset());
    json.begin_array("padding");
    RecordsJson padding(json, true);
    walk_image(image, padding);
    json.end_array();
    json.end_object();
    json.finish();
}

void MapFile::write(const std::string& text, const FileNames& names, const InputFile& in) {
    if (path_ == nullptr)
        return;
    if (names.output == path_)
        fail(path_, "the map would replace the image; nothing was written");
    if (std::string_view(path_) == kStandardOutputName)
        fail(path_, "the map needs a file; standard output takes the image or the listing");
    file_.emplace(path_, prefix_);
    refuse_to_replace(*file_, in);
    refuse_to_replace(*file_, names.config, "the configuration file");
    refuse_to_replace(*file_, names.output, "the image");
    file_->open();
    if (std::fwrite(text.data(), 1, text.size(), file_->stream()) != text.size() ||
        std::fflush(file_->stream()) != 0)
        fail(path_, "cannot write the map: " + platform::error_text(errno));
}

void MapFile::commit(const FileNames& names) {
    if (!file_)
        return;
    // A map whose path leads to the image just put in place, through a link or another
    // spelling, must not replace it.
    refuse_to_replace(*file_, names.output, "the image");
    file_->commit();
}
