// Descriptions for scripts, as JSON: the map of a conversion (what became of every
// section, where each record went, the image's size and CRC-32) and efwdump's description
// of an image read back. The listing stays the people's format; these are the parsers'.
//
// Numbers are JSON integers. Text (paths, section names) is a JSON string whatever its
// bytes, through json_text.
#pragma once

#include "base/json_writer.h"
#include "image/image_format.h"
#include "run/file_names.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Writes the map of the conversion just run to `out`, from the header records, the
// section table and g_Layout, for the image written to `names.output` in `format` whose
// bytes have the CRC-32 `crc`, a section and a record at a time. Ends in a newline.
// Errors stay on the stream for its owner to check.
void write_run_map(std::FILE* out, const FileNames& names, ImageFormat format, std::uint32_t crc);

// Writes the description of the image at `path` (text read from `base`) to `out`, checked
// as efwdump checks it: nothing is written for a malformed image, whose fault is thrown
// as Failure. Ends in a newline.
void write_image_json(const std::string& path, std::uint32_t base, std::FILE* out);
