// efwdump's listing: what one walk of an image finds, one line per part, ending with the
// image's CRC-32.
#pragma once

#include "image/image_reader.h"

#include <cstdio>

// Lists and checks a whole image on `out`, ending with its CRC-32; with `with_data` each
// record's bytes follow its line as a hex dump. What was read before a fault stays
// listed. Throws Failure.
void dump_image(ImageFile& image, std::FILE* out, bool with_data);
