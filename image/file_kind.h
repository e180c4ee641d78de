// Telling a ROM image from a COFF object by what the file holds, for the commonest
// mix-up of the two programs: each one handed the other's file. The name decides nothing
// (the default input is ZOV-KARN.efw). An image is recognised only when the reader takes
// the whole file and its first word is no COFF header version, so that no object, however
// damaged, is ever taken for one.
#pragma once

#include "base/input_file.h"

#include <string>

enum class FileKind : unsigned char { RomImage, CoffObject };

// Whether `in` holds a file of `kind`. The stream is read from its start and put back
// where it was; a file that cannot be read is of neither kind, left for the run to report
// in its own words. Only the look for an image walks the whole file.
bool is_of_kind(InputFile& in, FileKind kind);

// The same for the file at `path`, opened for the look alone; false when it cannot be.
bool is_of_kind(const std::string& path, FileKind kind);

// Throws the converter's refusal of a ROM image given as the object, before any header
// of it is read.
void refuse_rom_image(InputFile& in);
