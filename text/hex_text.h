// Hexadecimal digits, and the one rule for a byte a printed line cannot hold as it is,
// for every place that writes either: messages, tables, listings and the text images.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr char kHexDigits[] = "0123456789abcdef";
inline constexpr char kHexDigitsUpper[] = "0123456789ABCDEF";

// The value of the hexadecimal digit `c` in either case, or -1 for any other character.
inline int hex_digit_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Offsets and sizes in messages: "0x" and lower-case hexadecimal, as the listing shows them.
inline std::string hex(std::uint64_t v) {
    char buf[2 + 16] = {'0', 'x'};
    return {buf, std::to_chars(buf + 2, buf + sizeof buf, v, 16).ptr};
}

// A byte a terminal would act on rather than show (below 0x20, 0x7f), which a line of
// text writes as \xHH so that a path or a name from the object can neither split the line
// nor move the cursor.
inline bool is_control_byte(unsigned char b) {
    return b < 0x20 || b == 0x7F;
}

// The \xHH form of `b`.
struct EscapedByte {
    char text[4];
    std::string_view view() const { return {text, sizeof text}; }
};

inline EscapedByte escaped_byte(unsigned char b) {
    return {{'\\', 'x', kHexDigits[b >> 4], kHexDigits[b & 0xF]}};
}

// Hands `text` to `put` a piece at a time, each control byte as \xHH, so that a caller
// with a fixed buffer needs no string of its own.
template <class Put> void put_printable(std::string_view text, Put&& put) {
    std::size_t from = 0;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (is_control_byte(static_cast<unsigned char>(text[k]))) {
            put(text.substr(from, k - from));
            put(escaped_byte(static_cast<unsigned char>(text[k])).view());
            from = k + 1;
        }
    }
    put(text.substr(from));
}

inline std::string printable_line(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    put_printable(text, [&out](std::string_view piece) { out += piece; });
    return out;
}
