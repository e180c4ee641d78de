// Checking an image against the object it should have been built from: the object is
// converted by the converter's own passes, and each piece they make is compared with the
// image's next bytes, so neither image is ever held whole in memory or written anywhere.
// The first difference ends the conversion, named from the image's layout.
#pragma once

#include "image/image_format.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Converts the object at `object_path`, filled as `size` asks, and compares the result
// with the image at `image_path` (text read from `base`). Equal: one line on `out` with
// the size, the record count and the CRC-32, and 0 returned. Different: one line on
// `out`, as cmp gives it, naming the first difference in the image's own terms, and 1
// returned. An image or object that cannot be read, or an object that does not convert,
// throws a Failure of status 2 (nothing could be compared).
int check_image_against(const std::string& object_path, const std::string& image_path,
                        std::uint32_t base, std::FILE* out, const SizeOptions& size = {});
