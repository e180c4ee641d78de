#include "coff/coff_headers.h"

#include "base/failure.h"
#include "base/little_endian.h"
#include "platform/console.h"
#include "platform/mbstring.h"
#include "text/hex_text.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iterator>

FileHead g_FileHead;
OptHead g_OptHead;
SectHead g_SectTable[kMaxSections];

namespace {

// Decoding from the file's bytes, field by field in little-endian order.
void decode_file_head(const unsigned char* b, FileHead& h) {
    h.usVersion = get_le16(b + 0);
    h.usNumSect = get_le16(b + 2);
    h.lDataTime = get_le32s(b + 4);
    h.lFilePtr = get_le32s(b + 8);
    h.lNumEntry = get_le32s(b + 12);
    h.usOptHeadSize = get_le16(b + 16);
    h.usFlags = get_le16(b + 18);
    h.usTargId = get_le16(b + 20);
}

void decode_opt_head(const unsigned char* b, OptHead& h) {
    h.sMagicNo = get_le16(b + 0);
    h.sVersion = get_le16(b + 2);
    h.lCodeSize = get_le32s(b + 4);
    h.lDataSize = get_le32s(b + 8);
    h.lBssSize = get_le32s(b + 12);
    h.lEntryPoint = get_le32s(b + 16);
    h.lCodeAddr = get_le32s(b + 20);
    h.lDataAddr = get_le32s(b + 24);
}

void decode_sect_head(const unsigned char* b, SectHead& h) {
    std::memcpy(h.SectName, b, sizeof h.SectName);
    h.PhyAddr = get_le32s(b + 8);
    h.VirtAddr = get_le32s(b + 12);
    h.SectSize = get_le32s(b + 16);
    h.FilePtrRaw = get_le32s(b + 20);
    h.FilePtrReloc = get_le32s(b + 24);
    h.FilePtrLine = get_le32s(b + 28);
    h.NumReloc = get_le32s(b + 32);
    h.NumLineNo = get_le32s(b + 36);
    h.Flags = get_le32s(b + 40);
    h.Reserved = get_le16(b + 44);
    h.MemPage = get_le16(b + 46);
}

} // namespace

namespace {

// The string table of the object being read: as much of it as kStringTableMax holds,
// from its size word on. Read only when a section has a long name, and then once.
constexpr std::size_t kStringTableMax = std::size_t{1} << 20;
char g_StringTable[kStringTableMax];
std::size_t g_StringTableLen = 0; // 0 while unread or unusable
enum class TableState : unsigned char { Unread, Read, Unusable };
TableState g_StringTableState = TableState::Unread;

constexpr std::size_t kSymbolEntrySize = 18;

// Bytes from `digits_from` on that are hexadecimal digits, at least two and as many as the
// file has up to eight: how each line of the two record formats goes on after its start.
bool hex_record_text(const unsigned char* b, std::size_t len, std::size_t digits_from) {
    if (len < digits_from + 2)
        return false;
    for (std::size_t k = digits_from; k < len && k < digits_from + 8; ++k) {
        if (hex_digit_value(static_cast<char>(b[k])) < 0)
            return false;
    }
    return true;
}

// The table lies behind the symbol table, whose entries are 18 bytes; its first word is
// its size in bytes, the word included. Whatever does not add up leaves the names to
// fall back on; a failed read is no reason to refuse an object whose image needs none.
void read_string_table(InputFile& in) {
    g_StringTableState = TableState::Unusable;
    g_StringTableLen = 0;
    const FileHead& h = g_FileHead;
    if (h.lFilePtr <= 0 || h.lNumEntry < 0)
        return;
    const std::uint64_t at = static_cast<std::uint64_t>(h.lFilePtr) +
                             static_cast<std::uint64_t>(h.lNumEntry) * kSymbolEntrySize;
    if (!in_file(in, at, 4))
        return;
    const std::uint64_t resume = in.pos;
    try {
        unsigned char word[4];
        read_input_at(in, at, word, sizeof word, "string table");
        const std::uint32_t size = get_le32(word);
        if (size > sizeof word && in_file(in, at, size)) {
            const std::size_t len = size < kStringTableMax ? size : kStringTableMax;
            std::memcpy(g_StringTable, word, sizeof word);
            read_input(in, g_StringTable + sizeof word, len - sizeof word, "string table");
            g_StringTableLen = len;
            g_StringTableState = TableState::Read;
        }
    } catch (const Failure&) {
        g_StringTableLen = 0;
    }
    seek_input(in, resume);
}

// Writes a message's text into a fixed buffer, cutting what does not fit.
struct TextWriter {
    char* p;
    char* end; // where the terminating zero goes

    void put(std::string_view t) {
        p = std::copy_n(t.data(), std::min(t.size(), static_cast<std::size_t>(end - p)), p);
    }
    void put_dec(unsigned v) { p = std::to_chars(p, end, v).ptr; }
    std::size_t room() const { return static_cast<std::size_t>(end - p); }
};

// How far a name may run in a message before it is cut with "...".
constexpr std::size_t kShownNameMax = 120;

// The console's character set, as the text checks below need it: looked up once, and only
// for a name with a byte outside ASCII.
struct ConsoleText {
    enum Kind : unsigned char { Ascii, Utf8, DoubleByte, SingleByte } kind;
    int code_page;   // of a double-byte set
    bool c1_is_text; // 0x80 to 0x9f are characters (a Windows code page), not control codes
};

const ConsoleText& console_text() {
    static const ConsoleText text = [] {
        const std::string charset = platform::console_charset();
        if (charset == "UTF-8")
            return ConsoleText{ConsoleText::Utf8, 0, false};
        if (charset == "ANSI_X3.4-1968")
            return ConsoleText{ConsoleText::Ascii, 0, false};
        // An empty name is a console that shows the host's code page as it is (Windows).
        const int cp =
            charset.empty() ? platform::host_code_page() : code_page_for_charset(charset.c_str());
        if (cp != kSingleByte)
            return ConsoleText{ConsoleText::DoubleByte, cp, false};
        return ConsoleText{ConsoleText::SingleByte, 0, charset.empty()};
    }();
    return text;
}

// The length of the character at `b` (a byte of 0x80 or above) in the console's set, or
// 0 when it forms no text there.
std::size_t text_length(const unsigned char* b, std::size_t n) {
    const ConsoleText& c = console_text();
    switch (c.kind) {
    case ConsoleText::Ascii:
        return 0;
    case ConsoleText::Utf8:
        return utf8_shown_length(b, n);
    case ConsoleText::DoubleByte:
        if (is_lead_byte(b[0], c.code_page))
            return n >= 2 && b[1] >= 0x40 && b[1] != 0x7F && b[1] != 0xFF ? 2 : 0;
        return c.code_page == 932 && b[0] >= 0xA1 && b[0] <= 0xDF ? 1 : 0; // half-width kana
    case ConsoleText::SingleByte:
        return c.c1_is_text || b[0] >= 0xA0 ? 1 : 0;
    }
    return 0;
}

// Writes `name` for a message: text as it is, other bytes as \xHH; cut with "..." at a
// character's end once it passes kShownNameMax.
void put_name(TextWriter& w, std::string_view name) {
    const auto* b = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t n = name.size();
    std::size_t shown = 0;
    for (std::size_t k = 0; k < n;) {
        // Plain ASCII, as most names are, goes in one piece.
        std::size_t plain = k;
        while (plain < n && b[plain] < 0x80 && !is_control_byte(b[plain]))
            ++plain;
        if (plain > k) {
            const std::size_t fits = std::min(plain - k, kShownNameMax - shown);
            w.put(name.substr(k, fits));
            shown += fits;
            if (fits < plain - k) {
                w.put("...");
                return;
            }
            k = plain;
            continue;
        }
        std::size_t len = 1;
        if (b[k] >= 0x80)
            len = text_length(b + k, n - k);
        else if (is_control_byte(b[k]))
            len = 0;
        const EscapedByte escaped = escaped_byte(b[k]);
        const std::string_view piece = len == 0 ? escaped.view() : name.substr(k, len);
        if (shown + piece.size() > kShownNameMax) {
            w.put("...");
            return;
        }
        w.put(piece);
        shown += piece.size();
        k += len == 0 ? 1 : len;
    }
}

// "section 7 (.text)", the one form every message names a section by.
void put_section_label(TextWriter& w, unsigned index) {
    const SectHead& sect = g_SectTable[index];
    w.put("section ");
    w.put_dec(index);
    w.put(" (");
    const std::string_view long_name = long_name_text(sect);
    if (!long_name.empty())
        put_name(w, long_name);
    else if (has_no_name(sect))
        w.put("unnamed");
    else
        put_name(w, sect_name_text(sect));
    w.put(")");
}

} // namespace

const char* other_format(const unsigned char* b, std::size_t len) {
    if (len >= 4 && std::memcmp(b,
                                "\x7F"
                                "ELF",
                                4) == 0)
        return "an ELF file, not a COFF object";
    if (len >= 2 && b[0] == 'M' && b[1] == 'Z')
        return "a Windows or DOS executable (MZ), not a COFF object";
    if (len >= 1 && b[0] == ':' && hex_record_text(b, len, 1))
        return "a hex record file (text lines starting with ':'), not a COFF object";
    if (len >= 2 && b[0] == 'S' && b[1] >= '0' && b[1] <= '9' && hex_record_text(b, len, 2))
        return "an S-record file (text lines starting with 'S0' to 'S9'), not a COFF object";
    if (len >= 2 && b[0] == 0x00 && b[1] == kVersion48)
        return "a big-endian COFF object (its first bytes are 00 c2); only little-endian "
               "objects are converted";
    return nullptr;
}

void read_file_head(InputFile& in) {
    g_StringTableState = TableState::Unread;
    g_StringTableLen = 0;
    unsigned char bytes[sizeof(FileHead)];
    // What the file holds of the header is enough to tell another format by, and such a
    // file is named for what it is, whatever its length.
    const std::size_t have = in_file(in, in.pos, sizeof bytes)
                                 ? sizeof bytes
                                 : static_cast<std::size_t>(in.size - std::min(in.pos, in.size));
    read_input(in, bytes, have, "file header");
    if (const char* format = other_format(bytes, have))
        fail(in.path, format);
    if (have < sizeof bytes) {
        seek_input(in, in.pos - have);
        read_input(in, bytes, sizeof bytes, "file header"); // fails, naming the header
    }
    decode_file_head(bytes, g_FileHead);
}

void read_opt_head(InputFile& in) {
    unsigned char bytes[sizeof(OptHead)];
    read_input(in, bytes, sizeof bytes, "optional header");
    decode_opt_head(bytes, g_OptHead);
}

void clear_opt_head() {
    g_OptHead = OptHead{};
}

void check_section_count(const InputFile& in) {
    if (g_FileHead.usNumSect <= kMaxSections)
        return;
    std::string what = "the file header declares " + std::to_string(g_FileHead.usNumSect) +
                       " section headers; at most " + std::to_string(kMaxSections) +
                       " are supported";
    // The count is then usually not a count at all: the version tells why.
    if (g_FileHead.usVersion != kVersion48) {
        what += " (its version is " + hex(g_FileHead.usVersion) + ", not " + hex(kVersion48) +
                ": the file is probably no such COFF object)";
    }
    fail(in.path, what);
}

void read_sect_head(InputFile& in, unsigned index) {
    unsigned char bytes[sizeof(SectHead)];
    // The message is almost never needed: put together without allocation, and without
    // formatted printing, which cost as much as the read itself on a full section table.
    char what[32];
    TextWriter w{what, what + sizeof what - 1};
    w.put("section header ");
    w.put_dec(index);
    *w.p = '\0';
    read_input(in, bytes, sizeof bytes, what);
    SectHead& sect = g_SectTable[index];
    decode_sect_head(bytes, sect);
    if (g_StringTableState == TableState::Unread && has_long_name(sect))
        read_string_table(in);
}

std::string_view sect_name_text(const SectHead& sect) {
    // Asked several times for every section; over eight bytes a plain loop is several
    // times faster than a call into the C library's search.
    std::size_t len = 0;
    while (len < sizeof sect.SectName && sect.SectName[len] != '\0')
        ++len;
    return {sect.SectName, len};
}

bool has_no_name(const SectHead& sect) {
    return sect.SectName[0] == '\0';
}

bool has_long_name(const SectHead& sect) {
    const auto* b = reinterpret_cast<const unsigned char*>(sect.SectName);
    return (b[0] | b[1] | b[2] | b[3]) == 0 && get_le32(b + 4) >= 4;
}

std::string_view long_name_text(const SectHead& sect) {
    if (!has_long_name(sect) || g_StringTableState != TableState::Read)
        return {};
    const std::uint32_t off = get_le32(reinterpret_cast<const unsigned char*>(sect.SectName) + 4);
    if (off >= g_StringTableLen)
        return {};
    const char* start = g_StringTable + off;
    const void* nul = std::memchr(start, '\0', g_StringTableLen - off);
    if (nul == nullptr)
        return {}; // runs past what was read: not to be shown cut
    return {start, static_cast<std::size_t>(static_cast<const char*>(nul) - start)};
}

SectionSubject section_subject(unsigned index, const char* what) {
    SectionSubject subject;
    TextWriter w{subject.text, subject.text + sizeof subject.text - 1};
    put_section_label(w, index);
    if (*what != '\0') {
        w.put(" ");
        w.put(what);
    }
    *w.p = '\0';
    return subject;
}

std::string section_label(unsigned index) {
    return section_subject(index, "").text;
}

SectionSubject section_name_shown(unsigned index, bool as_text_only) {
    SectionSubject subject;
    TextWriter w{subject.text, subject.text + sizeof subject.text - 1};
    const SectHead& sect = g_SectTable[index];
    std::string_view name = long_name_text(sect);
    if (name.empty())
        name = sect_name_text(sect);
    if (as_text_only)
        put_name(w, name);
    else
        put_printable(name, [&w](std::string_view piece) { w.put(piece); });
    *w.p = '\0';
    return subject;
}

namespace {

constexpr std::uint16_t kWordTargets[] = {0x98, 0x9D};
constexpr std::uint16_t kByteCounted = 8;

} // namespace

bool is_word_target() {
    return std::find(std::begin(kWordTargets), std::end(kWordTargets), g_FileHead.usTargId) !=
           std::end(kWordTargets);
}

bool counts_words(const SectHead& s) {
    return is_word_target() && s.Reserved != kByteCounted;
}
