// The image as Intel HEX and S-records, the JSON map of a run and efwdump --json: the
// text formats are read back by a decoder of this file's own that checks every rule the
// writers promise, and the JSON is parsed and held against the layout and zlib's CRC-32.
#include "base/failure.h"
#include "image/image_format.h"
#include "image/image_layout.h"
#include "image/srecord_sink.h"
#include "run/file_names.h"
#include "run/json_descriptions.h"
#include "run/run_sequence.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::pattern;
using coffgen::Section;
using nlohmann::json;

// --- reading the text formats back -------------------------------------------------

// The bytes of one record after its `prefix` characters, in upper-case hexadecimal, whose
// sum (taken modulo 256) must be `sum`; empty when the record is broken.
std::vector<unsigned> record_bytes(const std::string& line, std::size_t prefix, unsigned sum) {
    const std::string digits = line.substr(prefix);
    EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << line;
    std::vector<unsigned> b;
    for (std::size_t k = 0; k + 1 < digits.size(); k += 2)
        b.push_back(static_cast<unsigned>(std::stoul(digits.substr(k, 2), nullptr, 16)));
    unsigned total = 0;
    for (unsigned v : b)
        total += v;
    EXPECT_EQ(total % 256, sum) << "checksum: " << line;
    return b;
}

// How a text is expected to be written: the options it was written with, and the
// S-records' address width they come to.
struct Expect {
    unsigned record_bytes = kDefaultRecordBytes;
    LineEnd line_end = LineEnd::CrLf;
    unsigned address_bytes = 4; // S3 and S7; 2 for S1 and S9, 3 for S2 and S8
    bool count = false;         // an S5 or S6 record before the end
};

// The lines of `text`, each of which must end in the line end expected.
std::vector<std::string> text_lines(const std::string& text, LineEnd line_end) {
    const std::string end = line_end == LineEnd::CrLf ? "\r\n" : "\n";
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t stop = text.find(end, at);
        if (stop == std::string::npos) {
            ADD_FAILURE() << "a line does not end in the line end: " << text.substr(at);
            break;
        }
        lines.push_back(text.substr(at, stop - at));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
        at = stop + end.size();
    }
    return lines;
}

// Checks that a data line of `n` bytes at `address` is where the writers put lines: the
// next address, within one aligned block of `block` bytes and one 64 KiB segment.
void check_data_line(std::uint64_t address, std::size_t n, std::uint64_t expected, unsigned block) {
    EXPECT_EQ(address, expected);
    EXPECT_GT(n, 0u);
    EXPECT_LE(address % block + n, block) << "line crosses a block";
    EXPECT_LE(address % 0x10000 + n, 0x10000u) << "line crosses a segment";
}

// The bytes an Intel HEX text places, from `base` on.
Bytes read_ihex(const std::string& text, std::uint32_t base, const Expect& e = {}) {
    Bytes out;
    std::uint64_t upper = 0;
    bool upper_set = false, ended = false;
    for (const std::string& line : text_lines(text, e.line_end)) {
        EXPECT_FALSE(ended) << "a line after the end record";
        const std::vector<unsigned> b = record_bytes(line, 1, 0);
        if (line[0] != ':' || b.size() < 5 || b.size() != b[0] + 5u) {
            ADD_FAILURE() << "not a record: " << line;
            continue;
        }
        const unsigned address = b[1] << 8 | b[2];
        switch (b[3]) {
        case 0x04:
            EXPECT_EQ(b[0], 2u);
            EXPECT_EQ(address, 0u);
            upper = b[4] << 8 | b[5];
            upper_set = true;
            break;
        case 0x00:
            EXPECT_TRUE(upper_set) << "data before any extended linear address";
            check_data_line(upper << 16 | address, b[0], std::uint64_t{base} + out.size(),
                            e.record_bytes);
            out.insert(out.end(), b.begin() + 4, b.end() - 1);
            break;
        case 0x01:
            EXPECT_EQ(line, ":00000001FF");
            ended = true;
            break;
        default:
            ADD_FAILURE() << "record type " << b[3] << ": " << line;
        }
    }
    EXPECT_TRUE(ended) << "no end record";
    return out;
}

// The bytes an S-record text places, from `base` on; its S0 must carry `header`.
Bytes read_srec(const std::string& text, std::uint32_t base, const std::string& header,
                const Expect& e = {}) {
    Bytes out;
    const std::vector<std::string> lines = text_lines(text, e.line_end);
    const char data_type = static_cast<char>('1' + (e.address_bytes - 2));
    const char end_type = static_cast<char>('9' - (e.address_bytes - 2));
    // An S-record's count byte covers the address and the checksum too.
    const unsigned block = std::min(e.record_bytes, 255 - e.address_bytes - 1);
    std::size_t data_records = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool first = i == 0, last = i + 1 == lines.size();
        const bool counted = e.count && i + 2 == lines.size();
        const std::vector<unsigned> b = record_bytes(line, 2, 0xFF);
        if (line[0] != 'S' || b.size() < 3 || b.size() != b[0] + 1u) {
            ADD_FAILURE() << "not a record: " << line;
            continue;
        }
        const char type = line[1];
        EXPECT_EQ(type == '0', first) << line;
        EXPECT_EQ(type == end_type, last) << line;
        EXPECT_EQ(type == '5' || type == '6', counted) << line;
        std::uint32_t address = 0;
        for (unsigned k = 0; k < e.address_bytes && k + 1 < b.size(); ++k)
            address = address << 8 | b[1 + k];
        if (type == '0') {
            EXPECT_EQ(std::string(b.begin() + 3, b.end() - 1), header);
        } else if (type == end_type) {
            EXPECT_EQ(b[0], e.address_bytes + 1);
            EXPECT_EQ(address, base) << "the end record's address is the base";
        } else if (type == data_type) {
            check_data_line(address, b[0] - e.address_bytes - 1u, std::uint64_t{base} + out.size(),
                            block);
            out.insert(out.end(), b.begin() + 1 + e.address_bytes, b.end() - 1);
            ++data_records;
        } else if (counted) {
            EXPECT_EQ(b[0], type == '5' ? 3u : 4u);
            EXPECT_EQ(type == '5' ? b[1] << 8 | b[2] : b[1] << 16 | b[2] << 8 | b[3], data_records);
        } else {
            ADD_FAILURE() << "record type " << type << ": " << line;
        }
    }
    return out;
}

// --- converting into a format -------------------------------------------------------

struct TextImage {
    std::string text;
    std::optional<std::string> error;
};

TextImage convert_to(const Bytes& object, ImageFormat format, const TextOptions& text,
                     const SizeOptions& size = {}) {
    std::FILE* in_fp = std::tmpfile();
    std::FILE* out_fp = std::tmpfile();
    std::fwrite(object.data(), 1, object.size(), in_fp);
    std::rewind(in_fp);
    InputFile in;
    in.fp = in_fp;
    in.size = object.size();
    in.path = "input.out";
    const std::unique_ptr<ImageSink> sink = make_image_sink(
        format, text, out_fp, std::string("output") + format_extension(format), "input.out");
    TextImage result;
    try {
        convert(in, *sink, nullptr, nullptr, size);
    } catch (const Failure& f) {
        result.error = f.path + ": " + f.cause;
    }
    std::fflush(out_fp);
    result.text = harness::slurp(out_fp);
    std::fclose(out_fp);
    return result;
}

Object with_sections(std::vector<Section> rest, bool opt = true) {
    return harness::with_sections(std::move(rest), opt);
}

struct ObjectCase {
    const char* label;
    Object object;
};

const ObjectCase kObjects[] = {
    {"example", coffgen::example_object()},
    {"no_optional_header", with_sections({Section{.name = ".text", .data = pattern(3, 1)}}, false)},
    {"boot_between_odd_records",
     with_sections({Section{.name = ".boot_L", .data = pattern(300, 1)},
                    Section{.name = ".text", .data = pattern(5, 2), .virt = 0x40},
                    Section{.name = ".boot_L", .data = pattern(200, 3)},
                    Section{.name = ".data", .data = pattern(33, 4), .virt = 0x80}})},
    {"record_longer_than_the_copy_buffer",
     with_sections({Section{.name = ".text", .data = pattern(70001, 11)}})},
};

// Bases: the default, zero, one whose image crosses a 64 KiB segment off the line grid,
// and the highest at which the image still fits below 4 GiB (0 stands for it).
const std::uint32_t kBases[] = {kDefaultImageBase, 0, 0x0000FFF3, 0xFFFFFFFF};

TEST(Formats, TextReadsBackAsTheImage) {
    for (const ObjectCase& c : kObjects) {
        const Bytes object = coffgen::build(c.object);
        const Bytes image = harness::convert_ok(c.object).image;
        for (std::uint32_t base : kBases) {
            if (base == 0xFFFFFFFF)
                base = static_cast<std::uint32_t>((std::uint64_t{1} << 32) - image.size());
            for (ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecord}) {
                SCOPED_TRACE(std::string(c.label) + " " + format_name(format) + " base " +
                             hex(base));
                const TextImage t = convert_to(object, format, TextOptions{.base = base});
                ASSERT_FALSE(t.error) << *t.error;
                const Bytes back = format == ImageFormat::IntelHex
                                       ? read_ihex(t.text, base)
                                       : read_srec(t.text, base, "input.out");
                EXPECT_EQ(back, image);
            }
        }
    }
}

// Each way of writing the lines reads back as the image, the example's 0xad0 bytes, on
// every object; and an address width too narrow for the image is refused.
TEST(Formats, EveryWayOfWritingLinesReadsBack) {
    const struct {
        const char* label;
        ImageFormat format;
        TextOptions text;
        unsigned address_bytes; // S-records: the width they come to; 0 for the narrowest
        const char* error;      // after "output.srec: ", or null
    } cases[] = {
        {"ihex_1_lf", ImageFormat::IntelHex, {.record_bytes = 1, .line_end = LineEnd::Lf}, 4},
        {"ihex_255_across_a_segment",
         ImageFormat::IntelHex,
         {.base = 0xFFF3, .record_bytes = 255},
         4},
        {"srec_auto_16",
         ImageFormat::SRecord,
         {.base = 0, .srec_address = SRecordAddress::Auto, .srec_count = true},
         0},
        {"srec_16_255_count_lf",
         ImageFormat::SRecord,
         {.base = 0x100,
          .record_bytes = 255,
          .srec_address = SRecordAddress::Bits16,
          .srec_count = true,
          .line_end = LineEnd::Lf},
         2},
        {"srec_32_255_count", ImageFormat::SRecord, {.record_bytes = 255, .srec_count = true}, 4},
        {"srec_16_too_narrow",
         ImageFormat::SRecord,
         {.base = 0xF800, .srec_address = SRecordAddress::Bits16},
         2,
         "image offset 0x800 lies past the 16-bit addresses of --srec-address from base 0xf800"},
        {"srec_24_too_narrow",
         ImageFormat::SRecord,
         {.base = 0x1000000, .srec_address = SRecordAddress::Bits24},
         3,
         "image offset 0x0 lies past the 24-bit addresses of --srec-address from base "
         "0x1000000"},
    };
    for (const ObjectCase& o : kObjects) {
        const Bytes object = coffgen::build(o.object);
        const Bytes image = harness::convert_ok(o.object).image;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(o.label) + " " + c.label);
            const std::uint64_t highest = c.text.base + image.size() - 1;
            if (c.address_bytes == 2 && highest > 0xFFFF && c.error == nullptr)
                continue; // the rows refused show a 16-bit width too narrow
            const unsigned address_bytes = c.address_bytes != 0  ? c.address_bytes
                                           : highest <= 0xFFFF   ? 2
                                           : highest <= 0xFFFFFF ? 3
                                                                 : 4;
            const TextImage t = convert_to(object, c.format, c.text);
            if (c.error != nullptr) {
                EXPECT_EQ(t.error, std::string("output.srec: ") + c.error);
                EXPECT_EQ(t.text, "") << "refused before the first line";
                continue;
            }
            ASSERT_FALSE(t.error) << *t.error;
            const Expect e{c.text.record_bytes, c.text.line_end, address_bytes, c.text.srec_count};
            EXPECT_EQ(c.format == ImageFormat::IntelHex
                          ? read_ihex(t.text, c.text.base, e)
                          : read_srec(t.text, c.text.base, "input.out", e),
                      image);
        }
    }
}

// The fill behind the terminator, as data in the text formats too; the size counted by
// --max-size is the filled one.
TEST(Formats, PaddingFillsUpToTheSizeAsked) {
    const Bytes object = coffgen::build(coffgen::example_object());
    const Bytes image = harness::convert_ok(coffgen::example_object()).image;
    const std::uint64_t size = image.size(); // 0xad0
    const struct {
        const char* label;
        SizeOptions sizes;
        const char* error; // after "input.out: ", or null
    } cases[] = {
        {"exact_size", {.pad_to = size}, nullptr},
        {"zero_fill", {.pad_to = 0x1000, .fill = 0x00}, nullptr},
        {"one_byte_short",
         {.pad_to = size - 1},
         "the image is 0xad0 bytes, 0x1 more than --pad-to 0xacf"},
        {"max_size_counts_the_fill",
         {.max_size = 0xfff, .pad_to = 0x1000},
         "the image is 0x1000 bytes, 0x1 more than --max-size 0xfff"},
        {"max_size_at_the_filled_size", {.max_size = 0x1000, .pad_to = 0x1000}, nullptr},
    };
    for (const auto& c : cases) {
        for (ImageFormat format : {ImageFormat::Efw, ImageFormat::IntelHex, ImageFormat::SRecord}) {
            SCOPED_TRACE(std::string(c.label) + " " + format_name(format));
            const TextImage t = convert_to(object, format, TextOptions{}, c.sizes);
            if (c.error != nullptr) {
                EXPECT_EQ(t.error, std::string("input.out: ") + c.error);
                EXPECT_EQ(t.text, "");
                continue;
            }
            ASSERT_FALSE(t.error) << *t.error;
            Bytes padded = image;
            padded.resize(c.sizes.pad_to, c.sizes.fill);
            EXPECT_EQ(format == ImageFormat::IntelHex ? read_ihex(t.text, kDefaultImageBase)
                      : format == ImageFormat::SRecord
                          ? read_srec(t.text, kDefaultImageBase, "input.out")
                          : Bytes(t.text.begin(), t.text.end()),
                      padded);
        }
    }
}

TEST(Formats, AnImagePastTheAddressRangeIsRefused) {
    const Bytes object = coffgen::build(coffgen::example_object());
    const std::size_t size = harness::convert_ok(coffgen::example_object()).image.size();
    const struct {
        std::uint32_t base;
        std::uint64_t first_out; // the image offset that would lie at 4 GiB
    } cases[] = {
        {static_cast<std::uint32_t>((std::uint64_t{1} << 32) - size + 1), size - 1},
        {0xFFFFFF00, 0x100},
        {0xFFFFFFFF, 0x1},
    };
    for (const auto& c : cases) {
        for (ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecord}) {
            const TextImage t = convert_to(object, format, TextOptions{.base = c.base});
            const std::string path = format == ImageFormat::IntelHex ? "output.hex" : "output.srec";
            EXPECT_EQ(t.error, path + ": image offset " + hex(c.first_out) +
                                   " lies past the 32-bit address range from base " + hex(c.base));
        }
    }
}

TEST(Formats, NamesAndAddressesOnTheCommandLine) {
    const struct {
        const char* text;
        bool ok;
        std::uint32_t value;
    } addresses[] = {
        {"0", true, 0},
        {"0x90000000", true, 0x90000000},
        {"0XabcDEF01", true, 0xABCDEF01},
        {"4294967295", true, 0xFFFFFFFF},
        {"010", true, 10}, // not octal
        {"0xFFFFFFFF", true, 0xFFFFFFFF},
        {"0x100000000", false, 0},
        {"4294967296", false, 0},
        {"", false, 0},
        {"0x", false, 0},
        {"-1", false, 0},
        {"0x1g", false, 0},
        {"12a", false, 0},
        {" 1", false, 0},
    };
    for (const auto& c : addresses) {
        std::uint32_t value = 7;
        EXPECT_EQ(parse_address(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 7u) << c.text;
    }
    const struct {
        const char* name;
        bool ok;
        ImageFormat format;
        const char* extension;
    } formats[] = {
        {"efw", true, ImageFormat::Efw, ".efw"},
        {"ihex", true, ImageFormat::IntelHex, ".hex"},
        {"srec", true, ImageFormat::SRecord, ".srec"},
        {"hex", false, ImageFormat::Efw, ""},
        {"IHEX", false, ImageFormat::Efw, ""},
        {"", false, ImageFormat::Efw, ""},
    };
    for (const auto& c : formats) {
        ImageFormat format = ImageFormat::Efw;
        EXPECT_EQ(parse_image_format(c.name, format), c.ok) << c.name;
        EXPECT_EQ(format, c.format) << c.name;
        if (c.ok) {
            EXPECT_STREQ(format_name(format), c.name);
            EXPECT_STREQ(format_extension(format), c.extension);
        }
    }
}

TEST(Formats, DerivedNamesEndInTheFormatsExtension) {
    const struct {
        std::string output;
        const char* extension;
        std::string expected;
    } cases[] = {
        {"fw/VELTARA-app.efw", ".hex", "fw/VELTARA-app.hex"},
        {"fw.efw/VELTARA-app.efw", ".srec", "fw.efw/VELTARA-app.srec"},
        {"VELTARA-app.obj", ".hex", "VELTARA-app.obj.hex"},
        {"VELTARA-app.efw.efw", ".hex", "VELTARA-app.efw.hex"},
        {"VELTARA-app.EFW", ".hex", "VELTARA-app.EFW.hex"},
        {"VELTARA-", ".srec", "VELTARA-.srec"},
    };
    for (const auto& c : cases) {
        std::string output = c.output;
        use_extension(output, c.extension);
        EXPECT_EQ(output, c.expected) << c.output;
    }
    // Through the command line's choice: a derived name takes it, a given one does not.
    NameChoice choice{.input = "fw/app.out", .extension = ".hex"};
    EXPECT_EQ(resolve_file_names(nullptr, choice).output, "fw/VELTARA-app.hex");
    choice.output = "img/x.efw";
    EXPECT_EQ(resolve_file_names(nullptr, choice).output, "img/x.efw");
}

// --- JSON ---------------------------------------------------------------------------

TEST(Json, AnyBytesGiveAValidString) {
    const struct {
        std::string bytes;
        std::string utf8;
    } cases[] = {
        {"", ""},
        {".text", ".text"},
        {"\xE9\x1B", "\xC3\xA9\x1B"},                             // Latin-1 e-acute, escape
        {"\xC3\xA9", "\xC3\xA9"},                                 // already UTF-8: kept
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},                 // four bytes, kept
        {"\xC3", "\xC3\x83"},                                     // cut short
        {"\xC3(", "\xC3\x83("},                                   // no continuation
        {"\xC0\x80", "\xC3\x80\xC2\x80"},                         // overlong
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},             // a surrogate
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"}, // above U+10FFFF
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE"},
        {"a\x80z", "a\xC2\x80z"},
    };
    for (const auto& c : cases) {
        const std::string text = json_text(c.bytes);
        EXPECT_EQ(text, c.utf8) << c.bytes;
        std::string dumped;
        EXPECT_NO_THROW(dumped = json(text).dump()) << c.bytes;
        EXPECT_EQ(json::parse(dumped).get<std::string>(), c.utf8);
    }
}

std::uint32_t zlib_crc(const Bytes& b) {
    return static_cast<std::uint32_t>(crc32(0L, b.data(), static_cast<uInt>(b.size())));
}

// Runs convert_file on `object` in `dir` with a map, and returns the map parsed.
json converted_map(const harness::ScratchDir& dir, const Object& object, ImageFormat format) {
    coffgen::write_file(dir.file("app.out"), coffgen::build(object));
    FileNames names{"", dir.file("app.out"),
                    dir.file(std::string("app") + format_extension(format))};
    RunOptions options;
    options.quiet = true;
    options.format = format;
    const std::string map_path = dir.file("app.json");
    options.map = map_path.c_str();
    EXPECT_TRUE(convert_file(names, options, nullptr));
    return json::parse(harness::read_text(map_path));
}

TEST(Json, TheMapAgreesWithTheLayoutAndTheImage) {
    std::vector<ObjectCase> objects(std::begin(kObjects), std::end(kObjects));
    objects.push_back({"name_with_latin1_and_escape",
                       with_sections({Section{.name = "\xE9\x1B", .data = pattern(7, 5)}})});
    for (const ObjectCase& c : objects) {
        for (ImageFormat format : {ImageFormat::Efw, ImageFormat::IntelHex}) {
            SCOPED_TRACE(std::string(c.label) + " " + format_name(format));
            harness::ScratchDir dir;
            const json map = converted_map(dir, c.object, format);
            const Bytes image = harness::convert_ok(c.object).image;
            EXPECT_EQ(map["input"], dir.file("app.out"));
            EXPECT_EQ(map["output"], dir.file(std::string("app") + format_extension(format)));
            EXPECT_EQ(map["format"], format_name(format));
            EXPECT_EQ(map["target"], c.object.target_id);
            EXPECT_EQ(map["entry"], c.object.opt ? c.object.opt->entry : 0);
            EXPECT_EQ(map["image_size"], image.size());
            EXPECT_EQ(map["crc32"], zlib_crc(image));

            ASSERT_EQ(map["sections"].size(), c.object.sections.size());
            for (std::size_t i = 0; i < c.object.sections.size(); ++i) {
                const Section& s = c.object.sections[i];
                const json& m = map["sections"][i];
                const SectionPlace& place = g_Layout.sections[i];
                EXPECT_EQ(m["index"], i);
                EXPECT_EQ(m["name"], json_text(s.name.substr(0, 8)));
                EXPECT_EQ(m["size"], s.size.value_or(static_cast<std::int32_t>(s.data.size())));
                EXPECT_EQ(m["address"], static_cast<std::uint32_t>(s.virt));
                EXPECT_EQ(m["physical_address"], static_cast<std::uint32_t>(s.phy));
                EXPECT_EQ(m["flags"], static_cast<std::uint32_t>(s.flags));
                EXPECT_EQ(m["page"], s.mem_page);
                const bool placed =
                    place.use == SectionUse::Boot || place.use == SectionUse::Record;
                EXPECT_EQ(m.contains("image_offset"), placed);
                EXPECT_EQ(m.contains("reason"), !placed);
                if (placed) {
                    EXPECT_EQ(m["image_offset"], place.image_offset);
                }
            }
            ASSERT_EQ(map["records"].size(), g_Layout.record_count);
            for (unsigned k = 0; k < g_Layout.record_count; ++k) {
                const json& r = map["records"][k];
                const RecordPlace& rec = g_Layout.records[k];
                EXPECT_EQ(r["section"], rec.usSection);
                EXPECT_EQ(r["image_offset"], rec.offset);
                EXPECT_EQ(r["size"], rec.ulByteCount);
                EXPECT_EQ(r["address"], rec.ulDest);
                EXPECT_EQ(map["sections"][rec.usSection]["use"], "record");
                EXPECT_EQ(map["sections"][rec.usSection]["image_offset"], rec.offset);
            }

            // efwdump --json on the binary image: the same records, size and sum.
            coffgen::write_file(dir.file("app.efw"), image);
            const json described = json::parse(image_json(dir.file("app.efw")));
            EXPECT_EQ(described["image_size"], map["image_size"]);
            EXPECT_EQ(described["crc32"], map["crc32"]);
            EXPECT_EQ(described["entry"], map["entry"]);
            EXPECT_EQ(described["terminator_offset"], image.size() - 8);
            ASSERT_EQ(described["records"].size(), map["records"].size());
            std::vector<std::uint64_t> padding;
            std::uint64_t end = 0x804;
            for (std::size_t k = 0; k < map["records"].size(); ++k) {
                json rec = map["records"][k];
                rec.erase("section");
                EXPECT_EQ(described["records"][k], rec);
                if (rec["image_offset"] != end)
                    padding.push_back(end);
                end =
                    rec["image_offset"].get<std::uint64_t>() + 8 + rec["size"].get<std::uint64_t>();
            }
            if (end != image.size() - 8)
                padding.push_back(end);
            EXPECT_EQ(described["padding"], json(padding));
        }
    }
}

TEST(Json, TheMapNamesEverySectionsUse) {
    const Object o = with_sections({Section{.name = ".boot_L", .data = pattern(3, 1)},
                                    Section{.name = ".text", .data = pattern(5, 2)},
                                    Section{.name = ".copy", .data = pattern(6, 3), .flags = 0x10},
                                    Section{.name = ".dummy", .data = pattern(7, 4), .flags = 0x01},
                                    Section{.name = ".bss", .flags = 0x80, .size = 0x100},
                                    Section{.name = ".noptr", .data = pattern(8, 5), .file_ptr = 0},
                                    Section{.name = ".neg", .data = pattern(8, 6), .size = -8}});
    Object with_leading = o;
    with_leading.sections[1].data = pattern(4, 9); // a leading section that would carry data
    harness::ScratchDir dir;
    const json map = converted_map(dir, with_leading, ImageFormat::Efw);
    const struct {
        unsigned index;
        const char* use;
        const char* reason; // null: none given
    } cases[] = {
        {1, "left-out", "leading-section"},
        {5, "boot", nullptr},
        {6, "record", nullptr},
        {7, "not-loaded", "copy"},
        {8, "not-loaded", "dummy"},
        {9, "not-loaded", "no-data"},
        {10, "not-loaded", "no-data"},
        {11, "not-loaded", "empty"},
    };
    for (const auto& c : cases) {
        const json& s = map["sections"][c.index];
        EXPECT_EQ(s["use"], c.use) << c.index;
        if (c.reason != nullptr) {
            EXPECT_EQ(s["reason"], c.reason) << c.index;
        }
    }
    EXPECT_EQ(map["sections"][5]["image_offset"], 0);
    EXPECT_EQ(map["sections"][11]["size"], -8);
}

// --- the programs ---------------------------------------------------------------------

TEST(Json, EfwdumpPrintsNothingForAMalformedImage) {
    harness::ScratchDir dir;
    const Bytes good = harness::convert_ok(coffgen::example_object()).image;
    Bytes longer = good, high = good, cut = good, filled = good;
    longer.push_back(0x41);
    longer.push_back(0x42);
    filled.resize(0x1000, 0xFF);
    high[1] = 0x01;
    cut.resize(cut.size() - 1);
    const struct {
        const char* label;
        Bytes image;
        const char* fault; // null for a well-formed image
    } cases[] = {
        {"good", good, nullptr},
        {"filled", filled, nullptr},
        {"two_values_after_the_terminator", longer, "0x2 bytes after the terminator record"},
        {"boot_high_byte", high, "non-zero high byte 0x1 in the boot region"},
        {"cut_short", cut, "file ends without a terminator record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = dir.file(std::string(c.label) + ".efw");
        coffgen::write_file(path, c.image);
        const auto r = harness::run_program(EFWDUMP_EXE, "efwdump", {"--json", path}, "/");
        if (c.fault == nullptr) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, image_json(path));
            EXPECT_EQ(json::parse(r.out)["crc32"], zlib_crc(c.image));
            EXPECT_EQ(json::parse(r.out)["boot_units"], 37);
            if (c.image.size() > good.size()) {
                EXPECT_EQ(json::parse(r.out)["fill"], json({{"offset", good.size()},
                                                            {"size", c.image.size() - good.size()},
                                                            {"byte", 0xFF}}));
            }
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("efwdump: error: " + path + ": " + c.fault, 0), 0u) << r.err;
    }
}

struct RunCase {
    const char* label;
    std::vector<std::string> args; // run in a directory holding fw/app.out and img/
    int status;
    std::vector<std::string> added; // files the run adds, by path
    std::string err;                // after "coff2efw: error: ", when the run fails
};

class FormatRuns : public testing::TestWithParam<RunCase> {};

TEST_P(FormatRuns, WriteWhatTheyNameOrNothing) {
    const RunCase& c = GetParam();
    harness::ScratchDir dir;
    std::filesystem::create_directories(dir.file("fw"));
    std::filesystem::create_directories(dir.file("img"));
    const Object object = coffgen::example_object();
    coffgen::write_file(dir.file("fw/app.out"), coffgen::build(object));
    harness::write_text(dir.file("fw/config.ini"), harness::kAppConfig);
    const auto before = harness::list_dir(dir.file("fw"));
    const auto r =
        harness::run_program(harness::converter_path(), dir.file("fw/coff2efw"), c.args, dir.path);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err, c.err.empty() ? "" : "coff2efw: error: " + c.err + "\n");

    std::vector<std::string> found;
    for (const char* sub : {"fw", "img"})
        for (const std::string& name : harness::list_dir(dir.file(sub)))
            if (!(std::string(sub) == "fw" && (name == "app.out" || name == "config.ini")))
                found.push_back(std::string(sub) + "/" + name);
    EXPECT_EQ(found, c.added);

    const Bytes image = harness::convert_ok(object).image;
    const auto given = [&](const char* arg) {
        return std::find(c.args.begin(), c.args.end(), arg) != c.args.end();
    };
    const std::uint32_t base = given("0") ? 0 : kDefaultImageBase;
    for (const std::string& name : c.added) {
        const std::string text = harness::read_text(dir.file(name));
        if (name.ends_with(".json"))
            EXPECT_EQ(json::parse(text)["crc32"], zlib_crc(image));
        else if (given("ihex"))
            EXPECT_EQ(read_ihex(text, base), image);
        else if (given("srec") || given("--format=srec"))
            EXPECT_EQ(read_srec(text, base, "app.out"), image);
        else
            EXPECT_EQ(Bytes(text.begin(), text.end()), image);
    }
}

RunCase usage(const char* label, std::vector<std::string> args, const std::string& what) {
    return {label, std::move(args), 2, {}, what + "\nTry 'coff2efw --help'."};
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatRuns,
    testing::Values(
        RunCase{"ihex_derived", {"-O", "ihex", "fw/app.out"}, 0, {"fw/VELTARA-app.hex"}, ""},
        RunCase{"srec_derived", {"--format=srec", "fw/app.out"}, 0, {"fw/VELTARA-app.srec"}, ""},
        RunCase{"ihex_from_the_profile",
                {"-qO", "ihex", "--config", "fw/config.ini"},
                0,
                {"fw/VELTARA-app.hex"},
                ""},
        RunCase{"given_name_kept",
                {"-O", "srec", "-o", "img/x.efw", "fw/app.out"},
                0,
                {"img/x.efw"},
                ""},
        RunCase{"base_zero_and_map",
                {"-O", "ihex", "--base", "0", "--map", "img/m.json", "fw/app.out"},
                0,
                {"fw/VELTARA-app.hex", "img/m.json"},
                ""},
        RunCase{"efw_map",
                {"--map=img/m.json", "fw/app.out"},
                0,
                {"fw/VELTARA-app.efw", "img/m.json"},
                ""},
        usage("unknown_format", {"-O", "bin", "fw/app.out"},
              "invalid argument 'bin' for '--format' (efw, ihex or srec)"),
        usage("base_without_text_format", {"--base", "0", "fw/app.out"},
              "--base applies to -O ihex and -O srec only"),
        usage("line_end_without_text_format", {"--line-end=lf", "fw/app.out"},
              "--line-end applies to -O ihex and -O srec only"),
        usage("srec_count_with_ihex", {"-O", "ihex", "--srec-count", "fw/app.out"},
              "--srec-count applies to -O srec only"),
        usage("fill_without_pad_to", {"--fill", "0", "fw/app.out"}, "--fill goes with --pad-to"),
        usage("bad_base", {"-O", "srec", "--base=0x1g", "fw/app.out"},
              "invalid argument '0x1g' for '--base' (0x and hexadecimal digits, or decimal "
              "digits, up to 0xFFFFFFFF)"),
        RunCase{"map_is_the_image",
                {"--map", "fw/VELTARA-app.efw", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.efw: the map would replace the image; nothing was written"},
        RunCase{"map_is_the_input",
                {"-O", "ihex", "--map", "fw/../fw/app.out", "fw/app.out"},
                1,
                {},
                "fw/../fw/app.out: the output is the input itself; nothing was replaced"},
        RunCase{"past_the_address_range",
                {"-O", "ihex", "--base", "0xFFFFF800", "--map", "img/m.json", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.hex: image offset 0x800 lies past the 32-bit address range "
                "from base 0xfffff800"}),
    [](const auto& p) { return std::string(p.param.label); });

} // namespace
