// The passes that fill the ROM image from the section table: the boot pass, run for each
// boot section as soon as its header has been read and listed, and the writing of the
// whole image from its layout after the last header.
#pragma once

#include "coff/coff_headers.h"
#include "image/image_layout.h"
#include "image/image_sink.h"
#include "platform/console.h"

#include <cstdint>
#include <cstdio>

// Bytes moved per read and write by the load pass. A piece larger than the streams'
// buffers goes past them: the C library reads into it and writes from it directly, with
// no copy through its own buffer, in a quarter of the calls of a 64 KiB piece. A larger
// piece would lift the peak memory above what `cp` needs.
inline constexpr std::size_t kCopyBufferSize = 1 << 18;

// Records of this size or more go to a sink that can take them inside the kernel that
// way; below it, the calls to set the copy up cost more than the copy through memory.
inline constexpr std::uint32_t kKernelCopyFrom = 1 << 16;

// "[ROM 파일 쓰기 작업]" in code page 949, printed above the boot
// section's progress line as the target's engineers' consoles show it, and in UTF-8, GB18030 and
// Johab.
inline constexpr platform::Cp949Text kRomBanner = {
    "[ROM \xC6\xC4\xC0\xCF \xBE\xB2\xB1\xE2 \xC0\xDB\xBE\xF7]\n",
    "[ROM \xED\x8C\x8C\xEC\x9D\xBC \xEC\x93\xB0\xEA\xB8\xB0 \xEC\x9E\x91\xEC\x97\x85]\n",
    "[ROM \x83\x35\xC7\x31\x83\x33\x9B\x31 \x83\x32\xD7\x39\x82\x38\x89\x35 "
    "\x83\x33\x9D\x32\x83\x32\xED\x32]\n",
    "[ROM \xCC\x61\xB7\xA9 \xB3\x61\x8B\xA1 \xB8\x62\xB4\xF3]\n"};

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
