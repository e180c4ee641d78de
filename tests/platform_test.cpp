#include "image/image_passes.h"
#include "platform/commit.h"
#include "platform/console.h"
#include "platform/mbstring.h"
#include "platform/profile.h"
#include "support/harness.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <string>

namespace {

struct ProfileCase {
    const char* label;
    std::string text;
    std::string expected;
};

class ProfileText : public testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileText, FindsTheValueOrTheDefault) {
    char buffer[256];
    const std::size_t n = platform::parse_profile_text(GetParam().text, "CONFIG", "COFF_FILE",
                                                       "DEFAULT", buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, n), GetParam().expected);
    EXPECT_EQ(std::string(buffer), GetParam().expected);

    // The same text from a file, read in pieces.
    harness::ScratchDir dir;
    harness::write_text(dir.file("config.ini"), GetParam().text);
    char from_file[256];
    const platform::ProfileResult r =
        platform::parse_profile_file(dir.file("config.ini").c_str(), "CONFIG", "COFF_FILE",
                                     "DEFAULT", from_file, sizeof from_file);
    ASSERT_EQ(r.status, platform::ProfileStatus::kRead) << r.error;
    EXPECT_EQ(std::string(from_file, r.length), GetParam().expected);
}

// The text in UTF-16 with a byte-order mark; each char of `ascii` is one code unit.
std::string utf16(const std::string& ascii, bool little_endian = true) {
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : ascii)
        out += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

// Files are read 16 KiB at a time: a comment that ends just before, so that the next
// lines straddle the boundary.
const std::string kPadding = std::string(16380, ';') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Conventions, ProfileText,
    testing::Values(
        ProfileCase{"plain", "[CONFIG]\nCOFF_FILE=app.out\n", "app.out"},
        ProfileCase{"crlf", "[CONFIG]\r\nCOFF_FILE=app.out\r\n", "app.out"},
        ProfileCase{"no_final_newline", "[CONFIG]\nCOFF_FILE=app.out", "app.out"},
        ProfileCase{"case_insensitive_names", "[config]\ncoff_file=app.out\n", "app.out"},
        ProfileCase{"blanks_trimmed", "  [ CONFIG ]  \n\t COFF_FILE \t=  app file.out \t\n",
                    "app file.out"},
        ProfileCase{"double_quotes", "[CONFIG]\nCOFF_FILE=\" app.out \"\n", " app.out "},
        ProfileCase{"single_quotes", "[CONFIG]\nCOFF_FILE='app.out'\n", "app.out"},
        ProfileCase{"unmatched_quote_kept", "[CONFIG]\nCOFF_FILE=\"app.out\n", "\"app.out"},
        ProfileCase{"comment_lines", "; COFF_FILE=no\n[CONFIG]\n  ;COFF_FILE=no\nCOFF_FILE=yes\n",
                    "yes"},
        ProfileCase{"bom", "\xEF\xBB\xBF[CONFIG]\nCOFF_FILE=app.out\n", "app.out"},
        ProfileCase{"first_key_wins", "[CONFIG]\nCOFF_FILE=one\nCOFF_FILE=two\n", "one"},
        ProfileCase{"first_section_wins", "[CONFIG]\nOTHER=1\n[CONFIG]\nCOFF_FILE=two\n",
                    "DEFAULT"},
        ProfileCase{"other_section", "[OTHER]\nCOFF_FILE=app.out\n[CONFIG]\nX=1\n", "DEFAULT"},
        ProfileCase{"key_before_any_section", "COFF_FILE=app.out\n[CONFIG]\n", "DEFAULT"},
        ProfileCase{"empty_value", "[CONFIG]\nCOFF_FILE=\n", ""},
        ProfileCase{"blank_value", "[CONFIG]\nCOFF_FILE=   \n", ""},
        ProfileCase{"equals_in_value", "[CONFIG]\nCOFF_FILE=a=b.out\n", "a=b.out"},
        ProfileCase{"percent_kept", "[CONFIG]\nCOFF_FILE=app%d%s.out\n", "app%d%s.out"},
        ProfileCase{"empty_file", "", "DEFAULT"},
        ProfileCase{"cut_at_255", "[CONFIG]\nCOFF_FILE=" + std::string(300, 'x') + "\n",
                    std::string(255, 'x')},
        ProfileCase{"cr_only", "[OTHER]\rCOFF_FILE=no\r[CONFIG]\rCOFF_FILE=app.out\r", "app.out"},
        ProfileCase{"control_blanks",
                    "[CONFIG]\n\vCOFF_FILE\f=\x1A"
                    "app.out\x1A\v\n",
                    "app.out"},
        ProfileCase{"unclosed_section_is_no_section", "[CONFIG\nCOFF_FILE=app.out\n", "DEFAULT"},
        ProfileCase{"unclosed_section_ends_nothing", "[CONFIG]\n[OTHER\nCOFF_FILE=app.out\n",
                    "app.out"},
        ProfileCase{"name_runs_to_the_last_bracket", "[CONFIG]]\nCOFF_FILE=app.out\n", "DEFAULT"},
        ProfileCase{"junk_after_the_bracket", "[CONFIG] junk\nCOFF_FILE=app.out\n", "app.out"},
        ProfileCase{"key_without_equals_decides", "[CONFIG]\nCOFF_FILE\nCOFF_FILE=app.out\n",
                    "DEFAULT"},
        ProfileCase{"nul_ends_the_value", std::string("[CONFIG]\nCOFF_FILE=in.out\0x\n", 28),
                    "in.out"},
        ProfileCase{"nul_ends_the_name", std::string("[CONFIG\0x]\nCOFF_FILE\0y=in.out\n", 30),
                    "in.out"},
        ProfileCase{"utf16le_bom", utf16("[CONFIG]\r\nCOFF_FILE=app.out\r\n"), "app.out"},
        ProfileCase{"utf16be_bom", utf16("[CONFIG]\nCOFF_FILE=app.out", false), "app.out"},
        ProfileCase{"utf16le_odd_byte_is_a_unit", utf16("[CONFIG]\nCOFF_FILE=app.out") + "x",
                    "app.outx"},
        ProfileCase{"utf16le_without_bom_is_bytes", utf16("[CONFIG]\nCOFF_FILE=app.out").substr(2),
                    "DEFAULT"},
        ProfileCase{"long_lines_cut_alone",
                    "[CONFIG]\nX=" + std::string(10000, 'x') + "\nCOFF_FILE=app.out\n", "app.out"},
        ProfileCase{"across_the_read_boundary", kPadding + "[CONFIG]\nCOFF_FILE=app.out\n",
                    "app.out"},
        ProfileCase{"utf16_across_the_read_boundary",
                    utf16(kPadding.substr(1) + "[CONFIG]\nCOFF_FILE=app.out\n"), "app.out"},
        ProfileCase{"utf8_bom_across_the_read_boundary",
                    "\xEF\xBB\xBF" + kPadding.substr(1) + "[CONFIG]\nCOFF_FILE=app.out\n",
                    "app.out"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(ProfileFile, MissingFileGivesTheDefault) {
    harness::ScratchDir dir;
    harness::write_text(dir.file("file"), "");
    // No such file, and a file where a directory should be: both are no profile at all.
    for (const auto& [path, error] : {std::pair{dir.file("config.ini"), ENOENT},
                                      std::pair{dir.file("file/config.ini"), ENOTDIR}}) {
        char buffer[256];
        const platform::ProfileResult r = platform::parse_profile_file(
            path.c_str(), "CONFIG", "COFF_FILE", "ZOV-KARN.efw", buffer, sizeof buffer);
        EXPECT_EQ(r.status, platform::ProfileStatus::kNoFile) << path;
        EXPECT_EQ(r.error, error) << path;
        EXPECT_EQ(std::string(buffer, r.length), "ZOV-KARN.efw");
    }
}

TEST(Charset, NamesMapToCodePages) {
    const struct {
        const char* name;
        int code_page;
    } cases[] = {{"SHIFT_JIS", 932}, {"Shift-JIS", 932},    {"SJIS", 932},     {"CP932", 932},
                 {"GBK", 936},       {"GB2312", 936},       {"EUC-KR", 949},   {"UHC", 949},
                 {"CP949", 949},     {"BIG5", 950},         {"Big5", 950},     {"CP950", 950},
                 {"UTF-8", 0},       {"ANSI_X3.4-1968", 0}, {"ISO-8859-1", 0}, {"", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(code_page_for_charset(c.name), c.code_page) << c.name;
}

struct SearchCase {
    const char* text;
    int code_page;
    long last_backslash; // -1: none
};

TEST(MultibyteSearch, BackslashAsTrailByteIsNoSeparator) {
    // 0x95 0x5C is one character in code page 932, 0xB3 0x5C one in 950 and 0x81 0x5C one
    // in 936 and 949; in a single-byte set the 0x5C stands alone.
    const SearchCase cases[] = {
        {"C:\\tools\\\x95\x5C.exe", 932, 8},
        {"C:\\tools\\\x95\x5C.exe", 0, 10},
        {"C:\\tools\\\xB3\x5C.exe", 950, 8},
        {"C:\\tools\\\xB3\x5C.exe", 0, 10},
        {"C:\\\x81\x5C\\x.exe", 936, 5},
        {"C:\\\x81\x5C\\x.exe", 949, 5},
        {"\x95\x5C", 932, -1},
        {"\xE0\x5C\\", 932, 2},
        {"\xA0\x5C", 932, 1}, // 0xA0 is no lead byte in 932
        {"a\\\x95", 932, 1},  // a lead byte at the end stands alone
        {"plain", 0, -1},
        {"", 932, -1},
    };
    for (const SearchCase& c : cases) {
        const char* hit = mb_strrchr(c.text, '\\', c.code_page);
        const long at = hit == nullptr ? -1 : static_cast<long>(hit - c.text);
        EXPECT_EQ(at, c.last_backslash) << "code page " << c.code_page << ", text " << c.text;
    }
}

TEST(MultibyteSearch, SubstringMatchesStartOnCharacterBoundaries) {
    const struct {
        const char* text;
        const char* pattern;
        int code_page;
        long at;
    } cases[] = {
        {"app.out", ".out", 0, 3},
        {"app.OUT", ".out", 0, -1},
        {"\x81.out", ".out", 0, 1},
        {"\x81.out", ".out", 932, -1}, // the '.' is the second byte of a character
        {"\x81.out.out", ".out", 949, 5},
        {"\x95\x5C.out", ".out", 932, 2},
        {"", ".out", 0, -1},
        {"abc", "", 0, 0},
    };
    for (const auto& c : cases) {
        const char* hit = mb_strstr(c.text, c.pattern, c.code_page);
        const long at = hit == nullptr ? -1 : static_cast<long>(hit - c.text);
        EXPECT_EQ(at, c.at) << c.text << " / " << c.pattern << " in " << c.code_page;
    }
}

TEST(MultibyteSearch, AnyCaseMatchesStartOnCharacterBoundaries) {
    const struct {
        const char* text;
        int code_page;
        long at;
    } cases[] = {
        {"app.OUT", 0, 3},        {"app.oUt.out", 0, 3}, {"app.ou", 0, -1},
        {"\x81.OUT", 0, 1},       {"\x81.OUT", 932, -1}, // the '.' is a trail byte
        {"\x81.OUT.Out", 949, 5}, {"\x8F.OUT", 932, -1}, {"", 0, -1},
        {".0UT", 0, -1}, // only letters fold
    };
    for (const auto& c : cases) {
        const char* hit = mb_strcasestr(c.text, ".out", c.code_page);
        const long at = hit == nullptr ? -1 : static_cast<long>(hit - c.text);
        EXPECT_EQ(at, c.at) << c.text << " in " << c.code_page;
    }
}

TEST(Utf8, WellFormedTextBeyondAscii) {
    const struct {
        std::string text;
        bool utf8_beyond_ascii;
    } cases[] = {
        {"app.out", false},                     // ASCII alone gives no sign of UTF-8
        {"\xED\x95\x9C\xEA\xB8\x80.out", true}, // 한글
        {"\xC3\xA9", true},                     // é
        {"\xF0\x9F\x98\x80", true},             // U+1F600
        {"\xC3", false},                        // cut short
        {"\xC3\x28", false},                    // no continuation byte
        {"\xC0\xAF", false},                    // overlong "/"
        {"\xE0\x80\xAF", false},                // overlong "/"
        {"\xED\xA0\x80", false},                // a surrogate
        {"\xF4\x90\x80\x80", false},            // past U+10FFFF
        {"\x95\x5C.out", false},                // code page 932
        {"\xC7\xD1\xB1\xDB.out", false},        // 한글 in code page 949
    };
    for (const auto& c : cases)
        EXPECT_EQ(utf8_beyond_ascii(c.text), c.utf8_beyond_ascii) << c.text;
    // A POSIX host's file name is bytes: any of them.
    EXPECT_TRUE(platform::text_in_ansi_code_page("\xC7\xD1\x80"));
    EXPECT_TRUE(platform::argument_held_by_code_page("\xC7\xD1\x80"));
}

// What the C library's converter makes of `text` for `charset`, or the text unchanged
// where it cannot convert it all: what the console is given must be what it would give.
std::string converted(std::string_view text, const char* charset) {
    const iconv_t cd = iconv_open(charset, "CP949");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    std::string in(text), out(4 * text.size(), '\0');
    char* in_ptr = in.data();
    char* out_ptr = out.data();
    std::size_t in_left = in.size(), out_left = out.size();
    const std::size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || in_left != 0)
        return std::string(text);
    out.resize(out.size() - out_left);
    return out;
}

// The banner's fixed forms, in every set a console may use, against the converter.
TEST(Console, BannerInEachConsoleCharacterSetIsTheConvertersOwn) {
    const std::string_view stored = "[ROM \xC6\xC4\xC0\xCF \xBE\xB2\xB1\xE2 \xC0\xDB\xBE\xF7]\n";
    const platform::Cp949Text ascii = {"[ROM]\n", "[ROM]\n", "[ROM]\n", "[ROM]\n"};
    for (const char* charset :
         {"UTF-8", "GB18030", "JOHAB", "CP949", "EUC-KR", "UHC", "ANSI_X3.4-1968", "ISO-8859-1",
          "ISO-8859-15", "KOI8-R", "SHIFT_JIS", "EUC-JP", "GBK", "GB2312", "BIG5", "CP1252"}) {
        SCOPED_TRACE(charset);
        const std::string_view shown = platform::text_for_console(kRomBanner, charset);
        EXPECT_EQ(std::string(shown), converted(stored, charset));
        EXPECT_EQ(std::string(platform::text_for_console(ascii, charset)), "[ROM]\n");
    }
    // A locale's own spelling of the set, and a set nobody knows.
    EXPECT_EQ(platform::text_for_console(kRomBanner, "utf8"), kRomBanner.utf8);
    EXPECT_EQ(platform::text_for_console(kRomBanner, "NO-SUCH-SET"), stored);
    EXPECT_EQ(platform::text_for_console(kRomBanner, ""), stored);
}

// The set taken from the environment's names must be the one the locale data give
// wherever those know the name; a UTF-8 name the system lacks still means a UTF-8
// terminal, and any other name is left to the locale data.
TEST(Console, CharsetNamedByTheEnvironment) {
    struct Row {
        const char *lc_all, *lc_ctype, *lang, *charset;
        bool installed; // the C library's answer must agree
    };
    const Row rows[] = {
        {nullptr, nullptr, nullptr, "ANSI_X3.4-1968", true},
        {"", "", "", "ANSI_X3.4-1968", true},
        {"C", nullptr, "ko_KR.utf8", "ANSI_X3.4-1968", true},
        {"POSIX", nullptr, nullptr, "ANSI_X3.4-1968", true},
        {"C.UTF-8", nullptr, nullptr, "UTF-8", true},
        {"", "C.utf8", "C", "UTF-8", true},
        {nullptr, "", "ko_KR.utf8", "UTF-8", true},
        {nullptr, nullptr, "ko_KR.UTF-8@euro", "UTF-8", true},
        {nullptr, nullptr, "xx_XX.UTF-8", "UTF-8", false},
        {nullptr, nullptr, "ko_KR.EUC-KR", "", false},
        {nullptr, nullptr, "ko_KR", "", false},
        {nullptr, nullptr, "en_US.UTF-16", "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.lc_all ? r.lc_all : "-") + " " +
                     (r.lc_ctype ? r.lc_ctype : "-") + " " + (r.lang ? r.lang : "-"));
        EXPECT_EQ(platform::charset_named_by(r.lc_all, r.lc_ctype, r.lang), r.charset);
        if (r.installed) {
            const char* name = r.lc_all && *r.lc_all       ? r.lc_all
                               : r.lc_ctype && *r.lc_ctype ? r.lc_ctype
                               : r.lang                    ? r.lang
                                                           : "";
            const std::string saved = std::setlocale(LC_CTYPE, nullptr);
            // A name the machine lacks (ko_KR.utf8 without its locale made) is not tried.
            if (std::setlocale(LC_CTYPE, *name ? name : "C") != nullptr) {
                EXPECT_EQ(r.charset, std::string(nl_langinfo(CODESET))) << name;
            }
            std::setlocale(LC_CTYPE, saved.c_str());
        }
    }
}

// The listing's lines must keep every byte that formatted printing gave them.
TEST(ConsoleLine, NumbersReadAsFormattedPrintingShowsThem) {
    for (const std::uint32_t v : {0u, 1u, 9u, 0xAu, 0xFu, 0x10u, 0x12Du, 0xFFFFFFu, 0x1000000u,
                                  0x90000804u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        for (const int d : {0, 7, 2047, -1, INT_MIN, INT_MAX}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%d\t\t%s\t\t%x", d, ".text", v);
            char text[64];
            char* p = platform::append_dec(text, d);
            p = platform::append_text(p, "\t\t.text\t\t");
            p = platform::append_hex(p, v);
            EXPECT_EQ(std::string(text, p), expected);
        }
    }
}

// In the sanitizer build (the asan and fuzz presets), a report of any sanitizer must end
// the run with status 86, which no failure of the programs gives: a failure row would
// otherwise pass over an undefined-behaviour report, whose status was the converter's 1.
TEST(SanitizerReports, EndTheRunWithTheirOwnStatus) {
    const std::string probe = SANITIZER_PROBE_EXE;
    if (probe.empty())
        GTEST_SKIP() << "not the sanitizer build";
    const struct {
        const char* fault;
        int status;
    } rows[] = {{"none", 0}, {"signed-overflow", 86}, {"heap-overflow", 86}, {"leak", 86}};
    for (const auto& row : rows) {
        const harness::ProcessResult r = harness::run_program(probe, probe, {row.fault}, "/");
        EXPECT_EQ(r.status, row.status) << row.fault << ": " << r.err;
        EXPECT_EQ(r.err.empty(), row.status == 0) << row.fault << ": " << r.err;
    }
}

TEST(MultibyteSearch, HostCodePageOnlyForTextOutsideAscii) {
    EXPECT_EQ(platform::code_page_for_text("/opt/fw/app.out"), kSingleByte);
    EXPECT_EQ(platform::code_page_for_text(""), kSingleByte);
    EXPECT_EQ(platform::code_page_for_text("\x95\x5C.out"), platform::host_code_page());
}

// A commit that fails after another has succeeded puts the earlier target back as it
// was: its old bytes where there was a file, nothing where there was none.
TEST(Commit, AFailedRenamePutsBackTheOutputsBeforeIt) {
    for (const bool had_first : {true, false}) {
        SCOPED_TRACE(had_first ? "first target existed" : "first target was new");
        const harness::ScratchDir dir;
        const std::string first = dir.file("first");
        if (had_first)
            harness::write_text(first, "old");
        // A directory that is not empty takes no file renamed over it.
        const std::string second = dir.file("second");
        ASSERT_EQ(mkdir(second.c_str(), 0755), 0);
        harness::write_text(dir.file("second/keep"), "");
        std::string temp_a;
        std::string temp_b;
        int a = -1;
        int b = -1;
        std::FILE* fa = platform::create_temporary(first, ".t-", temp_a, nullptr, a);
        std::FILE* fb = platform::create_temporary(second + "x", ".t-", temp_b, nullptr, b);
        ASSERT_TRUE(fa != nullptr && fb != nullptr);
        std::fputs("new", fa);
        ASSERT_TRUE(platform::close_temporary(a, fa));
        ASSERT_TRUE(platform::close_temporary(b, fb));
        ASSERT_TRUE(platform::commit_temporary(a, first, true));
        EXPECT_EQ(harness::read_text(first), "new");
        EXPECT_FALSE(platform::commit_temporary(b, second, false));
        platform::restore_committed(a);
        platform::discard_temporary(b);
        EXPECT_EQ(harness::file_exists(first), had_first);
        if (had_first) {
            EXPECT_EQ(harness::read_text(first), "old");
        }
        const std::vector<std::string> expected = had_first
                                                      ? std::vector<std::string>{"first", "second"}
                                                      : std::vector<std::string>{"second"};
        EXPECT_EQ(harness::list_dir(dir.path), expected);
    }
}

} // namespace
