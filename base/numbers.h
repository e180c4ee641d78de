// Numbers as users type them on a command line: the one reader behind every option that
// takes an address, a count, a byte or a size.
#pragma once

#include <cstdint>
#include <string_view>

// `text` as a whole: "0x" (or "0X") and hexadecimal digits, or decimal digits, a leading
// zero not octal. False for anything else, an empty text and values above `max`.
bool parse_number(std::string_view text, std::uint64_t max, std::uint64_t& value);

// A size in bytes, as coreutils' programs take it: a number as above, optionally followed
// by a unit: K, KiB = 1024, KB = 1000; M, MiB, MB and G, GiB, GB likewise (k, m and g
// are taken for K, M and G). False for anything else and for sizes past 64 bits.
bool parse_size(std::string_view text, std::uint64_t& size);
