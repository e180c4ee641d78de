// The image as Intel HEX and S-records, the JSON map of a run and efwdump --json: the
// text formats are read back by a decoder of this file's own that checks every rule the
// writers promise, and the JSON is parsed and held against the layout and zlib's CRC-32.
#include "base/failure.h"
#include "base/json_writer.h"
#include "image/image_format.h"
#include "image/image_layout.h"
#include "image/text_image_reader.h"
#include "run/file_names.h"
#include "run/html_page.h"
#include "run/json_descriptions.h"
#include "run/run_sequence.h"
#include "run/section_table.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The lines of `text`, each of which must end in CR LF.
std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line does not end in CR LF: " << text.substr(at);
            break;
        }
        lines.push_back(text.substr(at, end - at));
        EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << lines.back();
        at = end + 2;
    }
    return lines;
}

// Checks that a data line of `n` bytes at `address` is where the writers put lines: the
// next address, within one aligned 32-byte block.
void check_data_line(std::uint64_t address, std::size_t n, std::uint64_t expected) {
    EXPECT_EQ(address, expected);
    EXPECT_GT(n, 0u);
    EXPECT_LE(address % kDefaultRecordBytes + n, kDefaultRecordBytes) << "line crosses a block";
}

// The bytes an Intel HEX text places, from `base` on.
Bytes read_ihex(const std::string& text, std::uint32_t base) {
    Bytes out;
    std::uint64_t upper = 0;
    bool upper_set = false, ended = false;
    for (const std::string& line : crlf_lines(text)) {
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
            check_data_line(upper << 16 | address, b[0], std::uint64_t{base} + out.size());
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
Bytes read_srec(const std::string& text, std::uint32_t base, const std::string& header) {
    Bytes out;
    const std::vector<std::string> lines = crlf_lines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const bool first = i == 0, last = i + 1 == lines.size();
        const std::vector<unsigned> b = record_bytes(line, 2, 0xFF);
        if (line[0] != 'S' || b.size() < 4 || b.size() != b[0] + 1u) {
            ADD_FAILURE() << "not a record: " << line;
            continue;
        }
        const char type = line[1];
        EXPECT_EQ(type == '0', first) << line;
        EXPECT_EQ(type == '7', last) << line;
        if (type == '0') {
            EXPECT_EQ(std::string(b.begin() + 3, b.end() - 1), header);
        } else if (type == '3' || type == '7') {
            const std::uint32_t address = b[1] << 24 | b[2] << 16 | b[3] << 8 | b[4];
            if (type == '7') {
                EXPECT_EQ(b[0], 5u);
                EXPECT_EQ(address, base) << "the S7 address is the base";
                continue;
            }
            check_data_line(address, b[0] - 5u, std::uint64_t{base} + out.size());
            out.insert(out.end(), b.begin() + 5, b.end() - 1);
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
// efwdump's reader on `text`: the image it carries from `base`, or the fault it names.
struct ReadBack {
    Bytes image;
    std::optional<std::string> error;
};

ReadBack read_back(const std::string& text, std::uint32_t base) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), in);
    std::rewind(in);
    ReadBack r;
    try {
        const auto head = reinterpret_cast<const unsigned char*>(text.data());
        read_text_image(in, detect_image_format(head, text.size()), "x", base, out);
        const std::string bytes = harness::slurp(out);
        r.image.assign(bytes.begin(), bytes.end());
    } catch (const Failure& f) {
        r.error = f.cause;
    }
    std::fclose(in);
    std::fclose(out);
    return r;
}

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
                const ReadBack ours = read_back(t.text, base);
                EXPECT_FALSE(ours.error) << *ours.error;
                EXPECT_EQ(ours.image, image) << "efwdump's reader";
            }
        }
    }
}

// Text in the shapes other tools write it, and the faults efwdump's reader names.
TEST(Formats, EfwdumpReadsTextInEveryShape) {
    const struct {
        const char* label;
        std::uint32_t base;
        const char* text;
        const char* bytes; // what it carries; null when refused
        const char* error;
    } cases[] = {
        {"ihex, LF, type 04", 0x90000000, ":0200000490006A\n:03000000010203F7\n:00000001FF\n",
         "\x01\x02\x03", nullptr},
        {"ihex, type 02 segment", 0x10, ":020000020001FB\n:020000000A0BE9\n:00000001FF\n",
         "\x0a\x0b", nullptr},
        {"ihex, two lines", 0, ":0200000001FFFE\r\n:020002000203F7\r\n:00000001FF\r\n",
         "\x01\xff\x02\x03", nullptr},
        {"S1", 0, "S00600004844521B\nS1050000AABB95\nS9030000FC\n", "\xaa\xbb", nullptr},
        {"S2", 0x10000, "S206010000CCDD4F\nS804000000FB\n", "\xcc\xdd", nullptr},
        {"S3 and a count", 0x90000000, "S30790000000EEFF7B\nS5030001FB\nS705900000006A\n",
         "\xee\xff", nullptr},
        {"not a digit", 0, "S1050000AABB95\nS903000GFC\n", nullptr,
         "line 2: not a hexadecimal digit in the record"},
        {"checksum", 0, "S1050000AABB94\nS9030000FC\n", nullptr, "line 1: checksum mismatch"},
        {"before the base", 0x100, "S1050000AABB95\nS9030000FC\n", nullptr,
         "line 1: address 0x0 lies before the image's base 0x100"},
        {"gap", 0, "S1050000AABB95\nS1050003AABB92\nS9030000FC\n", nullptr,
         "line 2: gap: address 0x3 leaves bytes 0x2 to 0x2 of the image without data (records "
         "are read in address order)"},
        {"overlap", 0, "S1050000AABB95\nS1050001AABB94\nS9030000FC\n", nullptr,
         "line 2: address 0x1 overlaps the bytes before it (the image so far ends at offset 0x2; "
         "records are read in address order)"},
        {"no end record", 0, "S1050000AABB95\n", nullptr, "ends at line 1 without an end record"},
        {"after the end", 0, ":00000001FF\n:0200000001FFFE\n", nullptr,
         "line 2: a record after the end record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const ReadBack r = read_back(c.text, c.base);
        if (c.bytes == nullptr) {
            EXPECT_EQ(r.error, c.error);
            continue;
        }
        EXPECT_FALSE(r.error) << *r.error;
        EXPECT_EQ(r.image, Bytes(c.bytes, c.bytes + std::strlen(c.bytes)));
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

// What put_html_text writes for `bytes`.
std::string html_text(const std::string& bytes) {
    std::FILE* fp = std::tmpfile();
    put_html_text(fp, bytes);
    const std::string text = harness::slurp(fp);
    std::fclose(fp);
    return text;
}

// Names and paths as JSON strings and as HTML text: any bytes give valid text, and none
// can end a string or open an element.
TEST(Json, AnyBytesGiveAValidString) {
    const struct {
        std::string bytes;
        std::string utf8;
        std::string html;
    } cases[] = {
        {"", "", ""},
        {".text", ".text", ".text"},
        {"\xE9\x1B", "\xC3\xA9\x1B", "\\xe9\\x1b"},                      // Latin-1 e-acute, escape
        {"\xC3\xA9", "\xC3\xA9", "\xC3\xA9"},                            // already UTF-8: kept
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},    // four bytes, kept
        {"\xC3", "\xC3\x83", "\\xc3"},                                   // cut short
        {"\xC3(", "\xC3\x83(", "\\xc3("},                                // no continuation
        {"\xC0\x80", "\xC3\x80\xC2\x80", "\\xc0\\x80"},                  // overlong
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80", "\\xed\\xa0\\x80"}, // a surrogate
        {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80",
         "\\xf4\\x90\\x80\\x80"}, // above U+10FFFF
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE", "\\xff\\xfe"},
        {"a\x80z", "a\xC2\x80z", "a\\x80z"},
        {"\xC2\x85", "\xC2\x85", "\\xc2\\x85"}, // a C1 control: UTF-8, but no text
        {"<script>\"&'</script>", "<script>\"&'</script>",
         "&lt;script&gt;&quot;&amp;&#39;&lt;/script&gt;"},
    };
    for (const auto& c : cases) {
        const std::string text = json_text(c.bytes);
        EXPECT_EQ(text, c.utf8) << c.bytes;
        std::string dumped;
        EXPECT_NO_THROW(dumped = json(text).dump()) << c.bytes;
        EXPECT_EQ(json::parse(dumped).get<std::string>(), c.utf8);
        EXPECT_EQ(html_text(c.bytes), c.html) << c.bytes;
    }
}

std::uint32_t zlib_crc(const Bytes& b) {
    return static_cast<std::uint32_t>(crc32(0L, b.data(), static_cast<uInt>(b.size())));
}

// efwdump's description of the image at `path`, in-process.
std::string image_json(const std::string& path) {
    std::FILE* out = std::tmpfile();
    write_image_json(path, kDefaultImageBase, out);
    std::string text = harness::slurp(out);
    std::fclose(out);
    return text;
}

// Runs convert_file on `object` in `dir` with a map (and a report, where `report` names
// one), and returns the map parsed.
json converted_map(const harness::ScratchDir& dir, const Object& object, ImageFormat format,
                   Warnings* warnings = nullptr, const char* report = nullptr) {
    coffgen::write_file(dir.file("app.out"), coffgen::build(object));
    FileNames names{"", dir.file("app.out"),
                    dir.file(std::string("app") + format_extension(format))};
    RunOptions options;
    options.quiet = true;
    options.format = format;
    const std::string map_path = dir.file("app.json");
    options.map = map_path.c_str();
    options.report = report;
    EXPECT_TRUE(convert_file(names, options, nullptr, warnings));
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

// Written a value at a time, a document reads as the library's own dump would lay it out.
TEST(Json, StreamedAsTheLibraryLaysItOut) {
    const json cases[] = {
        json::object(),
        json{{"records", json::array()}, {"padding", json::array()}},
        json{{"size", 3}, {"records", {{{"a", 1}, {"b", {1, 2}}}, {{"a", "x\ny"}}}}},
        json{{"old", {{"path", "a.efw"}, {"crc32", 1}}}, {"same", false}},
    };
    for (const json& c : cases) {
        std::FILE* out = std::tmpfile();
        JsonWriter stream(out);
        stream.begin_object();
        for (const auto& [key, value] : c.items()) {
            if (!value.is_array()) {
                stream.value(key.c_str(), value);
                continue;
            }
            stream.begin_array(key.c_str());
            for (const json& element : value)
                stream.value(nullptr, element);
            stream.end_array();
        }
        stream.end_object();
        stream.finish();
        EXPECT_EQ(harness::slurp(out), c.dump(2) + "\n");
        std::fclose(out);
    }
}

// Lines of `text` that start with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, prefix.size(), prefix) == 0)
            found.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return found;
}

// Each fate as the map, the --sections table and the HTML report give it: one wording.
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
    const struct {
        unsigned index;
        const char* use;
        const char* reason; // null: none given
        const char* fate;
    } cases[] = {
        {1, "left-out", "leading-section",
         "left out: sections 0 to 4 never become records [-Wleft-out]"},
        {5, "boot", nullptr, "boot"},
        {6, "record", nullptr, "record 0 at 0x804"},
        {7, "not-loaded", "copy", "not loaded: copy section (flag 0x10)"},
        {8, "not-loaded", "dummy", "not loaded: dummy section (flag 0x01)"},
        {9, "not-loaded", "no-data", "not loaded: no data in the file"},
        {10, "not-loaded", "no-data", "not loaded: no data in the file"},
        {11, "not-loaded", "empty", "not loaded: empty (size 0 or less)"},
    };
    for (const unsigned target : {0x99u, 0x98u}) { // bytes, then 16-bit words
        SCOPED_TRACE(target);
        with_leading.target_id = static_cast<std::uint16_t>(target);
        harness::ScratchDir dir;
        ::Warnings told;
        apply_warning_option(told, "no-error=word-target"); // the image of half the data
        const std::string report = dir.file("app.html");
        const json map = converted_map(dir, with_leading, ImageFormat::Efw, &told, report.c_str());
        std::FILE* fp = std::tmpfile();
        print_section_table(fp, g_Layout);
        const std::string table = harness::slurp(fp);
        std::fclose(fp);
        const std::string page = harness::read_text(report);
        // The report lists the run's warnings by name: the five leading sections', and on
        // the word target the one about sizes in words.
        const auto count = [&](const std::string& what) {
            std::size_t n = 0;
            for (std::size_t at = page.find(what); at != std::string::npos;
                 at = page.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("<li>"), told.count);
        EXPECT_EQ(count("<code>[-Wleft-out]</code>"), 5u);
        EXPECT_EQ(count("<code>[-Wword-target]</code>"), target == 0x98 ? 1u : 0u);
        for (const auto& c : cases) {
            SCOPED_TRACE(c.index);
            const json& s = map["sections"][c.index];
            EXPECT_EQ(s["use"], c.use);
            if (c.reason != nullptr) {
                EXPECT_EQ(s["reason"], c.reason);
            }
            EXPECT_EQ(s["fate"], c.fate);
            char index[8];
            std::snprintf(index, sizeof index, "%5u  ", c.index);
            const auto line = lines_starting(table, index);
            ASSERT_EQ(line.size(), 1u) << table;
            EXPECT_TRUE(line[0].ends_with(std::string("  ") + c.fate)) << line[0];
            const std::string row =
                "<tr id=\"s" + std::to_string(c.index) + "\" class=\"" + c.use + "\">";
            const std::size_t at = page.find(row);
            ASSERT_NE(at, std::string::npos) << row;
            EXPECT_NE(page.find(std::string("<td>") + c.fate + "</td></tr>", at),
                      std::string::npos);
        }
        EXPECT_EQ(map["sections"][6]["record"], 0);
        EXPECT_EQ(map["sections"][1]["warning"], "left-out");
        EXPECT_EQ(map["sections"][5]["image_offset"], 0);
        EXPECT_EQ(map["sections"][11]["size"], -8);
        // Sizes carry their unit on a word target; the data left out (the five leading
        // sections' 37 bytes or words) counts bytes.
        const bool words = target == 0x98;
        EXPECT_NE(lines_starting(table, "    6  .text ")[0].find(words ? " 0x5 words " : " 0x5 "),
                  std::string::npos);
        EXPECT_EQ(lines_starting(table, "image ")[0],
                  "image " + hex(map["image_size"].get<std::uint64_t>()) +
                      " bytes, 1 records, 0x8 bytes of data in the image, " +
                      (words ? "0x4a" : "0x25") + " bytes of data left out");
    }
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
        // --report draws a well-formed image, every record marked, and writes nothing for
        // a malformed one.
        const std::string page = path + ".html";
        const auto drawn =
            harness::run_program(EFWDUMP_EXE, "efwdump", {"--report", page, path}, "/");
        EXPECT_EQ(drawn.status, c.fault == nullptr ? 0 : 1) << drawn.err;
        EXPECT_EQ(drawn.out, "");
        EXPECT_EQ(harness::file_exists(page), c.fault == nullptr);
        if (c.fault == nullptr) {
            const std::string text = harness::read_text(page);
            EXPECT_NE(text.find("id=\"r3\""), std::string::npos);
            EXPECT_EQ(text.find("id=\"r4\""), std::string::npos);
            EXPECT_TRUE(text.ends_with("</html>\n"));
        }
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
        else if (name.ends_with(".html"))
            EXPECT_TRUE(text.ends_with("</html>\n") && text.find("id=\"r3\"") != std::string::npos)
                << text;
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
        RunCase{"report_beside_map",
                {"--map", "img/m.json", "--report=img/r.html", "fw/app.out"},
                0,
                {"fw/VELTARA-app.efw", "img/m.json", "img/r.html"},
                ""},
        RunCase{"dry_run_writes_nothing",
                {"-n", "-O", "ihex", "--map", "img/m.json", "--report", "img/r.html", "fw/app.out"},
                0,
                {},
                ""},
        RunCase{"dry_run_checks_the_writing",
                {"--dry-run", "-O", "ihex", "--base", "0xFFFFF800", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.hex: image offset 0x800 lies past the 32-bit address range "
                "from base 0xfffff800"},
        RunCase{"dry_run_checks_the_report",
                {"-n", "--report", "fw/./app.out", "fw/app.out"},
                1,
                {},
                "fw/./app.out: the output is the input itself; nothing was replaced"},
        RunCase{"report_is_the_image",
                {"--report", "fw/VELTARA-app.efw", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.efw: the report would replace the image; nothing was written"},
        RunCase{"report_on_standard_output",
                {"-q", "--report", "-", "fw/app.out"},
                1,
                {},
                "-: the report needs a file; standard output takes the image or the listing"},
        usage("sections_and_image_on_standard_output", {"--sections", "-o", "-", "fw/app.out"},
              "--sections needs standard output, which -o - takes for the image"),
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
        RunCase{"srec_16_bits_too_narrow",
                {"-O", "srec", "--srec-address", "16", "--base", "0xF800", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.srec: image offset 0x800 lies past the 16-bit addresses of "
                "--srec-address from base 0xf800"},
        RunCase{"past_the_address_range",
                {"-O", "ihex", "--base", "0xFFFFF800", "--map", "img/m.json", "fw/app.out"},
                1,
                {},
                "fw/VELTARA-app.hex: image offset 0x800 lies past the 32-bit address range "
                "from base 0xfffff800"}),
    [](const auto& p) { return std::string(p.param.label); });

} // namespace
