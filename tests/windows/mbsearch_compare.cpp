// Compares our own multibyte search (mb_strrchr, mb_strstr: what POSIX hosts use, given
// the code page explicitly) with the C runtime's _mbsrchr and _mbsstr, which the Windows
// build calls, on byte strings in one double-byte code page. Run it under the locale whose
// ANSI code page that is; the code page is the only argument. Exit status 0 when every
// comparison agrees, 1 otherwise.
#include "platform/mbstring.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <mbctype.h>
#include <windows.h>

namespace {

struct Text {
    int code_page;
    const char* bytes;
};

// Well-formed strings only (each is checked below): what a lead byte followed by the end of
// the string or by a byte that cannot follow it means is left open by the C runtime (one
// implementation reads on past the terminator), and no path the system hands over is like
// that. Each set has characters whose second byte is 0x5C or one of the searched ASCII
// bytes, next to plain ASCII and single-byte characters of the code page.
const Text kTexts[] = {
    // 932 (Shift_JIS): 表 95 5C, 能 94 5C, ソ 83 5C, あ 82 A0, full-width space 81 40,
    // half-width katakana B1 B2 (single bytes), and characters ending in 7C, 61, 41, 7E.
    {932, ""},
    {932, "plain\\ascii.out"},
    {932, "C:\\tools\\\x95\x5C.exe"},
    {932, "C:\\\x83\x5C\x83\x74\x83\x67\\app.out"},
    {932, "\x94\x5C\\\x95\x5C"},
    {932, "D:\\\x82\xA0\x82\xA2.out.out"},
    {932, "\x81\x40@\x81\x40"},
    {932, "\xB1\xB2\\x\xB1"},
    {932, "x\x83\x7C|\x83\x7C"},
    {932, "\x8A\x61\x8A\x41\x8A\x7E~a"},
    {932, "\x95\x5C.out\x95\x5C.out"},
    {932, "Z:\\tmp\\\x95\x5C\\\x95\x5C.exe"},
    // 936 (GBK): 中文 D6 D0 CE C4, 表 B1 ED, and GBK extension characters with
    // second bytes 0x40 to 0x7E.
    {936, "C:\\\x81\x5C\\x.exe"},
    {936, "\xD6\xD0\xCE\xC4\\a.out"},
    {936, "\x81\x40@\x81\x61"
          "a\x81\x7C|"},
    {936, "\xB1\xED\\\x81\x5C\x81\x5C"},
    {936, "a/\x90\x5C.out/b"},
    {936, "a\x81\x41\x81\x7E~A"},
    // 949 (UHC): 한글 C7 D1 B1 DB, 파일 C6 C4 C0 CF, extension characters with second
    // bytes in A-Z and a-z.
    {949, "C:\\\xC7\xD1\xB1\xDB\\app.out"},
    {949, "\x81\x41"
          "A\x81\x61"
          "a"},
    {949, "\xC6\xC4\xC0\xCF.out\\\x81\x5A"},
    {949, "\x8C\x61\x8C\x7A\\z.exe"},
    // 950 (Big5): 功 A5 5C, 許 B3 5C, 中文 A4 A4 A4 E5, 　 A1 40.
    {950, "C:\\\xA5\x5C\\\xB3\x5C.exe"},
    {950, "\xA4\xA4\xA4\xE5\\a.out"},
    {950, "\xA1\x40@\xA5\x61"
          "a\xA5\x7C|"},
    {950, "\xB3\x5C.out\xA5\x5C"},
};

// Bytes searched for with _mbsrchr: the separators, the characters of ".out", bytes that
// are second bytes of some characters above, a single-byte character of code page 932, and
// the terminator.
const unsigned char kChars[] = {'\\', '/', '.', 'o', 't', '@', 'a', 'A', 'z', '|', '~', 0xB1, 0};

// Patterns searched for with _mbsstr: what the converter replaces and a few that begin
// with a byte that can be the second byte of a character.
const char* const kPatterns[] = {".out", ".exe", "out", "", "\\", "@", "a", "|", "\\x"};

int g_Passed = 0;
int g_Failed = 0;
int g_Skipped = 0;

std::string hex(const char* bytes) {
    std::string out;
    char buf[4];
    for (const char* p = bytes; *p != '\0'; ++p) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(*p));
        out += out.empty() ? "" : " ";
        out += buf;
    }
    return out.empty() ? "(empty)" : out;
}

long at(const char* text, const char* hit) {
    return hit == nullptr ? -1 : static_cast<long>(hit - text);
}

void expect(bool ok, const std::string& what) {
    if (ok) {
        ++g_Passed;
        return;
    }
    ++g_Failed;
    std::printf("DIFFERENT: %s\n", what.c_str());
}

bool well_formed(const char* bytes, int code_page) {
    if (*bytes == '\0')
        return true;
    return MultiByteToWideChar(static_cast<UINT>(code_page), MB_ERR_INVALID_CHARS, bytes, -1,
                               nullptr, 0) > 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mbsearch_compare CODE_PAGE\n");
        return 2;
    }
    const int code_page = std::atoi(argv[1]);

    // The comparison means something only in the code page it names.
    const int acp = static_cast<int>(GetACP());
    expect(acp == code_page, "ANSI code page is " + std::to_string(acp) + ", not " + argv[1]);
    expect(platform::host_code_page() == code_page,
           "host_code_page() is " + std::to_string(platform::host_code_page()));
    expect(_getmbcp() == code_page,
           "the C runtime's multibyte code page is " + std::to_string(_getmbcp()));
    if (g_Failed != 0) {
        std::printf("cp%d: %d passed, %d failed\n", code_page, g_Passed, g_Failed);
        return 1;
    }

    for (int b = 0; b < 256; ++b) {
        const auto value = static_cast<unsigned char>(b);
        const bool ours = is_lead_byte(value, code_page);
        expect(ours == (IsDBCSLeadByteEx(static_cast<UINT>(code_page), value) != 0) &&
                   ours == (_ismbblead(value) != 0),
               "lead byte " + std::to_string(b) + ": ours " + std::to_string(ours));
    }

    // Microsoft's _mbsstr matches only where a character starts, as ours does; Wine's
    // compares byte by byte, and so also finds a pattern that begins with the second byte
    // of a character. Under such a runtime the cases that tell the two apart compare
    // nothing of ours: they are counted as skipped, provided the runtime's answer is the
    // byte-wise one exactly. The converter itself searches only for ".out", and '.' is the
    // second byte of no character in these code pages, so there the two always agree.
    bool bytewise_mbsstr = false;
    for (int lead = 0x81; lead <= 0xFE && !bytewise_mbsstr; ++lead) {
        for (const char second : {'@', 'a', 'A', '\\', '|'}) {
            const char probe[] = {static_cast<char>(lead), second, '\0'};
            const char pattern[] = {second, '\0'};
            if (is_lead_byte(static_cast<unsigned char>(lead), code_page) &&
                well_formed(probe, code_page) && platform::host_mbsstr(probe, pattern) == probe + 1)
                bytewise_mbsstr = true;
        }
    }
    if (bytewise_mbsstr)
        std::printf("note: this C runtime's _mbsstr compares byte by byte\n");

    int texts = 0;
    for (const Text& t : kTexts) {
        if (t.code_page != code_page)
            continue;
        ++texts;
        expect(well_formed(t.bytes, code_page), "not a well-formed string: " + hex(t.bytes));
        for (const unsigned char ch : kChars) {
            const long ours = at(t.bytes, mb_strrchr(t.bytes, ch, code_page));
            const long real = at(t.bytes, platform::host_mbsrchr(t.bytes, ch));
            expect(ours == real, "_mbsrchr(" + hex(t.bytes) + ", " + std::to_string(ch) +
                                     "): ours " + std::to_string(ours) + ", C runtime " +
                                     std::to_string(real));
        }
        for (const char* pattern : kPatterns) {
            const long ours = at(t.bytes, mb_strstr(t.bytes, pattern, code_page));
            const long real = at(t.bytes, platform::host_mbsstr(t.bytes, pattern));
            const long bytewise = at(t.bytes, std::strstr(t.bytes, pattern));
            if (bytewise_mbsstr && ours != bytewise && real == bytewise) {
                ++g_Skipped;
                continue;
            }
            expect(ours == real, "_mbsstr(" + hex(t.bytes) + ", " + hex(pattern) + "): ours " +
                                     std::to_string(ours) + ", C runtime " + std::to_string(real));
        }
    }
    expect(texts > 0, "no strings for this code page");

    std::printf("cp%d: %d passed, %d failed, %d skipped\n", code_page, g_Passed, g_Failed,
                g_Skipped);
    return g_Failed == 0 ? 0 : 1;
}
