// The benchmark's cases and the objects they convert, made with the object builder
// (tools/) in a child of the runner, so that the runner itself stays small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::uint64_t kMiB = 1024 * 1024;

enum class Shape {
    Mixed,      // data_bytes of section data in sections of mixed sizes
    Even,       // data_bytes of section data in `sections` sections of one size
    SmallMixed, // 2048 sections of 1 to 500 bytes
    Small301,   // 2048 sections of 301 bytes each
    Firmware,   // shaped like a linked firmware object of about 180 KB
    StartUp,    // no input: `--version` against `cp --version`
};

struct Case {
    const char* label;
    Shape shape;
    std::uint64_t data_bytes; // Mixed and Even
    int reps;                 // odd, so the median is one measured run
    bool in_quick;
    std::size_t sections = 0; // Even: the sections after the five leading ones
};

inline constexpr Case kCases[] = {
    {"start-up (--version)", Shape::StartUp, 0, 101, true},
    {"firmware 180 KB", Shape::Firmware, 0, 101, true},
    {"2048 x 301 B", Shape::Small301, 0, 51, true},
    {"1 MiB", Shape::Mixed, 1 * kMiB, 21, true},
    {"16 MiB", Shape::Mixed, 16 * kMiB, 11, false},
    {"256 MiB", Shape::Mixed, 256 * kMiB, 9, false},
    {"2048 sections", Shape::SmallMixed, 0, 21, true},
    {"16 MiB in 4 sections", Shape::Even, 16 * kMiB, 21, false, 4},
    {"256 MiB in 64 sections", Shape::Even, 256 * kMiB, 9, false, 64},
};

// Writes the input of case `index` to `path` and prints the size its image must have and
// its section count.
int make_input(std::size_t index, const std::string& path);
