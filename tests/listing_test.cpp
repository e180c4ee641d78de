// The complete console output of runs of the built program, in the C locale (the banner
// then stays in its stored code-page-949 bytes).
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

namespace {

using coffgen::Object;
using coffgen::Section;

harness::ProcessResult run_on(const Object& object, const std::vector<std::string>& args = {}) {
    harness::ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), coffgen::build(object));
    harness::write_text(dir.file("config.ini"), harness::kAppConfig);
    return harness::run_program(harness::converter_path(), dir.file("coff2efw"), args, "/",
                                {"LC_ALL=C"});
}

TEST(Listing, RealisticObject) {
    Object o;
    o.version = 0xC2;
    o.time_stamp = 0x5F3A1C20;
    o.sym_ptr = 0x1A2B;
    o.num_syms = 0x3C;
    o.file_flags = 0x103;
    o.target_id = 0x98;
    o.opt = coffgen::OptFields{0x108, 0x5C, 0x1F3, 0x4D, 0x200, 0x3F0040, 0x3F0000, 0x8000};
    o.sections = {
        {.name = ".vectors",
         .data = {1, 2, 3, 4},
         .phy = 0x3FFFC0,
         .virt = 0x3FFFC0,
         .flags = 0x40},
        {.name = ".cinit", .data = {5, 6}, .phy = 0x3F8000, .virt = 0x3F8000, .flags = 0x40},
        {.name = ".boot_L", .data = {7, 8, 9}, .flags = 0x20},
        {.name = ".switch", .phy = 0x3F8100, .virt = 0x3F8100, .flags = 0x40},
        {.name = ".econst",
         .data = {10},
         .phy = 0x3F8200,
         .virt = 0x3F8200,
         .flags = 0x40,
         .mem_page = 1},
        {.name = ".text",
         .data = {1, 2, 3, 4, 5},
         .phy = 0x3F0000,
         .virt = 0x3F0000,
         .flags = 0x20,
         .reloc_ptr = 0x1500,
         .line_ptr = 0x1600,
         .num_reloc = 3,
         .num_line = 4},
        {.name = "", .data = {1, 2}, .phy = 0x9000, .virt = 0x9000, .flags = 0x40},
        {.name = ".ebss",
         .phy = 0x8400,
         .virt = 0x8400,
         .flags = 0x80,
         .size = -1,
         .file_ptr = 0,
         .reserved = 0xABCD,
         .mem_page = 1},
    };

    const std::string expected =
        "[FileHead]\n"
        "sizeof FileHead = 22\n"
        "usVersion\tusNumSect\tlDataTime\tlFilePtr\tlNumEntry\tusOptHeadSize\tusFlags\t\tusTargId\n"
        "c2\t\t8\t\t5f3a1c20\t1a2b\t\t3c\t\t1c\t\t103\t\t98\n"
        "\n[OptHead]\n"
        "sizeof OptHead = 28\n"
        "sMagicNo\tsVersion\tlCodeSize\tlDataSize\tlBssSize\tlEntryPoint\t\tlCodeAddr\t\tlDataAddr"
        "\n"
        "108\t\t5c\t\t1f3\t\t4d\t\t200\t\t3f0040\t\t3f0000\t\t8000\n"
        "\n[SectHead]\n"
        "sizeof SectHead = 384\n"
        "Sect No.\tSect Name\tPhyAddr\t\tVirtAddr\tSectSize\tFilePtrRaw\tFilePtrReloc\t"
        "FilePtrLine\tNumReloc\tNumLineNo\tFlags\t\tReserved\tMemPage\n"
        "0\t\t.vectors\t\t3fffc0\t\t3fffc0\t\t4\t\t1b2\t\t0\t\t0\t\t0\t\t0\t\t40\t\t0\t\t0\n"
        "1\t\t.cinit\t\t3f8000\t\t3f8000\t\t2\t\t1b6\t\t0\t\t0\t\t0\t\t0\t\t40\t\t0\t\t0\n"
        "2\t\t.boot_L\t\t0\t\t0\t\t3\t\t1b8\t\t0\t\t0\t\t0\t\t0\t\t20\t\t0\t\t0\n"
        "\n\n"
        "===================================================================================\n"
        "[ROM \xC6\xC4\xC0\xCF \xBE\xB2\xB1\xE2 \xC0\xDB\xBE\xF7]\n"
        ".boot_L : btad=[90000000] dest=[p:0 v:0] size=[3]\n"
        "3\t\t.switch\t\t3f8100\t\t3f8100\t\t0\t\t0\t\t0\t\t0\t\t0\t\t0\t\t40\t\t0\t\t0\n"
        "4\t\t.econst\t\t3f8200\t\t3f8200\t\t1\t\t1bb\t\t0\t\t0\t\t0\t\t0\t\t40\t\t0\t\t1\n"
        "5\t\t.text\t\t3f0000\t\t3f0000\t\t5\t\t1bc\t\t1500\t\t1600\t\t3\t\t4\t\t20\t\t0\t\t0\n"
        "6\t\t\t\t9000\t\t9000\t\t2\t\t1c1\t\t0\t\t0\t\t0\t\t0\t\t40\t\t0\t\t0\n"
        "7\t\t.ebss\t\t8400\t\t8400\t\tffffffff\t\t0\t\t0\t\t0\t\t0\t\t0\t\t80\t\tabcd\t\t1\n"
        "Entry Point = 3f0040\n"
        ".text : btad=[90000804] dest=[p:3f0000 v:3f0000] size=[5]\n"
        "NULL : btad=[90000812] dest=[p:9000 v:9000] size=[2]\n";

    // Its word-counting target is an error unless the option keeps it a warning.
    const auto r = run_on(o, {"-Wno-error=word-target"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Its data before index 5 and its word-counting target are warned about, not refused.
    EXPECT_EQ(r.err.find("coff2efw: error"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, expected);
}

TEST(Listing, NoOptionalHeaderAndNoSections) {
    Object o;
    o.version = 0xC2;
    o.time_stamp = 0;
    o.file_flags = 0;
    o.target_id = 0;
    o.opt = std::nullopt;

    const std::string expected =
        "[FileHead]\n"
        "sizeof FileHead = 22\n"
        "usVersion\tusNumSect\tlDataTime\tlFilePtr\tlNumEntry\tusOptHeadSize\tusFlags\t\tusTargId\n"
        "c2\t\t0\t\t0\t0\t\t0\t\t0\t\t0\t\t0\n"
        "\n[SectHead]\n"
        "sizeof SectHead = 0\n"
        "Sect No.\tSect Name\tPhyAddr\t\tVirtAddr\tSectSize\tFilePtrRaw\tFilePtrReloc\t"
        "FilePtrLine\tNumReloc\tNumLineNo\tFlags\t\tReserved\tMemPage\n"
        "Entry Point = 0\n";

    const auto r = run_on(o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
}

TEST(Listing, KoreanBannerOnAUtf8Terminal) {
    Object o;
    o.sections = {Section{.name = ".boot_L", .data = {1}}};
    harness::ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), coffgen::build(o));
    harness::write_text(dir.file("config.ini"), harness::kAppConfig);
    const auto r = harness::run_program(harness::converter_path(), dir.file("coff2efw"), {}, "/",
                                        {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n[ROM 파일 쓰기 작업]\n"), std::string::npos) << r.out;
}

} // namespace
