#include "run/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Where a run's names come from: argument zero and its config.ini, or a path typed on
// the command line, the input itself or a profile file.
// kInputAnyCase: as Windows forms a named input's output, matching ".out" in any case.
enum class From { kArgv0, kInput, kProfile, kInputAnyCase };

struct NameCase {
    const char* label;
    const char* path; // argument zero, the input or the profile file, as `from` says
    std::string configured;
    std::string config;
    std::string input;
    std::string output;
    From from = From::kArgv0;
    bool renamed = false; // the ".out" rule changed the output's directory
};

class FileNameForming : public testing::TestWithParam<NameCase> {};

TEST_P(FileNameForming, FormsAllThreePaths) {
    const NameCase& c = GetParam();
    const FileNames names = c.from == From::kInput          ? input_file_names(c.path, 0, false)
                            : c.from == From::kInputAnyCase ? input_file_names(c.path, 0, true)
                            : c.from == From::kProfile
                                ? profile_file_names(c.path, c.configured, 0)
                                : form_file_names(program_directory(c.path, 0), c.configured, 0);
    EXPECT_EQ(names.config, c.config);
    EXPECT_EQ(names.input, c.input);
    EXPECT_EQ(names.output, c.output);
    EXPECT_EQ(names.output_directory_renamed, c.renamed);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FileNameForming,
    testing::Values(
        NameCase{"full_path", "C:\\tools\\conv.exe", "app.out", "C:\\tools\\config.ini",
                 "C:\\tools\\app.out", "C:\\tools\\VELTARA-app.efw"},
        NameCase{"bare_name", "conv.exe", "app.out", "config.ini", "app.out", "VELTARA-app.efw"},
        NameCase{"no_argv0", nullptr, "app.out", "config.ini", "app.out", "VELTARA-app.efw"},
        NameCase{"relative_dir", "bin\\conv.exe", "app.out", "bin\\config.ini", "bin\\app.out",
                 "bin\\VELTARA-app.efw"},
        NameCase{"posix_dir", "build/coff2efw", "app.out", "build/config.ini", "build/app.out",
                 "build/VELTARA-app.efw"},
        NameCase{"last_separator_wins", "a\\b/c\\d", "x.out", "a\\b/c\\config.ini", "a\\b/c\\x.out",
                 "a\\b/c\\VELTARA-x.efw"},
        NameCase{"case_sensitive", "d\\c.exe", "app.OUT", "d\\config.ini", "d\\app.OUT",
                 "d\\VELTARA-app.OUT"},
        NameCase{"every_occurrence", "c.exe", "a.out.out", "config.ini", "a.out.out",
                 "VELTARA-a.efw.efw"},
        NameCase{"default_has_no_out", "d\\c.exe", "ZOV-KARN.efw", "d\\config.ini",
                 "d\\ZOV-KARN.efw", "d\\VELTARA-ZOV-KARN.efw"},
        NameCase{"name_with_directory", "d\\c.exe", "sub\\app.out", "d\\config.ini",
                 "d\\sub\\app.out", "d\\VELTARA-sub\\app.efw"},
        NameCase{"percent_is_literal", "c.exe", "app%d.out", "config.ini", "app%d.out",
                 "VELTARA-app%d.efw"},
        NameCase{"empty_value", "d\\c.exe", "", "d\\config.ini", "d\\", "d\\VELTARA-"},
        NameCase{"out_directory", "C:\\build.out\\c.exe", "x.out", "C:\\build.out\\config.ini",
                 "C:\\build.out\\x.out", "C:\\build.efw\\VELTARA-x.efw"},
        NameCase{"scan_continues_behind", "c.exe", ".out.outx.ou", "config.ini", ".out.outx.ou",
                 "VELTARA-.efw.efwx.ou"},
        NameCase{"cut_at_255", "c.exe", std::string(300, 'n'), "config.ini", std::string(255, 'n'),
                 "VELTARA-" + std::string(255, 'n')},
        NameCase{"input_beside", "fw/app.out", "", "", "fw/app.out", "fw/VELTARA-app.efw",
                 From::kInput},
        NameCase{"input_directory_as_given", "fw.out/a.out.out", "", "", "fw.out/a.out.out",
                 "fw.out/VELTARA-a.efw.efw", From::kInput},
        NameCase{"input_backslash_no_separator_on_posix", "a\\b.out", "", "", "a\\b.out",
                 "VELTARA-a\\b.efw", From::kInput},
        NameCase{"profile_bare", "c.ini", "app.out", "c.ini", "app.out", "VELTARA-app.efw",
                 From::kProfile},
        NameCase{"profile_whole_path_rule", "/b.out/c.ini", "sub/x.out", "/b.out/c.ini",
                 "/b.out/sub/x.out", "/b.efw/VELTARA-sub/x.efw", From::kProfile, true},
        NameCase{"profile_name_out_directory", "c.ini", "sub.out/x.out", "c.ini", "sub.out/x.out",
                 "VELTARA-sub.efw/x.efw", From::kProfile, true},
        NameCase{"posix_out_directory", "bin.out/coff2efw", "x.out", "bin.out/config.ini",
                 "bin.out/x.out", "bin.efw/VELTARA-x.efw", From::kArgv0, true},
        NameCase{"input_case_kept_on_posix", "fw/APP.OUT", "", "", "fw/APP.OUT",
                 "fw/VELTARA-APP.OUT", From::kInput},
        NameCase{"input_any_case", "fw.OUT/a.Out.OUT.ouT", "", "", "fw.OUT/a.Out.OUT.ouT",
                 "fw.OUT/VELTARA-a.efw.efw.efw", From::kInputAnyCase},
        NameCase{"input_any_case_no_out", "APP.OUTX.OU", "", "", "APP.OUTX.OU",
                 "VELTARA-APP.efwX.OU", From::kInputAnyCase}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(FileNames, ProgramDirectoryFollowsTheCodePage) {
    // 表 is 0x95 0x5C in code page 932: its second byte is no separator there.
    const char* argv0 = "C:\\tools\\\x95\x5C.exe";
    EXPECT_EQ(program_directory(argv0, 932), "C:\\tools\\");
    EXPECT_EQ(program_directory(argv0, 0), "C:\\tools\\\x95\x5C");
    // 0x81 leads a character in code page 936 (GBK), but no character ends in "/".
    EXPECT_EQ(program_directory("/d\x81/coff2efw", 936), "/d\x81/");
}

TEST(FileNames, TypedPathsEndTheirDirectoryAtEverySlash) {
    // 0x81 leads a character in code pages 936 and 949 and 0x95 in 932, but no character
    // ends in "/": in every code page the directory is "d\x81/".
    for (const int code_page : {0, 932, 936, 949, 950}) {
        SCOPED_TRACE(code_page);
        EXPECT_EQ(input_file_names("d\x81/a.out", code_page).output, "d\x81/VELTARA-a.efw");
        EXPECT_EQ(input_file_names("d\x95/a.out", code_page).output, "d\x95/VELTARA-a.efw");
        EXPECT_EQ(profile_file_names("d\x81/c.ini", "a.out", code_page).input, "d\x81/a.out");
    }
}

TEST(FileNames, OutReplacementFollowsTheCodePage) {
    std::string path = "d\\\x81.out.out";
    replace_out_with_efw(path, 949);
    EXPECT_EQ(path, "d\\\x81.out.efw");
    path = "d\\\x81.out.out";
    replace_out_with_efw(path, 0);
    EXPECT_EQ(path, "d\\\x81.efw.efw");
    // A named input's file name is searched the same way.
    EXPECT_EQ(input_file_names("d/\x81.out.out", 949).output, "d/VELTARA-\x81.out.efw");
}

} // namespace
