// The one way both programs write a message line.
#pragma once

#include "text/hex_text.h"

#include <cstdio>
#include <string>
#include <string_view>

// Prints `text` made printable, then `tail` as it is, as one line on standard error in one
// write, so that a line never mixes with another program's.
inline void print_line(std::string_view text, std::string_view tail = {}) {
    std::string line = printable_line(text);
    line += tail;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}
