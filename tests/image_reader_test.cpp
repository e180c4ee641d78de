// Images written by the converter, read back: what the reader lists must be exactly the
// sections the object says belong in the image, and every way an image can break must
// be reported with its cause and offset.
#include "base/failure.h"
#include "coff2efw_version.h"
#include "image/image_input.h"
#include "image/image_listing.h"
#include "image/rom_image.h"
#include "run/image_compare.h"
#include "run/image_diff.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::pattern;
using coffgen::Section;
using harness::slurp;

// An image in an anonymous temporary file, open for the reader.
struct TempImage {
    ImageFile file;
    explicit TempImage(const Bytes& bytes) {
        file.in.fp = std::tmpfile();
        if (file.in.fp == nullptr)
            throw std::runtime_error("tmpfile failed");
        if (!bytes.empty()) // an empty vector may hand fwrite a null pointer
            std::fwrite(bytes.data(), 1, bytes.size(), file.in.fp);
        std::rewind(file.in.fp);
        file.in.size = bytes.size();
        file.in.path = "image.efw";
    }
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;
};

struct Dump {
    std::string listing;
    std::optional<std::string> error; // "<what> at offset <x>" when the image is refused
};

Dump dump(const Bytes& image, bool with_data = false) {
    TempImage t(image);
    std::FILE* out = std::tmpfile();
    Dump d;
    try {
        dump_image(t.file, out, with_data);
    } catch (const Failure& f) {
        EXPECT_EQ(f.path, "image.efw");
        d.error = f.cause;
    }
    d.listing = slurp(out);
    std::fclose(out);
    return d;
}

using harness::with_sections;

Bytes convert_ok(const Object& o, std::string* console = nullptr) {
    auto r = harness::convert_ok(o);
    if (console != nullptr)
        *console = r.console;
    return r.image;
}

// zlib's own CRC-32 of the bytes, as the listing and the match line print it.
std::string crc_of(const Bytes& b) {
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", crc32(0, b.data(), static_cast<uInt>(b.size())));
    return text;
}

struct Checked {
    int status = -1;
    std::string out, err;
};

// `efwdump --against app.out image.efw` in-process, the two files in `dir`.
Checked check_against(const harness::ScratchDir& dir, const Bytes& object, const Bytes& image,
                      const SizeOptions& size = {}) {
    coffgen::write_file(dir.file("app.out"), object);
    coffgen::write_file(dir.file("image.efw"), image);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Checked c;
    try {
        c.status = check_image_against(dir.file("app.out"), dir.file("image.efw"),
                                       kDefaultImageBase, out, size);
    } catch (const Failure& f) {
        std::fprintf(err, "efwdump: error: %s: %s\n", f.path.c_str(), f.cause.c_str());
        c.status = 2; // whatever keeps the two from being compared, as efwdump reports it
    }
    c.out = slurp(out);
    c.err = slurp(err);
    std::fclose(out);
    std::fclose(err);
    return c;
}

// What the object says the image must carry, worked out from its description alone.
struct ExpectedRecord {
    std::uint32_t dest;
    Bytes data;
};

std::vector<ExpectedRecord> expected_records(const Object& o) {
    std::vector<ExpectedRecord> out;
    for (std::size_t i = kFirstLoadSection; i < o.sections.size(); ++i) {
        const Section& s = o.sections[i];
        const std::int32_t size = s.size.value_or(static_cast<std::int32_t>(s.data.size()));
        const bool has_data = s.file_ptr ? *s.file_ptr != 0 : !s.data.empty();
        if (s.name == ".boot_L" || size <= 0 || !has_data || (s.flags & 0x11) != 0)
            continue;
        out.push_back({static_cast<std::uint32_t>(s.virt), s.data});
    }
    return out;
}

std::uint32_t expected_boot_units(const Object& o) {
    Bytes boot;
    for (const Section& s : o.sections) {
        if (s.name == ".boot_L")
            boot.insert(boot.end(), s.data.begin(), s.data.end());
    }
    std::uint32_t units = 0;
    for (std::size_t k = 0; k < boot.size(); ++k) {
        if (boot[k] != 0)
            units = static_cast<std::uint32_t>(k + 1);
    }
    return units;
}

struct ReadBack {
    BootSummary boot;
    std::uint32_t entry = 0;
    std::vector<LoadRecord> records;
    std::vector<Bytes> data;
    std::uint64_t terminator = 0;
};

ReadBack read_back(const Bytes& image) {
    TempImage t(image);
    ReadBack rb;
    rb.boot = read_boot_region(t.file);
    check_boot_region(t.file, rb.boot);
    rb.entry = read_entry_word(t.file);
    std::uint64_t pos = kFirstRecordOffset;
    LoadRecord rec;
    while (next_record(t.file, pos, rec)) {
        rb.records.push_back(rec);
        Bytes data(rec.count);
        if (rec.count > 0)
            read_image_at(t.file, record_data_offset(rec), data.data(), data.size());
        rb.data.push_back(data);
    }
    rb.terminator = pos;
    return rb;
}

// The (btad, size) pairs of the converter's progress lines for load records.
std::vector<std::pair<std::uint32_t, std::uint32_t>> progress_of_records(const std::string& text) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    std::size_t at = 0;
    while ((at = text.find(" : btad=[", at)) != std::string::npos) {
        const std::size_t line = text.rfind('\n', at) + 1;
        unsigned btad = 0, phy = 0, virt = 0, size = 0;
        const bool boot = text.compare(line, 7, ".boot_L") == 0;
        if (std::sscanf(text.c_str() + at, " : btad=[%x] dest=[p:%x v:%x] size=[%x]", &btad, &phy,
                        &virt, &size) == 4 &&
            !boot)
            out.emplace_back(btad, size);
        ++at;
    }
    return out;
}

Object many_small_records() {
    std::vector<Section> rest;
    for (int i = 0; i < 40; ++i) {
        rest.push_back(Section{.name = ".s" + std::to_string(i),
                               .data = coffgen::pattern(1 + static_cast<std::size_t>(i % 7),
                                                        static_cast<std::uint8_t>(i)),
                               .virt = 0x1000 * i});
    }
    return with_sections(rest);
}

TEST(ImageReader, ListsExactlyTheSectionsThatBelongInTheImage) {
    Object bare;
    bare.opt = std::nullopt;

    Object full_boot = with_sections({Section{.name = ".text", .data = {1}}});
    full_boot.sections[2] = Section{.name = ".boot_L", .data = coffgen::pattern(1024, 3)};
    full_boot.sections[2].data[1023] = 0x5A;

    Object boot_zero_tail = with_sections({});
    boot_zero_tail.sections[0] = Section{.name = ".boot_L", .data = {7, 0, 9, 0, 0}};
    boot_zero_tail.sections.push_back(Section{.name = ".boot_L", .data = {0, 0}});

    const struct {
        const char* why;
        Object object;
    } cases[] = {
        {"the example", coffgen::example_object()},
        {"no sections", bare},
        {"records of 5 and 4 bytes", with_sections({Section{.data = coffgen::pattern(5, 1)},
                                                    Section{.data = coffgen::pattern(4, 2)}})},
        {"odd last record, unaligned terminator",
         with_sections({Section{.name = ".text", .data = coffgen::pattern(5, 1)}})},
        {"alignment byte for a section without a record before the terminator",
         with_sections({Section{.name = ".text", .data = coffgen::pattern(5, 1)},
                        Section{.name = ".bss", .flags = 0x80, .size = 0x40}})},
        // A count whose low byte is zero behind an alignment byte: a run of zero bytes
        // that is still a well-formed record.
        {"count 0x100 behind padding",
         with_sections({Section{.name = ".a", .data = coffgen::pattern(3, 4)},
                        Section{.name = ".b", .data = Bytes(0x100, 0), .virt = 0x200}})},
        {"sections larger than any buffer",
         with_sections({Section{.name = ".big", .data = coffgen::pattern(25001, 5)},
                        Section{.name = ".big2", .data = coffgen::pattern(10000, 6)}})},
        {"a record larger than two read pieces",
         with_sections(
             {Section{.name = ".huge", .data = coffgen::pattern(2 * kImageReadPiece + 3, 7)}})},
        {"a full boot region", full_boot},
        {"boot data ending in zero bytes", boot_zero_tail},
        {"many small records", many_small_records()},
    };
    harness::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::string console;
        const Bytes image = convert_ok(c.object, &console);
        EXPECT_TRUE(dump(image).listing.ends_with("\ncrc32: " + crc_of(image) + "\n"));
        const ReadBack rb = read_back(image);
        const auto expected = expected_records(c.object);

        EXPECT_EQ(rb.boot.units, expected_boot_units(c.object));
        EXPECT_FALSE(rb.boot.high_byte_set);
        EXPECT_EQ(rb.entry, c.object.opt ? static_cast<std::uint32_t>(c.object.opt->entry) : 0u);
        ASSERT_EQ(rb.records.size(), expected.size());
        std::uint64_t end = kFirstRecordOffset;
        for (std::size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(rb.records[k].offset, end + end % 2) << "record " << k;
            EXPECT_EQ(rb.records[k].dest, expected[k].dest) << "record " << k;
            EXPECT_EQ(rb.records[k].count, expected[k].data.size()) << "record " << k;
            EXPECT_EQ(rb.data[k], expected[k].data) << "record " << k;
            end = record_end(rb.records[k]);
        }
        EXPECT_EQ(rb.terminator, image.size() - kTerminatorSize);

        // The reader places each record where the converter said it wrote it.
        const auto progress = progress_of_records(console);
        ASSERT_EQ(progress.size(), rb.records.size());
        for (std::size_t k = 0; k < progress.size(); ++k) {
            EXPECT_EQ(display_address(rb.records[k].offset), progress[k].first) << "record " << k;
            EXPECT_EQ(rb.records[k].count, progress[k].second) << "record " << k;
        }

        const Checked against = check_against(dir, coffgen::build(c.object), image);
        EXPECT_EQ(against.status, 0) << against.err;
        char size[24];
        std::snprintf(size, sizeof size, "0x%zx", image.size());
        EXPECT_EQ(against.out, dir.file("image.efw") + " matches " + dir.file("app.out") + " (" +
                                   size + " bytes, " + std::to_string(expected.size()) +
                                   (expected.size() == 1 ? " record" : " records") + ", crc32 " +
                                   crc_of(image) + ")\n");
    }
}

TEST(ImageReader, ListingOfTheExample) {
    const Bytes image = convert_ok(coffgen::example_object());
    const Dump d = dump(image);
    ASSERT_FALSE(d.error) << *d.error;
    char tail[64];
    std::snprintf(tail, sizeof tail, "terminator: %zx\nsize: %zx\ncrc32: %s\n", image.size() - 8,
                  image.size(), crc_of(image).c_str());
    // .boot_L holds 0x25 bytes; .text (0x1f3 bytes at 0x3f0000) is the first record.
    EXPECT_EQ(
        d.listing.rfind("boot region: 0x25 units up to the last non-zero one (of 0x400), high "
                        "bytes zero\nentry point: 3f0040\nrecord\toffset\tbtad\t\tsize\tdest"
                        "\tend\n0\t804\t90000804\t1f3\t3f0000\t9ff\n1\ta00\t90000a00\t4d\t"
                        "8000\ta55\n",
                        0),
        0u)
        << d.listing;
    EXPECT_TRUE(d.listing.ends_with(tail)) << d.listing;
}

// The bytes a --data listing shows, in order, with each line's offset checked against
// the running position from `first`.
Bytes hex_dump_bytes(const std::string& listing, std::uint64_t first, std::size_t lines_from,
                     std::size_t count) {
    Bytes out;
    std::size_t at = lines_from;
    std::uint64_t expect_off = first;
    while (out.size() < count) {
        const std::size_t eol = listing.find('\n', at);
        if (eol == std::string::npos || listing[at] != '\t')
            break;
        const std::string line = listing.substr(at, eol - at);
        unsigned long long off = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "\t%llx%n", &off, &used) != 1)
            break;
        EXPECT_EQ(off, expect_off) << line;
        const std::string hex = line.substr(static_cast<std::size_t>(used),
                                            line.find("  |") - static_cast<std::size_t>(used));
        unsigned b = 0;
        int n = 0;
        for (const char* p = hex.c_str(); std::sscanf(p, " %2x%n", &b, &n) == 1; p += n)
            out.push_back(static_cast<std::uint8_t>(b));
        expect_off += 16;
        at = eol + 1;
    }
    return out;
}

TEST(ImageReader, DataListingShowsEveryByteOfEveryRecord) {
    const Object o = with_sections({Section{.name = ".a", .data = coffgen::pattern(5, 1)},
                                    Section{.name = ".big", .data = coffgen::pattern(10001, 2)},
                                    Section{.name = ".c", .data = coffgen::pattern(16, 3)}});
    const Bytes image = convert_ok(o);
    const Dump d = dump(image, true);
    ASSERT_FALSE(d.error) << *d.error;
    const ReadBack rb = read_back(image);
    const auto expected = expected_records(o);
    ASSERT_EQ(rb.records.size(), expected.size());
    std::size_t at = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        char line[80];
        std::snprintf(line, sizeof line, "%zu\t%llx\t", k,
                      static_cast<unsigned long long>(rb.records[k].offset));
        at = d.listing.find(line, at);
        ASSERT_NE(at, std::string::npos) << line;
        at = d.listing.find('\n', at) + 1;
        EXPECT_EQ(hex_dump_bytes(d.listing, record_data_offset(rb.records[k]), at,
                                 expected[k].data.size()),
                  expected[k].data)
            << "record " << k;
    }
    EXPECT_NE(d.listing.find("\t     80c  01 08 0f 16 1d"), std::string::npos) << d.listing;
    EXPECT_NE(d.listing.find("|.....|\n"), std::string::npos);
    EXPECT_TRUE(d.listing.ends_with("\ncrc32: " + crc_of(image) + "\n")) << "read for the dump";
}

// Two records of 5 and 4 bytes: the first at 0x804, its padding byte at 0x811, the second
// at 0x812, the terminator at 0x81e, 0x826 bytes in all.
Bytes odd_then_even() {
    return convert_ok(with_sections({Section{.data = coffgen::pattern(5, 1), .virt = 0x3F0000},
                                     Section{.data = coffgen::pattern(4, 2), .virt = 0x8000}}));
}

// Two records of 4 bytes: at 0x804 and 0x810, no padding, the terminator at 0x81c.
Bytes even_then_even() {
    return convert_ok(with_sections({Section{.data = coffgen::pattern(4, 1), .virt = 0x3F0000},
                                     Section{.data = coffgen::pattern(4, 2), .virt = 0x8000}}));
}

Bytes changed(Bytes image, const std::function<void(Bytes&)>& change) {
    change(image);
    return image;
}

void insert_zeros(Bytes& b, std::size_t at, std::size_t n) {
    b.insert(b.begin() + static_cast<long>(at), n, 0);
}

TEST(ImageReader, MalformedImagesNameTheFaultAndItsOffset) {
    ASSERT_EQ(odd_then_even().size(), 0x826u);
    ASSERT_EQ(even_then_even().size(), 0x824u);
    const struct {
        const char* why;
        Bytes image;
        std::string error;
    } cases[] = {
        {"empty file", Bytes{},
         "too short for an image of at least 0x80c bytes, the file ends at offset 0x0"},
        {"one byte short of the smallest image", Bytes(0x80B, 0),
         "too short for an image of at least 0x80c bytes, the file ends at offset 0x80b"},
        {"high byte in the boot region", changed(odd_then_even(), [](Bytes& b) { b[7] = 0x7F; }),
         "non-zero high byte 0x7f in the boot region at offset 0x7"},
        {"high byte of the last boot unit",
         changed(odd_then_even(), [](Bytes& b) { b[0x7FF] = 1; }),
         "non-zero high byte 0x1 in the boot region at offset 0x7ff"},
        {"padding byte not zero", changed(odd_then_even(), [](Bytes& b) { b[0x811] = 0xFF; }),
         "non-zero padding byte 0xff at offset 0x811"},
        {"padding byte missing",
         changed(odd_then_even(), [](Bytes& b) { b.erase(b.begin() + 0x811); }),
         "misaligned load record (records start at even offsets) at offset 0x811"},
        {"zero byte before a record behind an even end",
         changed(even_then_even(), [](Bytes& b) { insert_zeros(b, 0x810, 1); }),
         "misaligned load record (records start at even offsets) at offset 0x811"},
        {"two padding bytes", changed(odd_then_even(), [](Bytes& b) { insert_zeros(b, 0x811, 1); }),
         "2 padding bytes before a load record (one at most) at offset 0x811"},
        {"three padding bytes before an even record",
         changed(odd_then_even(), [](Bytes& b) { insert_zeros(b, 0x811, 2); }),
         "3 padding bytes before a load record (one at most) at offset 0x811"},
        {"byte count past the end", changed(odd_then_even(), [](Bytes& b) { b[0x812] = 0x0D; }),
         "byte count 0xd runs past the end of the file (0x826 bytes) at offset 0x812"},
        {"largest byte count",
         changed(odd_then_even(),
                 [](Bytes& b) { b[0x804] = b[0x805] = b[0x806] = b[0x807] = 0xFF; }),
         "byte count 0xffffffff runs past the end of the file (0x826 bytes) at offset 0x804"},
        {"record whose count was zeroed", changed(odd_then_even(), [](Bytes& b) { b[0x804] = 0; }),
         "terminator address 0x3f0000 is not zero at offset 0x808"},
        {"no terminator", changed(odd_then_even(), [](Bytes& b) { b.resize(0x81E); }),
         "file ends without a terminator record at offset 0x81e"},
        {"terminator cut short", changed(odd_then_even(), [](Bytes& b) { b.resize(0x823); }),
         "file ends without a terminator record at offset 0x81e"},
        {"no records and no terminator",
         changed(odd_then_even(), [](Bytes& b) { b.resize(0x80C); }),
         "byte count 0x5 runs past the end of the file (0x80c bytes) at offset 0x804"},
        {"terminator address not zero", changed(odd_then_even(), [](Bytes& b) { b[0x822] = 1; }),
         "terminator address 0x1 is not zero at offset 0x822"},
        // Behind the terminator only a fill of one value may stand.
        {"two values after the terminator",
         changed(odd_then_even(),
                 [](Bytes& b) {
                     b.push_back(0x41);
                     b.push_back(0x42);
                 }),
         "0x2 bytes after the terminator record at offset 0x826"},
        {"zero bytes and another after the terminator",
         changed(even_then_even(),
                 [](Bytes& b) {
                     b.resize(b.size() + 4);
                     b.push_back(0xFF);
                 }),
         "0x5 bytes after the terminator record at offset 0x824"},
    };
    for (const auto& c : cases) {
        const Dump d = dump(c.image);
        ASSERT_TRUE(d.error) << c.why;
        EXPECT_EQ(*d.error, c.error) << c.why;
    }
}

// A fill of one value behind the terminator, as --pad-to writes it: listed, and matched by
// --against with the same --pad-to and --fill, whether the terminator stands aligned,
// unaligned or behind a padding byte.
TEST(ImageReader, FillBehindTheTerminator) {
    const struct {
        const char* why;
        Object object;
        std::uint64_t pad_to;
        unsigned char fill;
    } cases[] = {
        {"the example to 4 KiB", coffgen::example_object(), 0x1000, 0xFF},
        {"padding byte before the terminator, zero fill",
         with_sections({Section{.name = ".text", .data = coffgen::pattern(5, 1)},
                        Section{.name = ".bss", .flags = 0x80, .size = 0x40}}),
         0x900, 0x00},
        {"unaligned terminator, fill of 0x5a",
         with_sections({Section{.name = ".text", .data = coffgen::pattern(5, 1)}}), 0x2000, 0x5A},
    };
    harness::ScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const Bytes image = convert_ok(c.object);
        Bytes padded = image;
        padded.resize(c.pad_to, c.fill);
        const std::uint64_t fill_size = c.pad_to - image.size();
        const Dump d = dump(padded);
        ASSERT_FALSE(d.error) << *d.error;
        const std::string tail = "terminator: " + hex(image.size() - 8).substr(2) +
                                 "\npadding: " + hex(fill_size) + " bytes of " + hex(c.fill) +
                                 " to " + hex(c.pad_to) + "\n";
        // A zero fill cannot tell a padding byte before the terminator from one more fill
        // byte: the listing may name either, the bytes are the same.
        if (c.fill != 0) {
            EXPECT_NE(d.listing.find(tail), std::string::npos) << d.listing;
        }
        EXPECT_TRUE(d.listing.ends_with("\ncrc32: " + crc_of(padded) + "\n"));

        const Bytes object = coffgen::build(c.object);
        const Checked same =
            check_against(dir, object, padded, {.pad_to = c.pad_to, .fill = c.fill});
        EXPECT_EQ(same.status, 0) << same.err;
    }
}

TEST(ImageReader, ListingStopsAtTheFault) {
    Bytes image = odd_then_even();
    image[0x811] = 0xFF;
    const Dump d = dump(image);
    ASSERT_TRUE(d.error);
    EXPECT_NE(d.listing.find("\n0\t804\t90000804\t5\t3f0000\t811\n"), std::string::npos)
        << d.listing;
    EXPECT_EQ(d.listing.find("\n1\t"), std::string::npos) << d.listing;
    EXPECT_EQ(d.listing.find("terminator:"), std::string::npos) << d.listing;

    image = odd_then_even();
    image[3] = 2;
    const Dump boot = dump(image);
    EXPECT_EQ(boot.listing, "boot region: 0x2 units up to the last non-zero one (of 0x400), high "
                            "byte not zero at 3\n");
}

// One change to the example's image, and where the check must place it. The example's
// records are .text (section 5) at 0x804, .data (6) at 0xa00, the unnamed section 9 at
// 0xa56 and .ramfunc (10) at 0xa80; the terminator is at 0xac8, the end at 0xad0.
TEST(Against, NamesTheFirstDifferenceInTheImagesTerms) {
    const Bytes image = convert_ok(coffgen::example_object());
    ASSERT_EQ(image.size(), 0xAD0u);
    const auto flip = [&](std::size_t off) {
        return changed(image, [off](Bytes& b) { b[off] ^= 0x5A; });
    };
    // The place, its offset and the two bytes, as the message gives them.
    const auto at = [&](const std::string& place, std::size_t off, int found = -1) {
        char text[96];
        std::snprintf(text, sizeof text, " at offset 0x%zx: expected 0x%x, found 0x%x", off,
                      image[off], found < 0 ? image[off] ^ 0x5A : found);
        return place + text;
    };
    const std::string longer = " (and the image is 0xad1 bytes, 0xad0 expected)";
    const std::string shorter = " (and the image is 0xacf bytes, 0xad0 expected)";
    const struct {
        const char* why;
        Bytes image;
        std::string where;
    } cases[] = {
        {"boot byte", flip(0x10), at("boot region unit 0x8 (low byte)", 0x10)},
        {"high byte behind the boot data", flip(0x4B),
         at("boot region unit 0x25 (high byte)", 0x4B)},
        {"entry word", flip(0x802), at("entry word byte 2", 0x802)},
        {"byte count", flip(0x804),
         at("record 0, section 5 (.text), header byte 0 (byte count)", 0x804)},
        {"destination address", flip(0xA05),
         at("record 1, section 6 (.data), header byte 5 (destination address)", 0xA05)},
        {"record data", flip(0x900), at("record 0, section 5 (.text), data byte 0xf4", 0x900)},
        {"unnamed section's data", flip(0xA60),
         at("record 2, section 9 (unnamed), data byte 0x2", 0xA60)},
        {"padding byte", flip(0x9FF), at("padding byte before record 1", 0x9FF)},
        {"terminator", flip(0xACD), at("terminator byte 5", 0xACD)},
        {"byte appended", changed(image, [](Bytes& b) { b.push_back(0x41); }),
         "length 0xad1 bytes, 0xad0 expected: at offset 0xad0: expected the end of the file, "
         "found 0x41"},
        {"last byte removed", changed(image, [](Bytes& b) { b.pop_back(); }),
         "length 0xacf bytes, 0xad0 expected: terminator byte 7 at offset 0xacf: expected 0x0, "
         "found the end of the file"},
        {"byte inserted into record data",
         changed(image, [](Bytes& b) { b.insert(b.begin() + 0x900, 0x41); }),
         at("record 0, section 5 (.text), data byte 0xf4", 0x900, 0x41) + longer},
        {"byte removed from record data",
         changed(image, [](Bytes& b) { b.erase(b.begin() + 0x900); }),
         at("record 0, section 5 (.text), data byte 0xf4", 0x900, image[0x901]) + shorter},
    };
    harness::ScratchDir dir;
    for (const auto& c : cases) {
        const Checked r = check_against(dir, coffgen::build(coffgen::example_object()), c.image);
        EXPECT_EQ(r.status, 1) << c.why;
        EXPECT_EQ(r.err, "") << c.why;
        EXPECT_EQ(r.out,
                  dir.file("image.efw") + " " + dir.file("app.out") + " differ: " + c.where + "\n")
            << c.why;
    }
}

// --- comparing two images by their structure ------------------------------------------

// Sections of 16 bytes each, named by their destinations.
std::vector<Section> records_at(const std::vector<std::int32_t>& dests, std::size_t each = 16) {
    std::vector<Section> sections;
    for (const std::int32_t dest : dests)
        sections.push_back(Section{.name = ".text",
                                   .data = pattern(each, static_cast<std::uint8_t>(dest >> 8)),
                                   .virt = dest});
    return sections;
}

// The kind of each record line, the word before its ':', and the last line.
struct DiffSeen {
    int status = -1;
    std::vector<std::string> kinds;
    std::string last;
};

DiffSeen diff(const Object& old_object, const Object& new_object, bool json = false) {
    harness::ScratchDir dir;
    coffgen::write_file(dir.file("old.efw"), convert_ok(old_object));
    coffgen::write_file(dir.file("new.efw"), convert_ok(new_object));
    std::FILE* out = std::tmpfile();
    DiffSeen seen;
    seen.status =
        diff_images(dir.file("old.efw"), dir.file("new.efw"), kDefaultImageBase, json, out);
    const std::string text = slurp(out);
    std::fclose(out);
    if (json) {
        const nlohmann::json parsed = nlohmann::json::parse(text);
        for (const auto& r : parsed["records"])
            seen.kinds.push_back(r["kinds"].dump());
        return seen;
    }
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        seen.last = text.substr(from, nl - from);
        const std::size_t colon = seen.last.find(": record ");
        if (colon != std::string::npos)
            seen.kinds.push_back(seen.last.substr(0, colon));
        else if (seen.last.rfind("boot", 0) == 0 || seen.last.rfind("entry", 0) == 0 ||
                 seen.last.rfind("note", 0) == 0)
            seen.kinds.push_back(seen.last.substr(0, seen.last.find(':')));
    }
    return seen;
}

TEST(ImageDiff, NamesEachKindOfChange) {
    const Object five = with_sections(records_at({0x100, 0x200, 0x300, 0x400, 0x500}));
    // B changed, C removed, A moved behind E, F added.
    Object four = with_sections(records_at({0x200, 0x400, 0x500, 0x100, 0x600}));
    four.sections[5].data[3] ^= 0xFF;
    Object resized = with_sections(records_at({0x100, 0x200, 0x300, 0x400, 0x500}));
    resized.sections[6].data.push_back(1);
    Object entry = five;
    entry.opt->entry = 0x1234;
    Object boot = with_sections(records_at({0x100, 0x200, 0x300, 0x400, 0x500}));
    boot.sections.insert(boot.sections.begin() + 5,
                         Section{.name = ".boot_L", .data = pattern(4, 1)});
    Object boot2 = boot;
    boot2.sections[5].data[1] ^= 1;
    const Object twice = with_sections(records_at({0x100, 0x100, 0x300}));
    Object twice_changed = twice;
    twice_changed.sections[6].data[0] ^= 1;
    const Object moved_dest = with_sections(records_at({0x100, 0x240, 0x300}));
    const struct {
        const char* label;
        Object old_object, new_object;
        int status;
        std::vector<std::string> kinds;
    } cases[] = {
        {"itself", five, five, 0, {}},
        {"changed, removed, moved, added", five, four, 1, {"moved", "changed", "removed", "added"}},
        {"resized", five, resized, 1, {"resized"}},
        {"entry word", five, entry, 1, {"entry"}},
        {"boot unit", boot, boot2, 1, {"boot region"}},
        {"two records of one destination", twice, twice_changed, 1, {"note", "changed"}},
        {"destination changed in place",
         with_sections(records_at({0x100, 0x200, 0x300})),
         moved_dest,
         1,
         {"changed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const DiffSeen seen = diff(c.old_object, c.new_object);
        EXPECT_EQ(seen.status, c.status);
        EXPECT_EQ(seen.kinds, c.kinds) << seen.last;
        EXPECT_EQ(seen.last.find(" differ: ") != std::string::npos, c.status == 1) << seen.last;
    }
    // A fill behind the terminator is no record, and still a difference.
    {
        harness::ScratchDir dir;
        Bytes filled = convert_ok(five);
        coffgen::write_file(dir.file("old.efw"), filled);
        filled.insert(filled.end(), 16, 0xFF);
        coffgen::write_file(dir.file("new.efw"), filled);
        std::FILE* out = std::tmpfile();
        EXPECT_EQ(
            diff_images(dir.file("old.efw"), dir.file("new.efw"), kDefaultImageBase, false, out),
            1);
        const std::string text = slurp(out);
        std::fclose(out);
        EXPECT_NE(text.find("fill: 0x0 bytes of 0x0, now 0x10 bytes of 0xff\n"), std::string::npos)
            << text;
    }
    const DiffSeen json = diff(five, four, true);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.kinds, (std::vector<std::string>{R"(["moved"])", R"(["changed"])",
                                                    R"(["removed"])", R"(["added"])"}));
}

// The built program, as a user starts it.
harness::ProcessResult efwdump(const std::vector<std::string>& args) {
    return harness::run_program(EFWDUMP_EXE, "efwdump", args, "/", {}, {.time_limit = 60});
}

TEST(Efwdump, ListsAGoodImageAndRefusesABrokenOne) {
    harness::ScratchDir dir;
    const Bytes image = convert_ok(coffgen::example_object());
    coffgen::write_file(dir.file("good.efw"), image);
    Bytes broken = image; // a tail of more than one value is no fill
    broken.push_back(0x41);
    broken.push_back(0x42);
    coffgen::write_file(dir.file("broken.efw"), broken);

    auto r = efwdump({dir.file("good.efw")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("entry point: 3f0040\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out, dump(image).listing);

    r = efwdump({"--data", dir.file("good.efw")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dump(image, true).listing);

    r = efwdump({"--", dir.file("good.efw")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dump(image).listing);

    r = efwdump({dir.file("broken.efw")});
    EXPECT_EQ(r.status, 1);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "efwdump: error: %s: 0x2 bytes after the terminator record at offset 0x%zx\n",
                  dir.file("broken.efw").c_str(), image.size());
    EXPECT_EQ(r.err, expected);

    // A file that cannot be looked at is trouble, not a malformed image: status 2, as cmp's.
    r = efwdump({dir.file("missing.efw")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "efwdump: error: " + dir.file("missing.efw") +
                         ": cannot open: No such file or directory\n");

    r = efwdump({dir.path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "efwdump: error: " + dir.path + ": cannot read: Is a directory\n");

    ASSERT_EQ(mkfifo(dir.file("fifo.efw").c_str(), 0644), 0);
    r = efwdump({dir.file("fifo.efw")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "efwdump: error: " + dir.file("fifo.efw") + ": cannot read: not a regular file\n");
}

TEST(Efwdump, ChecksAnImageAgainstItsObject) {
    harness::ScratchDir dir;
    const Bytes image = convert_ok(coffgen::example_object());
    coffgen::write_file(dir.file("app.out"), coffgen::build(coffgen::example_object()));
    coffgen::write_file(dir.file("good.efw"), image);
    Object cut = coffgen::example_object();
    cut.cut_at = 100;
    coffgen::write_file(dir.file("cut.out"), coffgen::build(cut));

    auto r = efwdump({"--against", dir.file("app.out"), dir.file("good.efw")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, dir.file("good.efw") + " matches " + dir.file("app.out") +
                         " (0xad0 bytes, 4 records, crc32 " + crc_of(image) + ")\n");
    EXPECT_EQ(r.err, "");

    // A match is found while the conversion runs: no scratch file is made for it.
    const auto no_scratch = harness::run_program(
        EFWDUMP_EXE, "efwdump", {"--against", dir.file("app.out"), dir.file("good.efw")}, "/",
        {"TMPDIR=" + dir.file("none")});
    EXPECT_EQ(no_scratch.status, 0) << no_scratch.err;
    EXPECT_EQ(no_scratch.out, r.out);

    // Nor for a difference: it is named from the layout, at once, whatever TMPDIR is.
    Bytes flipped = image;
    flipped[0x10] ^= 0x01;
    coffgen::write_file(dir.file("flipped.efw"), flipped);
    const auto differs = harness::run_program(
        EFWDUMP_EXE, "efwdump", {"--against", dir.file("app.out"), dir.file("flipped.efw")}, "/",
        {"TMPDIR=" + dir.file("none")});
    EXPECT_EQ(differs.status, 1) << differs.err;
    EXPECT_EQ(differs.err, "");
    EXPECT_EQ(differs.out,
              dir.file("flipped.efw") + " " + dir.file("app.out") +
                  " differ: boot region unit 0x8 (low byte) at offset 0x10: expected " +
                  hex(image[0x10]) + ", found " + hex(flipped[0x10]) + "\n");

    // A file that cannot be opened is trouble, whichever of the two it is; a difference is
    // not.
    r = efwdump({"--against", dir.file("none.out"), dir.file("good.efw")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "efwdump: error: " + dir.file("none.out") +
                         ": cannot open: No such file or directory\n");
    r = efwdump({"--against", dir.file("app.out"), dir.file("none.efw")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "efwdump: error: " + dir.file("none.efw") +
                         ": cannot open: No such file or directory\n");
    Bytes changed = image;
    changed[0x900] ^= 1;
    coffgen::write_file(dir.file("changed.efw"), changed);
    r = efwdump({"--ag", dir.file("app.out"), "--", dir.file("changed.efw")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(dir.file("changed.efw") + " " + dir.file("app.out") + " differ: ", 0), 0u)
        << r.out;

    // An object that does not convert fails as the converter fails on it, as trouble:
    // nothing could be compared.
    const auto converted = harness::convert_bytes(coffgen::build(cut));
    ASSERT_TRUE(converted.error);
    r = efwdump({"--against=" + dir.file("cut.out"), dir.file("good.efw")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "efwdump: error: " + dir.file("cut.out") +
                         converted.error->substr(std::string("input.out").size()) + "\n");
}

TEST(Efwdump, Arguments) {
    // Usage errors have coff2efw's shape and status; the operand after "--" is an image.
    const auto refused = [](const std::string& what) {
        return "efwdump: error: " + what + "\nTry 'efwdump --help'.\n";
    };
    // An object and its image, for the lines that mix the two up.
    harness::ScratchDir dir;
    const std::string object = dir.file("app.out"), image = dir.file("app.efw");
    coffgen::write_file(object, coffgen::build(coffgen::example_object()));
    coffgen::write_file(image, convert_ok(coffgen::example_object()));
    const struct {
        std::vector<std::string> args;
        int status;
        const char* out_starts;
        std::string err;
    } cases[] = {
        {{"--help"}, 0, "usage: efwdump [--data] IMAGE\n", ""},
        {{"x.efw", "-h"}, 0, "usage: efwdump", ""},
        {{"/?"}, 0, "usage: efwdump", ""},
        {{"--he"}, 0, "usage: efwdump", ""},
        {{"--version"},
         0,
         "efwdump " COFF2EFW_VERSION "\n"
         "Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file.\n",
         ""},
        {{"--v"}, 0, "efwdump " COFF2EFW_VERSION "\n", ""},
        {{}, 2, "", refused("no image given")},
        {{"-x", "a.efw"}, 2, "", refused("unknown option '-x'")},
        {{"--bogus", "a.efw"}, 2, "", refused("unknown option '--bogus'")},
        {{object},
         1,
         "",
         "efwdump: error: " + object +
             ": a COFF object, not a ROM image (coff2efw converts it into one)\n"},
        // --diff compares two images; an object on either side means nothing was compared.
        {{"--diff", object, image},
         2,
         "",
         "efwdump: error: " + object +
             ": a COFF object, not a ROM image (coff2efw converts it into one)\n"},
        {{"--diff", image, object},
         2,
         "",
         "efwdump: error: " + object +
             ": a COFF object, not a ROM image (coff2efw converts it into one)\n"},
        {{"--against", image, object},
         2,
         "",
         refused("the arguments are swapped: --against names the object, and '" + image +
                 "' is a ROM image; try 'efwdump --against " + object + " " + image + "'")},
        {{"a.efw", "b.efw"}, 2, "", refused("more than one image: 'a.efw' and 'b.efw'")},
        {{"x.efw", "--against"}, 2, "", refused("option '--against' needs a value")},
        {{"x.efw", "--ag="}, 2, "", refused("option '--against' needs a value")},
        {{"--against=a.out"}, 2, "", refused("no image given")},
        {{"--against", "a.out", "--data", "x.efw"},
         2,
         "",
         refused("--data does not go with --against")},
        {{"--ag", "a.out", "--da", "x.efw"}, 2, "", refused("--data does not go with --against")},
        {{"--json", "--data", "x.efw"},
         2,
         "",
         refused("--json goes with neither --data nor --against")},
        {{"--against", "a.out", "x.efw", "--json"},
         2,
         "",
         refused("--json goes with neither --data nor --against")},
        {{"--pad-to", "4K", "x.efw"}, 2, "", refused("--pad-to and --fill go with --against")},
        {{"--json"}, 2, "", refused("no image given")},
        {{"--against", "a.out", "--against=b.out", "x.efw"},
         2,
         "",
         refused("option '--against' given twice")},
        {{"--data=yes", "x.efw"}, 2, "", refused("option '--data' takes no value")},
        {{"--diff", "a.efw", "--data", "x.efw"},
         2,
         "",
         refused("--diff goes with neither --data nor --against")},
        {{"--base", "0x1G", "x.hex"},
         2,
         "",
         refused("invalid argument '0x1G' for '--base' (0x and hexadecimal digits, or decimal "
                 "digits, up to 0xFFFFFFFF)")},
        {{"-hx"}, 0, "usage: efwdump", ""},
        // After "--" nothing is an option: "--help" is an image that is not there.
        {{"--", "--help"},
         2,
         "",
         "efwdump: error: --help: cannot open: No such file or directory\n"},
        // A Windows-style option is a file first; only when there is none does it earn a hint.
        {{"/q"},
         2,
         "",
         "efwdump: error: /q: cannot open: No such file or directory (options start with '-'; "
         "try 'efwdump --help')\n"},
        {{"--", "/q"}, 2, "", "efwdump: error: /q: cannot open: No such file or directory\n"},
        {{"/qqq"}, 2, "", "efwdump: error: /qqq: cannot open: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        const auto r = efwdump(c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
        EXPECT_EQ(r.out.rfind(c.out_starts, 0), 0u) << r.out;
        EXPECT_EQ(r.err, c.err);
    }
}

// "-" is standard input: a file there is read as it is, a pipe through a scratch file,
// which an image larger than the pipe and the reader's pieces must pass through whole.
TEST(Efwdump, ReadsStandardInput) {
    harness::ScratchDir dir;
    const Bytes image = convert_ok(coffgen::example_object());
    std::vector<Section> big;
    for (std::uint8_t k = 1; k <= 12; ++k)
        big.push_back(Section{.name = ".text", .data = coffgen::pattern(30000, k)});
    const Bytes large = convert_ok(with_sections(big));
    ASSERT_GT(large.size(), 4 * kImageReadPiece);
    Bytes broken = image; // a tail of more than one value is no fill
    broken.push_back(0x41);
    broken.push_back(0x42);
    coffgen::write_file(dir.file("app.out"), coffgen::build(coffgen::example_object()));
    const auto text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
    const std::string matches = "- matches " + dir.file("app.out") +
                                " (0xad0 bytes, 4 records, crc32 " + crc_of(image) + ")\n";
    // A fault leaves what was listed before it, as with the image named by its path.
    coffgen::write_file(dir.file("broken.efw"), broken);
    const std::string broken_out = efwdump({dir.file("broken.efw")}).out;
    ASSERT_NE(broken_out, "");
    char after_end[128];
    std::snprintf(after_end, sizeof after_end,
                  "efwdump: error: standard input: 0x2 bytes after the terminator record at "
                  "offset 0x%zx\n",
                  image.size());
    // Intel HEX as the converter writes it; a sparse file past the largest image.
    const auto hex_run = harness::run_program(
        harness::converter_path(), "coff2efw",
        {"-q", "-O", "ihex", dir.file("app.out"), "-o", dir.file("app.hex")}, "/");
    ASSERT_EQ(hex_run.status, 0) << hex_run.err;
    const Bytes hex_text = coffgen::read_file(dir.file("app.hex"));
    coffgen::write_file(dir.file("huge.efw"), image);
    std::filesystem::resize_file(dir.file("huge.efw"), std::uintmax_t{1} << 32);
    const std::string none = dir.file("none");

    const struct {
        const char* label;
        const Bytes& bytes;
        bool through_a_pipe;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;
        std::string stdin_path{}; // instead of `bytes`
        std::string tmpdir{};
        std::uint64_t file_size_limit = 0; // the most a file may grow to; 0 for no limit
    } cases[] = {
        {"a file", image, false, {"-"}, 0, dump(image).listing, ""},
        {"a pipe", image, true, {"-"}, 0, dump(image).listing, ""},
        {"a pipe with data", image, true, {"--data", "-"}, 0, dump(image, true).listing, ""},
        {"a large image through a pipe", large, true, {"-"}, 0, dump(large).listing, ""},
        {"a broken image through a pipe", broken, true, {"-"}, 1, broken_out, after_end},
        {"a broken image in a file", broken, false, {"-"}, 1, broken_out, after_end},
        {"against, from a pipe",
         image,
         true,
         {"--against", dir.file("app.out"), "-"},
         0,
         matches,
         ""},
        {"against, from a file",
         image,
         false,
         {"--against", dir.file("app.out"), "-"},
         0,
         matches,
         ""},
        {"Intel HEX through a pipe", hex_text, true, {"-"}, 0, dump(image).listing, ""},
        {"a directory",
         image,
         false,
         {"-"},
         2,
         "",
         "efwdump: error: standard input: cannot read at offset 0x0: Is a directory\n",
         "/"},
        {"past the largest image",
         image,
         false,
         {"-"},
         1,
         "",
         "efwdump: error: standard input: larger than an image can be (0x100000000 bytes, "
         "0x7fffffff at most)\n",
         dir.file("huge.efw")},
        {"TMPDIR that is not there",
         image,
         true,
         {"-"},
         2,
         "",
         "efwdump: error: standard input: cannot create a scratch file to hold it: No such file "
         "or directory\n",
         "",
         none},
        {"a scratch file that cannot grow",
         large,
         true,
         {"-"},
         2,
         "",
         "efwdump: error: standard input: cannot keep it in a scratch file: File too large\n",
         "",
         "",
         4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        harness::ChildSetup setup{.time_limit = 60};
        if (c.file_size_limit != 0)
            setup.file_size_limit = c.file_size_limit;
        if (!c.stdin_path.empty()) {
            setup.stdin_file = c.stdin_path;
        } else if (c.through_a_pipe) {
            setup.stdin_pipe = text(c.bytes);
        } else {
            coffgen::write_file(dir.file("in.efw"), c.bytes);
            setup.stdin_file = dir.file("in.efw");
        }
        std::vector<std::string> env;
        if (!c.tmpdir.empty())
            env.push_back("TMPDIR=" + c.tmpdir);
        const auto r = harness::run_program(EFWDUMP_EXE, "efwdump", c.args, "/", env, setup);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

} // namespace
