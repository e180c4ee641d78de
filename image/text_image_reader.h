// Intel HEX and S-records read back into the binary image they carry, so that everything
// efwdump does with an image works on the text a flash programmer takes. The text is read
// forward once and its bytes written forward to a file, so any size costs the same
// memory.
#pragma once

#include "image/image_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The format whose content starts with `head` (`n` bytes): ":" and a hex digit is Intel
// HEX, "S" and a digit an S-record; anything else is taken for the binary image, whose
// second byte, a boot unit's high byte, is zero in every image that could be valid.
ImageFormat detect_image_format(const unsigned char* head, std::size_t n);

// Reads the records of `text` (in `format`, named `path` in messages) and writes the bytes
// they carry to `out`, address `base` at offset 0, and returns the number written. The
// records must give the bytes in address order, without a gap or an overlap, from the
// base on. A fault is a Failure naming the line; one writing `out` is trouble.
std::uint64_t read_text_image(std::FILE* text, ImageFormat format, const std::string& path,
                              std::uint32_t base, std::FILE* out);
