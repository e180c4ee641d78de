#include "text/profile_text.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace {

// What is read at a time.
constexpr std::size_t kChunk = 16384;

constexpr char32_t kReplacement = 0xFFFD;

std::string_view cut_at_nul(std::string_view s) {
    return s.substr(0, s.find('\0'));
}

bool is_blank(char c) {
    // ^Z ended text files under DOS and still turns up at their end.
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view trim_left(std::string_view s) {
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim_right(std::string_view s) {
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::size_t copy_out(std::string_view value, char* buffer, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
    // An empty value may have no storage behind it at all, and memcpy takes no null
    // source even for zero bytes.
    if (n > 0)
        std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
}

// Where the search stands after the lines seen so far.
struct Lookup {
    std::string_view section;
    std::string_view key;
    const char* fallback;
    char* buffer;
    std::size_t size;
    std::size_t (*encode)(char32_t code, char* bytes);
    bool seen_section = false; // the first section of the name has begun
    bool in_section = false;   // and we are still in it
    bool done = false;
    std::size_t length = 0;
};

void take_line(Lookup& l, std::string_view line) {
    line = trim_right(trim_left(line));
    if (line.empty() || line.front() == ';')
        return;
    if (line.front() == '[') {
        const std::size_t close = line.rfind(']');
        if (close != std::string_view::npos) {
            if (l.in_section) {
                // Only the first section of that name is searched.
                l.done = true;
                l.length = copy_out(l.fallback, l.buffer, l.size);
                return;
            }
            const std::string_view name =
                cut_at_nul(trim_right(trim_left(line.substr(1, close - 1))));
            l.in_section = !l.seen_section && same_name(name, l.section);
            l.seen_section = l.seen_section || l.in_section;
            return;
        }
    }
    if (!l.in_section)
        return;
    const std::size_t eq = line.find('=');
    const std::string_view name = eq == std::string_view::npos ? line : line.substr(0, eq);
    if (!same_name(cut_at_nul(trim_right(name)), l.key))
        return;
    l.done = true;
    if (eq == std::string_view::npos) {
        // The key with no value at all: the system reader answers with the fallback, and
        // looks no further.
        l.length = copy_out(l.fallback, l.buffer, l.size);
        return;
    }
    std::string_view value = cut_at_nul(trim_left(line.substr(eq + 1)));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    l.length = copy_out(value, l.buffer, l.size);
}

enum class Encoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// Bytes of a profile file, in pieces of any size, turned into lines for a Lookup. Holds
// one line at most; the rest of a longer line is dropped.
struct LineReader {
    bool started = false;
    Encoding encoding = Encoding::kAnsi;
    // A character split between two pieces: the UTF-8 sequence so far, or the first byte
    // of a UTF-16 unit and a high surrogate waiting for its partner.
    char32_t code = 0;
    char32_t least = 0; // the smallest code the UTF-8 sequence may give
    int needed = 0;     // UTF-8 continuation bytes still to come
    int odd_byte = -1;
    char32_t high_surrogate = 0;
    char line[kProfileLineMax];
    std::size_t line_length = 0;
};

void end_line(LineReader& r, Lookup& l) {
    if (r.line_length > 0)
        take_line(l, std::string_view(r.line, r.line_length));
    r.line_length = 0;
}

void put_byte(LineReader& r, Lookup& l, char c) {
    if (c == '\n' || c == '\r')
        end_line(r, l);
    else if (r.line_length < sizeof r.line)
        r.line[r.line_length++] = c;
}

// One character in the process's code page; '?' for one it lacks.
void put_code(LineReader& r, Lookup& l, char32_t code) {
    if (code < 0x80) {
        put_byte(r, l, static_cast<char>(code));
        return;
    }
    char bytes[kCharacterBytesMax];
    std::size_t n = l.encode(code, bytes);
    if (n == 0 || n > sizeof bytes) {
        bytes[0] = '?';
        n = 1;
    }
    for (std::size_t i = 0; i < n; ++i)
        put_byte(r, l, bytes[i]);
}

void put_utf8(LineReader& r, Lookup& l, unsigned char b) {
    if (r.needed > 0) {
        if ((b & 0xC0) == 0x80) {
            r.code = (r.code << 6) | (b & 0x3Fu);
            if (--r.needed == 0) {
                const bool bad =
                    r.code < r.least || r.code > 0x10FFFF || (r.code >= 0xD800 && r.code <= 0xDFFF);
                put_code(r, l, bad ? kReplacement : r.code);
            }
            return;
        }
        r.needed = 0;
        put_code(r, l, kReplacement); // and b starts afresh
    }
    if (b < 0x80) {
        put_byte(r, l, static_cast<char>(b));
    } else if (b >= 0xC2 && b <= 0xDF) {
        r.code = b & 0x1Fu;
        r.needed = 1;
        r.least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        r.code = b & 0x0Fu;
        r.needed = 2;
        r.least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        r.code = b & 0x07u;
        r.needed = 3;
        r.least = 0x10000;
    } else {
        put_code(r, l, kReplacement);
    }
}

void put_utf16_unit(LineReader& r, Lookup& l, char32_t unit) {
    if (r.high_surrogate != 0) {
        const char32_t high = r.high_surrogate;
        r.high_surrogate = 0;
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            put_code(r, l, 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
            return;
        }
        put_code(r, l, kReplacement);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF)
        r.high_surrogate = unit;
    else
        put_code(r, l, unit >= 0xDC00 && unit <= 0xDFFF ? kReplacement : unit);
}

void feed(LineReader& r, Lookup& l, const char* data, std::size_t n) {
    if (!r.started) {
        r.started = true;
        // The first piece holds the whole mark: the text comes in pieces of kChunk bytes.
        const std::string_view head(data, n);
        if (head.substr(0, 3) == "\xEF\xBB\xBF") {
            r.encoding = Encoding::kUtf8;
            data += 3;
            n -= 3;
        } else if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") {
            r.encoding = head[0] == '\xFF' ? Encoding::kUtf16Le : Encoding::kUtf16Be;
            data += 2;
            n -= 2;
        }
    }
    for (std::size_t i = 0; i < n && !l.done; ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        switch (r.encoding) {
        case Encoding::kAnsi:
            put_byte(r, l, data[i]);
            break;
        case Encoding::kUtf8:
            put_utf8(r, l, b);
            break;
        case Encoding::kUtf16Le:
        case Encoding::kUtf16Be:
            if (r.odd_byte < 0) {
                r.odd_byte = b;
            } else {
                const auto first = static_cast<char32_t>(r.odd_byte);
                r.odd_byte = -1;
                put_utf16_unit(r, l,
                               r.encoding == Encoding::kUtf16Le ? first | (char32_t{b} << 8)
                                                                : (first << 8) | b);
            }
            break;
        }
    }
}

// The end of the text: the last line, and the fallback when nothing was found. A byte
// left over from a UTF-16 unit counts as a unit of its own, as the system reader takes it.
std::size_t finish(LineReader& r, Lookup& l) {
    if (!l.done && r.odd_byte >= 0) {
        put_utf16_unit(r, l, static_cast<char32_t>(r.odd_byte));
        r.odd_byte = -1;
    }
    if (!l.done && (r.needed > 0 || r.high_surrogate != 0)) {
        r.needed = 0;
        r.high_surrogate = 0;
        put_code(r, l, kReplacement);
    }
    if (!l.done)
        end_line(r, l);
    if (!l.done)
        l.length = copy_out(l.fallback, l.buffer, l.size);
    return l.length;
}

} // namespace

bool lookup_profile_value(const ProfileQuery& query, ReadText read, void* source,
                          std::size_t& length) {
    Lookup l;
    l.section = trim_right(trim_left(query.section));
    l.key = trim_right(trim_left(query.key));
    l.fallback = query.fallback;
    l.buffer = query.buffer;
    l.size = query.size;
    l.encode = query.encode;
    LineReader r;
    char chunk[kChunk];
    while (!l.done) {
        const long n = read(source, chunk, sizeof chunk);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        feed(r, l, chunk, static_cast<std::size_t>(n));
    }
    length = finish(r, l);
    return true;
}
