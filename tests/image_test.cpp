#include "image/image_passes.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::Section;

std::uint32_t word_at(const Bytes& image, std::size_t off) {
    return static_cast<std::uint32_t>(image.at(off)) |
           static_cast<std::uint32_t>(image.at(off + 1)) << 8 |
           static_cast<std::uint32_t>(image.at(off + 2)) << 16 |
           static_cast<std::uint32_t>(image.at(off + 3)) << 24;
}

bool all_zero(const Bytes& image, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (image.at(i) != 0)
            return false;
    }
    return true;
}

Bytes slice(const Bytes& image, std::size_t off, std::size_t len) {
    return Bytes(image.begin() + static_cast<long>(off),
                 image.begin() + static_cast<long>(off + len));
}

// Checks a load record at `off` and returns the offset behind it.
std::size_t expect_record(const Bytes& image, std::size_t off, const Section& s) {
    EXPECT_EQ(off % 2, 0u) << "record at odd offset " << off;
    EXPECT_EQ(word_at(image, off), s.data.size()) << "byte count at " << off;
    EXPECT_EQ(word_at(image, off + 4), static_cast<std::uint32_t>(s.virt)) << "address at " << off;
    EXPECT_EQ(slice(image, off + 8, s.data.size()), s.data) << "data at " << off;
    return off + 8 + s.data.size();
}

void expect_terminator_at(const Bytes& image, std::size_t off) {
    ASSERT_EQ(image.size(), off + 8) << "terminator expected at " << off;
    EXPECT_TRUE(all_zero(image, off, off + 8));
}

using harness::convert_ok;

// Most image tests want no optional header: the entry word is then 0.
Object with_sections(std::vector<Section> rest, bool opt = false) {
    return harness::with_sections(std::move(rest), opt);
}

TEST(Image, NoBootAndFewSectionsGivesTheBareImage) {
    for (int n = 0; n <= 5; ++n) {
        Object o;
        o.opt = std::nullopt;
        o.sections = coffgen::leading_sections(n);
        const auto r = convert_ok(o);
        ASSERT_EQ(r.image.size(), 2060u) << n << " sections";
        EXPECT_TRUE(all_zero(r.image, 0, 2060));
        EXPECT_EQ(r.console.find("ROM"), std::string::npos);
    }
}

TEST(Image, BootBytesAreWidenedAndZeroFilled) {
    Object o;
    o.opt = coffgen::OptFields{.entry = 0x3F0040};
    o.sections = {Section{.name = ".boot_L", .data = {0x11, 0x22, 0x33}, .flags = 0x10}};
    const auto r = convert_ok(o);
    ASSERT_EQ(r.image.size(), 2060u);
    EXPECT_EQ(slice(r.image, 0, 6), (Bytes{0x11, 0, 0x22, 0, 0x33, 0}));
    EXPECT_TRUE(all_zero(r.image, 6, 0x800));
    EXPECT_EQ(word_at(r.image, 0x800), 0x3F0040u);
    EXPECT_NE(r.console.find(std::string(83, '=') + "\n[ROM "), std::string::npos);
    EXPECT_NE(r.console.find(".boot_L : btad=[90000000] dest=[p:0 v:0] size=[3]\n"),
              std::string::npos)
        << r.console;
    EXPECT_NE(r.console.find("Entry Point = 3f0040\n"), std::string::npos);
}

TEST(Image, BootDataFillingTheRegionLeavesNoFill) {
    Object o;
    o.opt = std::nullopt;
    o.sections = {Section{.name = ".boot_L", .data = coffgen::pattern(1024, 1)}};
    const auto r = convert_ok(o);
    ASSERT_EQ(r.image.size(), 2060u);
    EXPECT_EQ(r.image[2046], coffgen::pattern(1024, 1)[1023]);
    EXPECT_EQ(r.image[2047], 0);
}

TEST(Image, BootSectionAtZeroOffsetCopiesTheFileStart) {
    Object o;
    o.opt = std::nullopt;
    o.sections = {Section{.name = ".boot_L", .size = 4, .file_ptr = 0}};
    const Bytes object = coffgen::build(o);
    const auto r = convert_ok(o);
    EXPECT_EQ(slice(r.image, 0, 8),
              (Bytes{object[0], 0, object[1], 0, object[2], 0, object[3], 0}));
}

TEST(Image, BootSectionsAnywhereGoToTheBootRegionOnly) {
    const Section code{.name = ".text", .data = coffgen::pattern(5, 0x40), .virt = 0x3F0000};
    const Section boot{.name = ".boot_L", .data = {0xAA, 0xBB}};

    Object at3 = with_sections({code});
    at3.sections[3] = boot;
    const auto r3 = convert_ok(at3);
    EXPECT_EQ(slice(r3.image, 0, 4), (Bytes{0xAA, 0, 0xBB, 0}));
    expect_terminator_at(r3.image, expect_record(r3.image, 0x804, code));

    // At index 7, behind an odd record: no alignment byte is written for the boot section.
    Object at7 = with_sections({Section{.name = ".x"}, code, boot});
    const auto r7 = convert_ok(at7);
    EXPECT_EQ(slice(r7.image, 0, 4), (Bytes{0xAA, 0, 0xBB, 0}));
    expect_terminator_at(r7.image, expect_record(r7.image, 0x804, code));
    EXPECT_EQ(r7.image.size(), 0x811u + 8);

    // Two boot sections follow each other in table order.
    Object two = with_sections({});
    two.sections[1] = boot;
    two.sections.push_back(Section{.name = ".boot_L", .data = {0xCC}});
    const auto r2 = convert_ok(two);
    EXPECT_EQ(slice(r2.image, 0, 6), (Bytes{0xAA, 0, 0xBB, 0, 0xCC, 0}));
    EXPECT_NE(r2.console.find(".boot_L : btad=[90000004] dest=[p:0 v:0] size=[1]"),
              std::string::npos);
}

TEST(Image, RecordsAreAlignedAndTerminated) {
    const Section a{.name = ".text", .data = coffgen::pattern(5, 1), .phy = 0x10, .virt = 0x3F0000};
    const Section b{.name = ".data", .data = coffgen::pattern(4, 2), .phy = 0x20, .virt = 0x8000};
    const auto r = convert_ok(with_sections({a, b}, true));
    const std::size_t end_a = expect_record(r.image, 0x804, a);
    ASSERT_EQ(end_a, 0x811u);
    EXPECT_EQ(r.image.at(0x811), 0);
    const std::size_t end_b = expect_record(r.image, 0x812, b);
    expect_terminator_at(r.image, end_b);
    EXPECT_EQ(end_b, 0x81Eu);
    EXPECT_NE(r.console.find(".text : btad=[90000804] dest=[p:10 v:3f0000] size=[5]\n"),
              std::string::npos);
    EXPECT_NE(r.console.find(".data : btad=[90000812] dest=[p:20 v:8000] size=[4]\n"),
              std::string::npos);

    // An odd last record puts the terminator at an odd offset.
    const auto odd = convert_ok(with_sections({a}));
    expect_terminator_at(odd.image, 0x811);
}

TEST(Image, SectionsWithoutARecordStillAlign) {
    const Section odd{.name = ".text", .data = coffgen::pattern(5, 1)};
    const struct {
        const char* why;
        Section skipped;
    } cases[] = {
        {"size 0", Section{.name = ".ebss", .flags = 0x80, .file_ptr = 100}},
        {"negative size", Section{.name = ".neg", .data = {1}, .size = -4}},
        {"no file data", Section{.name = ".bss", .flags = 0x80, .size = 0x200}},
        {"dummy flag", Section{.name = ".dummy", .data = {1, 2}, .flags = 0x01}},
        {"copy flag", Section{.name = ".copy", .data = {1, 2}, .flags = 0x30}},
    };
    for (const auto& c : cases) {
        const auto r = convert_ok(with_sections({odd, c.skipped}));
        EXPECT_EQ(expect_record(r.image, 0x804, odd), 0x811u);
        expect_terminator_at(r.image, 0x812);
        EXPECT_EQ(r.console.find(c.skipped.name + " : btad"), std::string::npos) << c.why;
    }
}

TEST(Image, OnlyTheNoLoadFlagsKeepASectionOut) {
    for (const std::int32_t flags : {0x20, 0x40, 0x80, 0x60, 0x00}) {
        const Section s{.name = ".s", .data = {7, 8}, .virt = 0x99, .flags = flags};
        const auto r = convert_ok(with_sections({s}));
        expect_terminator_at(r.image, expect_record(r.image, 0x804, s));
    }
}

TEST(Image, LeadingSectionsNeverBecomeRecords) {
    Object o = with_sections({});
    o.sections[4] = Section{.name = ".text", .data = coffgen::pattern(9, 3), .flags = 0x20};
    const auto r = convert_ok(o);
    expect_terminator_at(r.image, 0x804);
    EXPECT_NE(r.console.find("4\t\t.text\t\t"), std::string::npos);
    EXPECT_EQ(r.console.find(".text : btad"), std::string::npos);
}

TEST(Image, LargeSectionsAreCopiedWhole) {
    // Around the size from which a record is copied inside the kernel; a piece less,
    // exactly one, one and a byte, several and a part. The small record behind each shows
    // that the output goes on where the large one ended.
    for (const std::size_t size :
         {std::size_t{kKernelCopyFrom} - 1, std::size_t{kKernelCopyFrom},
          std::size_t{kKernelCopyFrom} + 1, kCopyBufferSize - 1, kCopyBufferSize,
          kCopyBufferSize + 1, 3 * kCopyBufferSize + kCopyBufferSize / 2}) {
        SCOPED_TRACE(size);
        const Section s{.name = ".big", .data = coffgen::pattern(size, 5), .virt = 0x1000};
        const Section after{.name = ".after", .data = {7, 8, 9}, .virt = 0x9000};
        const auto r = convert_ok(with_sections({s, after}));
        const std::size_t next = expect_record(r.image, 0x804, s);
        expect_terminator_at(r.image, expect_record(r.image, next + next % 2, after));
    }
}

TEST(Image, UnnamedRecordShowsNull) {
    const Section s{.name = "", .data = {1, 2}, .phy = 0x9000, .virt = 0x9000};
    const auto r = convert_ok(with_sections({s}));
    EXPECT_NE(r.console.find("NULL : btad=[90000804] dest=[p:9000 v:9000] size=[2]\n"),
              std::string::npos);
}

TEST(Image, EntryWordComesFromTheOptionalHeader) {
    Object o = with_sections({}, true);
    o.opt->entry = -0x100;
    const auto r = convert_ok(o);
    EXPECT_EQ(word_at(r.image, 0x800), 0xFFFFFF00u);
    EXPECT_NE(r.console.find("Entry Point = ffffff00\n"), std::string::npos);
}

TEST(Image, DataTheFileDoesNotHoldIsAnError) {
    const struct {
        const char* why;
        Object object;
        std::string message;
    } cases[] = {
        {"record past the end",
         with_sections({Section{.name = ".text", .data = {1, 2, 3}, .size = 4}}),
         "section 5 (.text): data at offset 0x"},
        {"record at a negative offset",
         with_sections({Section{.name = ".text", .data = {1}, .file_ptr = -8}}),
         "section 5 (.text): data offset -8 is negative"},
        {"record offset past the end",
         with_sections({Section{.name = "", .size = 1, .file_ptr = 0x7FFFFFFF}}),
         "section 5 (unnamed): data at offset 0x7fffffff"},
        {"record of the largest size",
         with_sections({Section{.name = ".text", .data = {1}, .size = 0x7FFFFFFF}}),
         "section 5 (.text): data at offset"},
        {"boot section past the end",
         with_sections({Section{.name = ".boot_L", .data = {1}, .size = 2}}),
         "section 5 (.boot_L): data at offset"},
        {"boot section at a negative offset",
         with_sections({Section{.name = ".boot_L", .data = {1}, .file_ptr = -1}}),
         "section 5 (.boot_L): data offset -1 is negative"},
        {"boot data beyond the region",
         with_sections({Section{.name = ".boot_L", .data = coffgen::pattern(1025, 1)}}),
         "section 5 (.boot_L): 1025 boot bytes after 0 do not fit the boot region of 1024"},
        {"two boot sections beyond the region",
         with_sections({Section{.name = ".boot_L", .data = coffgen::pattern(600, 1)},
                        Section{.name = ".boot_L", .data = coffgen::pattern(600, 2)}}),
         "section 6 (.boot_L): 600 boot bytes after 600 do not fit"},
    };
    for (const auto& c : cases) {
        const auto r = harness::convert_bytes(coffgen::build(c.object));
        ASSERT_TRUE(r.error) << c.why;
        EXPECT_NE(r.error->find(c.message), std::string::npos) << c.why << ": " << *r.error;
        EXPECT_EQ(r.error->rfind("input.out: ", 0), 0u) << *r.error;
    }
}

} // namespace
