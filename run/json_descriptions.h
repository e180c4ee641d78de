// Descriptions for scripts, as JSON: the map of a conversion (what became of every
// section, where each record went, the image's size and CRC-32) and efwdump's description
// of an image read back. The listing stays the people's format; these are the parsers'.
//
// Numbers are JSON integers. Text (paths, section names) is a JSON string whatever its
// bytes, through json_text.
#pragma once

#include "base/input_file.h"
#include "base/output_file.h"
#include "image/hex_sinks.h"
#include "run/file_names.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

// `bytes` as UTF-8 for a JSON string: each well-formed UTF-8 sequence as it is, each
// other byte as the character of its Latin-1 code point (0xE9 as U+00E9). Control
// characters stay; the JSON writer escapes them.
std::string json_text(std::string_view bytes);

// The map of the conversion just run, from the header records, the section table and
// g_Layout, for the image written to `names.output` in `format` whose bytes have the
// CRC-32 `crc`. Ends in a newline.
std::string run_map_json(const FileNames& names, ImageFormat format, std::uint32_t crc);

// Writes the description of the image at `path` (text read from `base`) to `out`, checked
// as efwdump checks it: nothing is written for a malformed image, whose fault is thrown
// as Failure. Ends in a newline.
void write_image_json(const std::string& path, std::uint32_t base, std::FILE* out);

// The map file of a run, put in place with the image's care: written to a temporary
// beside its path, renamed only once the image is in place; never written on a failed
// run. Holds nothing when the run writes no map.
class MapFile {
  public:
    MapFile(const char* path, const char* temporary_prefix)
        : path_(path), prefix_(temporary_prefix) {}

    // Writes `text` to the temporary and flushes it, each write checked; refuses a map
    // that is the image, the input or the configuration file. Throws Failure.
    void write(const std::string& text, const FileNames& names, const InputFile& in);

    // Renames the map into place, after the image's commit. Throws Failure.
    void commit(const FileNames& names);

  private:
    const char* path_;
    const char* prefix_;
    std::optional<OutputFile> file_;
};
