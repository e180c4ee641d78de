// The one CRC-32 of the tool: zlib's, the sum flash programmers and zlib.crc32 print.
#pragma once

#include <cstddef>
#include <cstdint>

// The CRC-32 of `crc`'s bytes followed by `len` more; 0 stands for no bytes.
std::uint32_t crc32_update(std::uint32_t crc, const void* bytes, std::size_t len);
