// Telling a ROM image from a COFF object by what the file holds, for the commonest
// mix-up of the two programs: each one handed the other's file. The name decides nothing
// (the default input is ZOV-KARN.efw). An image is recognised only when the reader takes
// the whole file and its first word is no COFF header version, so that no object, however
// damaged, is ever taken for one.
#pragma once

#include "base/input_file.h"

#include <string>

enum class FileKind : unsigned char { RomImage, CoffObject, Other };

// What `in` holds. The stream is read from its start and put back where it was; a file
// that cannot be read is Other, left for the run to report in its own words.
FileKind file_kind(InputFile& in);

// The same for the file at `path`, opened for the look alone; Other when it cannot be.
FileKind file_kind(const std::string& path);

// Throws the converter's refusal of a ROM image given as the object, before any header
// of it is read.
void refuse_rom_image(InputFile& in);
