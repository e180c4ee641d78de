// The passes that fill the ROM image from the section table: the boot pass, run for each
// boot section as soon as its header has been read and listed, and the writing of the
// whole image from its layout after the last header.
#pragma once

#include "coff/coff_headers.h"
#include "image/image_layout.h"
#include "image/image_sink.h"

#include <cstdint>
#include <cstdio>

// Bytes moved per read and write by the load pass. A piece larger than the streams'
// buffers goes past them: the C library reads into it and writes from it directly, with
// no copy through its own buffer, in a quarter of the calls of a 64 KiB piece. Larger
// pieces bought little more and would lift the peak memory above what `cp` needs.
inline constexpr std::size_t kCopyBufferSize = 1 << 18;

// Empties the boot region before a conversion's first boot pass.
void clear_boot_region();

// Prints the ROM banner and the progress line of boot section `index` on `console` (or
// nothing when it is null), checks that its data lie in the file and fit the boot region,
// and keeps them for the image. The input stays where it was.
void boot_pass(InputFile& in, unsigned index, std::FILE* console);

// Writes the whole image into `sink` as `layout` places it: the boot region kept by the
// boot passes, the entry word, each load record read from the input, the terminator. The
// entry line and each record's progress line go to `console` (none when it is null).
void write_image(InputFile& in, const ImageLayout& layout, ImageSink& sink, std::FILE* console);
