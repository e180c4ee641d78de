// The image efwdump reads, whatever it came as: a file or standard input, in binary or as
// Intel HEX or S-records. The walk needs a file it can read at any offset whose size is
// known before its end, so anything else goes through a scratch file first.
#pragma once

#include "base/input_file.h"
#include "image/image_format.h"

#include <cstdint>
#include <string>

// The image name that stands for standard input.
inline constexpr const char* kStandardInputName = "-";

// Opens the image at `path`, or for "-" standard input, named "standard input" in
// messages. A regular file in binary is read as it is, from its start. A pipe is read
// through once into a scratch file that the system removes on close, which keeps the
// memory bounded for any size. Text (detected from the content) is read into a scratch
// file as the binary image, address `base` at offset 0. An image larger than the format
// can hold is refused. Throws Failure: FailureKind::Trouble when the file cannot be read or
// kept, FailureKind::Content for content that is no image.
InputFile open_image(const std::string& path, std::uint32_t base = kDefaultImageBase);
