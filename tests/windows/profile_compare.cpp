// Compares our profile reader (parse_profile_file: what POSIX hosts use) with the system's
// GetPrivateProfileStringA, which the Windows build calls, on a table of profile files.
// Each case is written as a file into the directory given as the only argument and read
// by both for the value of COFF_FILE in [CONFIG]; one row per case is printed. Exit
// status 0 when every row agrees, 1 otherwise.
#include "platform/profile.h"

#include <cstdio>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

struct Case {
    const char* name;
    std::string bytes;
};

// The text in UTF-16 with a byte-order mark; each char of `latin1` is one code unit.
std::string utf16(const std::string& latin1, bool little_endian = true) {
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char c : latin1) {
        const char lo = c;
        const char hi = '\0';
        out += little_endian ? lo : hi;
        out += little_endian ? hi : lo;
    }
    return out;
}

// A literal with the NUL bytes inside it.
template <std::size_t N> std::string with_nul(const char (&text)[N]) {
    return std::string(text, N - 1);
}

const std::string kSection = "[CONFIG]\n";
const std::string kEntry = "COFF_FILE=app.out\n";

const Case kCases[] = {
    // Line ends and encodings.
    {"lf", kSection + kEntry},
    {"crlf", "[CONFIG]\r\nCOFF_FILE=app.out\r\n"},
    {"cr_only", "[CONFIG]\rCOFF_FILE=app.out\r"},
    {"cr_only_other_section_first", "[OTHER]\rCOFF_FILE=no\r[CONFIG]\rCOFF_FILE=app.out\r"},
    {"mixed_line_ends", "[OTHER]\r\nX=1\n\r\n[CONFIG]\rCOFF_FILE=app.out\n"},
    {"no_final_newline", "[CONFIG]\nCOFF_FILE=app.out"},
    {"empty_file", ""},
    {"utf8_bom", "\xEF\xBB\xBF" + kSection + kEntry},
    {"utf8_bom_non_ascii", "\xEF\xBB\xBF[CONFIG]\r\nCOFF_FILE=caf\xC3\xA9.out\r\n"},
    {"utf16le_bom_crlf", utf16("[CONFIG]\r\nCOFF_FILE=app.out\r\n")},
    {"utf16le_bom_lf", utf16(kSection + kEntry)},
    {"utf16le_bom_non_ascii", utf16("[CONFIG]\r\nCOFF_FILE=caf\xE9.out\r\n")},
    {"utf16le_bom_odd_length", utf16("[CONFIG]\r\nCOFF_FILE=app.out") + "x"},
    {"utf16be_bom_odd_length", utf16("[CONFIG]\r\nCOFF_FILE=app.out", false) + "x"},
    {"utf16be_bom", utf16("[CONFIG]\r\nCOFF_FILE=app.out\r\n", false)},
    {"utf16le_without_bom", utf16(kSection + kEntry).substr(2)},
    // Blanks.
    {"blanks_around_lines", "  [CONFIG]  \n\t COFF_FILE=app.out \t\n"},
    {"blanks_around_name_and_value", "[CONFIG]\nCOFF_FILE \t=  app file.out \t\n"},
    {"blanks_inside_brackets", "[ CONFIG ]\nCOFF_FILE=app.out\n"},
    {"tab_inside_brackets", "[CONFIG\t]\nCOFF_FILE=app.out\n"},
    {"no_break_spaces_kept", "[CONFIG]\nCOFF_FILE=\xA0"
                             "app.out\xA0\n"},
    {"no_break_spaces_kept_utf16", utf16("[CONFIG]\r\nCOFF_FILE=\xA0"
                                         "app.out\xA0\r\n")},
    {"separators_kept", "[CONFIG]\nCOFF_FILE=\x1F"
                        "app.out\x1C\n"},
    {"blank_value", "[CONFIG]\nCOFF_FILE= \t \n"},
    {"control_blanks", "[CONFIG]\n\vCOFF_FILE\f=\x1A"
                       "app.out\x1A\v\n"},
    // Quotes.
    {"double_quotes", "[CONFIG]\nCOFF_FILE=\" app.out \"\n"},
    {"single_quotes", "[CONFIG]\nCOFF_FILE='app.out'\n"},
    {"quotes_then_blanks", "[CONFIG]\nCOFF_FILE=\"app.out\"  \n"},
    {"unbalanced_opening_quote", "[CONFIG]\nCOFF_FILE=\"app.out\n"},
    {"unbalanced_closing_quote", "[CONFIG]\nCOFF_FILE=app.out'\n"},
    {"mixed_quotes", "[CONFIG]\nCOFF_FILE=\"app.out'\n"},
    {"quotes_inside", "[CONFIG]\nCOFF_FILE=a\"b\"c.out\n"},
    {"quoted_with_quotes_inside", "[CONFIG]\nCOFF_FILE=\"a\"b\".out\"\n"},
    {"lone_quote", "[CONFIG]\nCOFF_FILE=\"\n"},
    {"empty_quotes", "[CONFIG]\nCOFF_FILE=''\n"},
    // Comments.
    {"semicolon_lines", "; COFF_FILE=no\n[CONFIG]\n  ;COFF_FILE=no\nCOFF_FILE=yes\n"},
    {"hash_lines", "# COFF_FILE=no\n[CONFIG]\n#COFF_FILE=no\nCOFF_FILE=yes\n"},
    {"semicolon_after_value", "[CONFIG]\nCOFF_FILE=app.out ; the input\n"},
    {"hash_after_value", "[CONFIG]\nCOFF_FILE=app.out # the input\n"},
    {"commented_section", ";[CONFIG]\nCOFF_FILE=no\n[CONFIG]\nCOFF_FILE=yes\n"},
    // Sections and keys.
    {"duplicate_sections_key_in_second", "[CONFIG]\nOTHER=1\n[CONFIG]\nCOFF_FILE=two\n"},
    {"duplicate_sections_key_in_both", "[CONFIG]\nCOFF_FILE=one\n[CONFIG]\nCOFF_FILE=two\n"},
    {"duplicate_keys", "[CONFIG]\nCOFF_FILE=one\nCOFF_FILE=two\n"},
    {"other_section", "[OTHER]\nCOFF_FILE=app.out\n[CONFIG]\nX=1\n"},
    {"key_before_any_section", "COFF_FILE=app.out\n[CONFIG]\n"},
    {"key_before_and_in_section", "COFF_FILE=no\n[CONFIG]\nCOFF_FILE=yes\n"},
    {"line_without_equals", "[CONFIG]\njunk\nCOFF_FILE=app.out\n"},
    {"key_without_equals_first", "[CONFIG]\nCOFF_FILE\nCOFF_FILE=app.out\n"},
    {"key_without_equals_only", "[CONFIG]\nCOFF_FILE\n"},
    {"empty_name", "[CONFIG]\n=no\nCOFF_FILE=app.out\n"},
    {"equals_in_value", "[CONFIG]\nCOFF_FILE=a=b.out\n"},
    {"equals_in_value_blanks", "[CONFIG]\nCOFF_FILE = a = b.out\n"},
    {"unclosed_section", "[CONFIG\nCOFF_FILE=app.out\n"},
    {"unclosed_section_inside", "[CONFIG]\n[OTHER\nCOFF_FILE=app.out\n"},
    {"section_with_junk", "[CONFIG] junk\nCOFF_FILE=app.out\n"},
    {"section_with_bracket_in_junk", "[CONFIG] junk]\nCOFF_FILE=app.out\n"},
    {"section_double_bracket", "[CONFIG]]\nCOFF_FILE=app.out\n"},
    {"empty_section_name", "[]\nCOFF_FILE=no\n[CONFIG]\nCOFF_FILE=yes\n"},
    {"lower_case_names", "[config]\ncoff_file=app.out\n"},
    {"mixed_case_names", "[Config]\nCoff_File=app.out\n"},
    {"case_kept_in_value", "[CONFIG]\nCOFF_FILE=App.OUT\n"},
    // Values.
    {"empty_value", "[CONFIG]\nCOFF_FILE=\n"},
    {"empty_value_then_lines", "[CONFIG]\nCOFF_FILE=\n  X=1\n"},
    {"percent_in_value", "[CONFIG]\nCOFF_FILE=app%d%s.out\n"},
    {"value_of_255", "[CONFIG]\nCOFF_FILE=" + std::string(255, 'y') + "\n"},
    {"value_of_300", "[CONFIG]\nCOFF_FILE=" + std::string(300, 'x') + "\n"},
    {"quoted_value_of_300", "[CONFIG]\nCOFF_FILE=\"" + std::string(300, 'q') + "\"\n"},
    {"long_line_before", std::string(6000, ';') + "\n[CONFIG]\nCOFF_FILE=app.out\n"},
    {"non_ascii_value", "[CONFIG]\nCOFF_FILE=caf\xE9.out\n"},
    // NUL bytes: the value, or the name, ends there.
    {"nul_in_value", with_nul("[CONFIG]\nCOFF_FILE=in.out\0x\n")},
    {"nul_after_blank", with_nul("[CONFIG]\nCOFF_FILE=in.out \0x\n")},
    {"nul_inside_quotes", with_nul("[CONFIG]\nCOFF_FILE=\"in.out\0x\"\n")},
    {"nul_in_key_name", with_nul("[CONFIG]\nCOFF_FILE\0x=in.out\n")},
    {"nul_in_section_name", with_nul("[CONFIG\0x]\nCOFF_FILE=in.out\n")},
    {"nul_after_blank_in_section", with_nul("[CONFIG \0x]\nCOFF_FILE=in.out\n")},
    {"nul_after_blank_in_key", with_nul("[CONFIG]\nCOFF_FILE \0x=in.out\n")},
};

// The bytes of a value for the table: printable ASCII as it is, runs of one character
// shortened, everything else as \xNN.
std::string shown(const char* text, std::size_t n) {
    std::string out = "\"";
    for (std::size_t i = 0; i < n;) {
        std::size_t run = 1;
        while (i + run < n && text[i + run] == text[i])
            ++run;
        const auto c = static_cast<unsigned char>(text[i]);
        char buf[8];
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"')
            std::snprintf(buf, sizeof buf, "%c", c);
        else
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
        if (run > 8) {
            out += buf + std::string("{") + std::to_string(run) + "}";
            i += run;
        } else {
            out += buf;
            ++i;
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: profile_compare DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::printf("ANSI code page %u\n", GetACP());
    std::printf("%-34s %-26s %-26s %s\n", "case", "ours", "Windows", "");
    int agreed = 0;
    int differed = 0;
    for (const Case& c : kCases) {
        const std::string path = dir + "\\" + c.name + ".ini";
        std::FILE* fp = std::fopen(path.c_str(), "wb");
        if (fp == nullptr ||
            (!c.bytes.empty() &&
             std::fwrite(c.bytes.data(), 1, c.bytes.size(), fp) != c.bytes.size()) ||
            std::fclose(fp) != 0) {
            std::fprintf(stderr, "profile_compare: cannot write %s\n", path.c_str());
            return 2;
        }

        char ours[256];
        const platform::ProfileResult r = platform::parse_profile_file(
            path.c_str(), "CONFIG", "COFF_FILE", "DEFAULT", ours, sizeof ours);
        char theirs[256];
        const DWORD n = GetPrivateProfileStringA("CONFIG", "COFF_FILE", "DEFAULT", theirs,
                                                 sizeof theirs, path.c_str());
        const std::string ours_shown = r.status == platform::ProfileStatus::kRead
                                           ? shown(ours, r.length)
                                           : "(error " + std::to_string(r.error) + ")";
        const std::string theirs_shown = shown(theirs, n);
        const bool same = r.status == platform::ProfileStatus::kRead && ours_shown == theirs_shown;
        (same ? agreed : differed)++;
        std::printf("%-34s %-26s %-26s %s\n", c.name, ours_shown.c_str(), theirs_shown.c_str(),
                    same ? "agree" : "DIFFER");
    }
    std::printf("profiles: %d agree, %d differ\n", agreed, differed);
    return differed == 0 ? 0 : 1;
}
