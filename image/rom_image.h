// The byte layout of the ROM image that the target's boot loader takes:
//
//   0x000  boot region: each boot byte b as the 16-bit unit b, 0x00; zero fill to 0x800
//   0x800  entry word (32 bits)
//   0x804  load records, each at an even offset (one zero byte pads an odd one):
//            byte count (32 bits, > 0), destination address (32 bits), the bytes
//   end-8  terminator: byte count 0, address 0 (not aligned)
//
// All words are little-endian. The reader of the image and the converter share these.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kBootRegionSize = 0x800;
inline constexpr std::uint32_t kBootCapacity = kBootRegionSize / 2; // boot bytes that fit
inline constexpr std::uint32_t kEntryWordOffset = kBootRegionSize;
inline constexpr std::uint32_t kFirstRecordOffset = kEntryWordOffset + 4;
inline constexpr std::uint32_t kRecordHeaderSize = 8; // byte count, destination address
inline constexpr std::uint32_t kTerminatorSize = 8;
inline constexpr std::uint32_t kMinImageSize = kFirstRecordOffset + kTerminatorSize;

// The largest image the format can hold: its offsets are 32-bit signed. No --max-size
// lets a larger one through.
inline constexpr std::uint64_t kFormatMaxSize = 0x7FFFFFFF;

// Sections before this index never become load records.
inline constexpr unsigned kFirstLoadSection = 5;

// Section flag bits that keep a section out of the image.
inline constexpr std::uint32_t kDummySectionFlag = 0x01;
inline constexpr std::uint32_t kCopySectionFlag = 0x10;

// Image offsets are shown as addresses 0x90000000 and up, not stored.
inline constexpr std::uint32_t kDisplayBias = 0x70000000;

inline std::uint32_t display_address(std::uint64_t image_offset) {
    return static_cast<std::uint32_t>(image_offset) - kDisplayBias;
}
