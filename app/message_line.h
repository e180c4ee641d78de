// The one rule for what a message line may hold, for both programs: a byte a terminal
// would act on rather than show (below 0x20, 0x7f) is written \xHH, so that a path or a
// name from the object can neither split the one line of a message nor move the cursor.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

inline std::string printable_line(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += "0123456789abcdef"[c >> 4];
            out += "0123456789abcdef"[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

// Prints `text` made printable, then `tail` as it is, as one line on standard error in one
// write, so that a line never mixes with another program's.
inline void print_line(std::string_view text, std::string_view tail = {}) {
    std::string line = printable_line(text);
    line += tail;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}
