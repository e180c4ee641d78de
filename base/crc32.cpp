#include "base/crc32.h"

#include <zlib.h>

std::uint32_t crc32_update(std::uint32_t crc, const void* bytes, std::size_t len) {
    if (len == 0) // zlib answers a null buffer with its initial value, not with `crc`
        return crc;
    return static_cast<std::uint32_t>(crc32_z(crc, static_cast<const Bytef*>(bytes), len));
}
