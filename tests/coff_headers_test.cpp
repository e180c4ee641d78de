#include "coff/coff_headers.h"
#include "image/image_layout.h"

#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using coffgen::Object;
using coffgen::Section;

TEST(CoffHeaders, DecodesEveryFieldLittleEndian) {
    Object o;
    o.version = 0xC2;
    o.time_stamp = 0x12345678;
    o.sym_ptr = -2;
    o.num_syms = 0x0A0B0C0D;
    o.file_flags = 0x0107;
    o.target_id = 0x009D;
    o.opt = coffgen::OptFields{0x108, 0x5C, 1, 2, 3, 0x3F0040, -5, 0x7FFFFFFF};
    o.opt_size = 0x1C;
    o.sections = {Section{.name = "abcdefgh",
                          .data = {1, 2, 3},
                          .phy = 0x11223344,
                          .virt = -0x10,
                          .flags = 0x40,
                          .reloc_ptr = 0x55,
                          .line_ptr = 0x66,
                          .num_reloc = 7,
                          .num_line = 8,
                          .reserved = 0xBEEF,
                          .mem_page = 0x0102}};
    const auto r = harness::convert_bytes(coffgen::build(o));
    ASSERT_FALSE(r.error) << *r.error;

    EXPECT_EQ(g_FileHead.usVersion, 0xC2);
    EXPECT_EQ(g_FileHead.usNumSect, 1);
    EXPECT_EQ(g_FileHead.lDataTime, 0x12345678);
    EXPECT_EQ(g_FileHead.lFilePtr, -2);
    EXPECT_EQ(g_FileHead.lNumEntry, 0x0A0B0C0D);
    EXPECT_EQ(g_FileHead.usOptHeadSize, 0x1C);
    EXPECT_EQ(g_FileHead.usFlags, 0x0107);
    EXPECT_EQ(g_FileHead.usTargId, 0x009D);

    EXPECT_EQ(g_OptHead.sMagicNo, 0x108);
    EXPECT_EQ(g_OptHead.sVersion, 0x5C);
    EXPECT_EQ(g_OptHead.lCodeSize, 1);
    EXPECT_EQ(g_OptHead.lDataSize, 2);
    EXPECT_EQ(g_OptHead.lBssSize, 3);
    EXPECT_EQ(g_OptHead.lEntryPoint, 0x3F0040);
    EXPECT_EQ(g_OptHead.lCodeAddr, -5);
    EXPECT_EQ(g_OptHead.lDataAddr, 0x7FFFFFFF);

    const SectHead& s = g_SectTable[0];
    EXPECT_EQ(std::string(s.SectName, 8), "abcdefgh");
    EXPECT_EQ(s.PhyAddr, 0x11223344);
    EXPECT_EQ(s.VirtAddr, -0x10);
    EXPECT_EQ(s.SectSize, 3);
    EXPECT_EQ(s.FilePtrRaw, 22 + 28 + 48);
    EXPECT_EQ(s.FilePtrReloc, 0x55);
    EXPECT_EQ(s.FilePtrLine, 0x66);
    EXPECT_EQ(s.NumReloc, 7);
    EXPECT_EQ(s.NumLineNo, 8);
    EXPECT_EQ(s.Flags, 0x40);
    EXPECT_EQ(s.Reserved, 0xBEEF);
    EXPECT_EQ(s.MemPage, 0x0102);
}

TEST(CoffHeaders, OptionalHeaderIsAlways28BytesOrNone) {
    const struct {
        bool present;
        std::uint16_t size;
        std::int32_t entry;
    } cases[] = {{true, 28, 0x1234}, {true, 0x10, 0x1234}, {true, 0xFFFF, 0x1234}, {false, 0, 0}};
    for (const auto& c : cases) {
        // A previous run leaves its optional header behind in static storage; an object
        // without one must still read as entry 0.
        Object primer;
        primer.opt = coffgen::OptFields{.entry = 0x7777};
        ASSERT_FALSE(harness::convert_bytes(coffgen::build(primer)).error);

        Object o;
        o.opt = c.present ? std::optional(coffgen::OptFields{.entry = 0x1234}) : std::nullopt;
        o.opt_size = c.size;
        o.sections = {Section{.name = ".one", .data = {9}}, Section{.name = ".two"}};
        const auto r = harness::convert_bytes(coffgen::build(o));
        ASSERT_FALSE(r.error) << *r.error;
        EXPECT_EQ(g_OptHead.lEntryPoint, c.entry) << "usOptHeadSize " << c.size;
        EXPECT_EQ(sect_name_text(g_SectTable[0]), ".one");
        EXPECT_EQ(sect_name_text(g_SectTable[1]), ".two");
        EXPECT_EQ(g_SectTable[0].SectSize, 1);
    }
}

TEST(CoffHeaders, NameQueries) {
    const struct {
        std::string raw; // all eight bytes of the name field
        std::string text;
        bool boot;
        bool no_name;
    } cases[] = {
        {std::string(".boot_L\0", 8), ".boot_L", true, false},
        {".boot_Lx", ".boot_Lx", false, false},
        {std::string(".BOOT_L\0", 8), ".BOOT_L", false, false},
        {std::string(".boot\0\0\0", 8), ".boot", false, false},
        {std::string(".text\0xy", 8), ".text", false, false},
        {std::string("\0.boot_L", 8), "", false, true},
        {std::string(8, '\xFF'), std::string(8, '\xFF'), false, false},
    };
    for (const auto& c : cases) {
        SectHead s{};
        std::copy(c.raw.begin(), c.raw.end(), s.SectName);
        EXPECT_EQ(sect_name_text(s), c.text);
        EXPECT_EQ(is_boot_section(s), c.boot) << c.text;
        EXPECT_EQ(has_no_name(s), c.no_name) << c.text;
    }
}

TEST(CoffHeaders, TruncatedHeadersAreErrorsNamingTheOffset) {
    Object with_opt;
    with_opt.sections = {Section{.name = ".a"}, Section{.name = ".b"}};
    Object without_opt = with_opt;
    without_opt.opt = std::nullopt;
    const struct {
        Object object;
        std::size_t cut;
        const char* message;
    } cases[] = {
        {with_opt, 0, "truncated file header at offset 0x0"},
        {with_opt, 21, "truncated file header at offset 0x0"},
        {with_opt, 22, "truncated optional header at offset 0x16"},
        {with_opt, 49, "truncated optional header at offset 0x16"},
        {with_opt, 50, "truncated section header 0 at offset 0x32"},
        {with_opt, 50 + 48 + 47, "truncated section header 1 at offset 0x62"},
        {without_opt, 22 + 10, "truncated section header 0 at offset 0x16"},
    };
    for (const auto& c : cases) {
        Object o = c.object;
        o.cut_at = c.cut;
        const auto r = harness::convert_bytes(coffgen::build(o));
        ASSERT_TRUE(r.error) << "cut at " << c.cut;
        EXPECT_NE(r.error->find(c.message), std::string::npos) << *r.error;
        EXPECT_TRUE(r.image.empty()) << "cut at " << c.cut;
    }
}

// The text a failed read of section data names, as formatted printing would give it,
// cut to the subject's size.
TEST(CoffHeaders, SectionSubjectReadsLikeTheLabel) {
    const struct {
        unsigned index;
        const char* name; // eight bytes at most, not necessarily terminated
        const char* what;
    } cases[] = {
        {5, ".text", "data"},
        {2047, "12345678", "boot data"},
        {7, "", "data"},
        {12, ".econst", "data that is described at a length well past what the text holds"},
        {9, ".ebss", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        SectHead& sect = g_SectTable[c.index];
        sect = SectHead{};
        std::memcpy(sect.SectName, c.name, std::strlen(c.name));
        const std::string name = c.name[0] == '\0' ? "unnamed" : c.name;
        char expected[sizeof(SectionSubject::text)];
        std::snprintf(expected, sizeof expected, "section %u (%s)%s%s", c.index, name.c_str(),
                      c.what[0] != '\0' ? " " : "", c.what);
        EXPECT_STREQ(section_subject(c.index, c.what).text, expected);
    }
}

TEST(CoffHeaders, SectionCountBeyondTheTableIsRefusedBeforeAnySectionIsRead) {
    Object full;
    full.opt = std::nullopt;
    full.sections.resize(kMaxSections);
    EXPECT_FALSE(harness::convert_bytes(coffgen::build(full)).error);

    for (const std::uint16_t declared : {std::uint16_t{2049}, std::uint16_t{65535}}) {
        Object o = full;
        o.num_sect = declared;
        const auto r = harness::convert_bytes(coffgen::build(o));
        ASSERT_TRUE(r.error);
        EXPECT_NE(r.error->find("declares " + std::to_string(declared) +
                                " section headers; at most 2048"),
                  std::string::npos)
            << *r.error;
        EXPECT_EQ(r.console.find("[SectHead]"), std::string::npos);
    }
}

} // namespace

namespace {

// An object whose sections 0 and 5 have long names, with a symbol table before the string
// table and symbol names in it before the section names; `change` damages it.
Object with_long_names(void (*change)(Object&)) {
    Object o = coffgen::example_object();
    o.num_syms = 23;
    o.strings = {"_c_int00", "_a_symbol_name_longer_than_eight"};
    o.sections[0].name = "vectors_table";
    o.sections[5].name = "ramfuncs_run";
    change(o);
    return o;
}

TEST(CoffHeaders, LongNamesComeFromTheStringTableOrFallBack) {
    // The same object with its names in the headers gives the image to match: the string
    // table is read aside, and every read after it goes on where it was.
    Object short_names = coffgen::example_object();
    short_names.num_syms = 23;
    short_names.string_table = true;
    const auto expected = harness::convert_ok(short_names);
    const struct {
        const char* why;
        Object object;
        const char* label0;
        const char* label5;
    } cases[] = {
        {"read", with_long_names([](Object&) {}), "section 0 (vectors_table)",
         "section 5 (ramfuncs_run)"},
        {"no symbol table before it", with_long_names([](Object& o) { o.num_syms = 0; }),
         "section 0 (vectors_table)", "section 5 (ramfuncs_run)"},
        {"an offset past the table",
         with_long_names([](Object& o) { o.sections[5].name_offset = 0x400; }),
         "section 0 (vectors_table)", "section 5 (unnamed)"},
        {"the last name's end past the declared size",
         with_long_names([](Object& o) { o.string_table_size = 4 + 9 + 33 + 14 + 12; }),
         "section 0 (vectors_table)", "section 5 (unnamed)"},
        {"a declared size past the file",
         with_long_names([](Object& o) { o.string_table_size = 0x10000; }), "section 0 (unnamed)",
         "section 5 (unnamed)"},
        {"a declared size below its own word",
         with_long_names([](Object& o) { o.string_table_size = 3; }), "section 0 (unnamed)",
         "section 5 (unnamed)"},
        {"no symbol table pointer", with_long_names([](Object& o) { o.sym_ptr = -1; }),
         "section 0 (unnamed)", "section 5 (unnamed)"},
        {"a symbol table past the file",
         with_long_names([](Object& o) { o.num_syms = 0x7FFFFFFF, o.sym_ptr = 0x600; }),
         "section 0 (unnamed)", "section 5 (unnamed)"},
        {"offset zero is no long name",
         with_long_names([](Object& o) { o.sections[5].name_offset = 0; }),
         "section 0 (vectors_table)", "section 5 (unnamed)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Object o = c.object;
        if (o.num_syms == 0x7FFFFFFF)
            o.num_syms = 0; // the builder writes none; the header says so many
        const coffgen::Bytes bytes = coffgen::build(o);
        coffgen::Bytes declared = bytes;
        if (c.object.num_syms == 0x7FFFFFFF)
            declared[12] = 0xFF, declared[13] = 0xFF, declared[14] = 0xFF, declared[15] = 0x7F;
        const auto r = harness::convert_bytes(declared);
        ASSERT_FALSE(r.error) << *r.error;
        EXPECT_EQ(section_label(0), c.label0);
        EXPECT_EQ(section_label(5), c.label5);
        EXPECT_EQ(r.image, expected.image);
        // The listing shows the name field as it is: empty where the first byte is zero.
        EXPECT_NE(r.console.find("\n5\t\t\t\t3f0000\t\t"), std::string::npos) << r.console;
        if (std::string(c.label5).find("ramfuncs_run") != std::string::npos) {
            EXPECT_EQ(describe_image_offset(g_Layout, 0x80C),
                      "record 0, section 5 (ramfuncs_run), data byte 0x0");
        }
    }
}

TEST(CoffHeaders, OtherFormatsAreToldByTheirFirstBytes) {
    const struct {
        std::string bytes;
        const char* format; // the start of what other_format says, or null for none
    } cases[] = {
        {std::string("\x7f"
                     "ELF\x02\x01",
                     6),
         "an ELF file"},
        {"\x7f"
         "EL",
         nullptr},
        {"MZ", "a Windows or DOS executable"},
        {"M", nullptr},
        {":10010000214601360121470136007EFE09D2190140", "a hex record file"},
        {":0", nullptr},
        {":0G", nullptr},
        {":00000001FF\n", "a hex record file"},
        {"S1130000285F245F2212226A000424290008237C2A", "an S-record file"},
        {"SX13", nullptr},
        {"S0", nullptr},
        {std::string("\0\xc2\x0b\0", 4), "a big-endian COFF object"},
        {std::string("\xc2\0\x0b\0", 4), nullptr},
        {std::string("\xc1\0\x0b\0", 4), nullptr},
        {std::string("\0\xc1\x0b\0", 4), nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const char* said =
            other_format(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        if (c.format == nullptr) {
            EXPECT_EQ(said, nullptr) << said;
        } else {
            ASSERT_NE(said, nullptr);
            EXPECT_EQ(std::string(said).rfind(c.format, 0), 0u) << said;
        }
    }
}

// Control bytes never reach a message, whatever the console; a long name is cut. The
// --sections table shows a name the same way on a terminal, and elsewhere escapes only
// its control bytes.
TEST(CoffHeaders, SectionLabelsEscapeControlBytesAndCutLongNames) {
    const std::string long_name(150, 'n');
    const struct {
        std::string name;
        std::string label;
        std::string off_terminal; // section_name_shown for a file or a pipe
    } cases[] = {
        {"a\nb\x1b[2J", "section 5 (a\\x0ab\\x1b[2J)", "a\\x0ab\\x1b[2J"},
        {std::string("\t\x7f\x01", 3), "section 5 (\\x09\\x7f\\x01)", "\\x09\\x7f\\x01"},
        {long_name, "section 5 (" + std::string(120, 'n') + "...)", long_name},
        {std::string(117, 'n') + "\x1b", "section 5 (" + std::string(117, 'n') + "...)",
         std::string(117, 'n') + "\\x1b"},
        {std::string(116, 'n') + "\x1b", "section 5 (" + std::string(116, 'n') + "\\x1b)",
         std::string(116, 'n') + "\\x1b"},
        {"\xE9t\xC3\xA9", "section 5 (\\xe9t\\xc3\\xa9)", "\xE9t\xC3\xA9"}, // an ASCII console
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Object o = harness::with_sections({Section{.name = c.name, .data = {1, 2}}});
        const auto r = harness::convert_bytes(coffgen::build(o));
        ASSERT_FALSE(r.error) << *r.error;
        EXPECT_EQ(section_label(5), c.label);
        EXPECT_EQ(section_subject(5, "data").text, c.label + " data");
        EXPECT_EQ("section 5 (" + std::string(section_name_shown(5, true).text) + ")", c.label);
        EXPECT_EQ(section_name_shown(5, false).text, c.off_terminal);
    }
}

} // namespace
