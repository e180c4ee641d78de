// Checking an image against the object it should have been built from: the object is
// converted by the converter's own passes, and each piece they make is compared with the
// image's next bytes, so neither image is ever held whole in memory or written. Only when
// they differ is the object converted once more, into a scratch file, to name the place.
#pragma once

#include "image/image_reader.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Where image offset `off` lies in `expected`, an image just converted from the section
// table as it stands: "boot region unit 0x3 (high byte)", "entry word byte 2", "record 1,
// section 6 (.data), data byte 0x1c", "padding byte before record 2", "terminator byte
// 5". `off` must lie inside the image. Throws Failure.
std::string describe_image_offset(ImageFile& expected, std::uint64_t off);

// Converts the object at `object_path` and compares the result with the image at
// `image_path`. Equal: one line on `out` with the size, the record count and the CRC-32.
// Otherwise one line on `errors`: the first difference in the image's own terms, or why
// the object does not convert. Returns the exit status: 0 when they match, 1 when they
// differ or the object does not convert, 2 when a file cannot be opened or read.
int check_image_against(const std::string& object_path, const std::string& image_path,
                        std::FILE* out, std::FILE* errors);
