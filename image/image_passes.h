// The two passes that fill the ROM image from the section table: the boot pass, run for
// each boot section as soon as its header has been read, and the closing operations
// (zero fill, entry word, load pass, terminator) after the last header.
#pragma once

#include "coff/coff_headers.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Bytes moved per read and write by the load pass.
inline constexpr std::size_t kCopyBufferSize = 10000;

// The output stream with its current image offset. With a sink the bytes go to it
// instead of a stream, as they are made: a check compares them with an image on disk
// without writing them anywhere.
struct OutputImage {
    std::FILE* fp = nullptr;
    std::uint64_t pos = 0;
    std::string path; // the name the user knows; a failure names it
    void (*sink)(void* context, const unsigned char* bytes, std::size_t len) = nullptr;
    void* context = nullptr;
};

void write_output(OutputImage& out, const void* bytes, std::size_t len);

// True when the load pass writes section `s` (of index kFirstLoadSection or more) as a load
// record: not a boot section, a positive size, data in the file, neither dummy nor copy.
bool becomes_load_record(const SectHead& s);

// The passes print their progress lines on `console`, or nothing when it is null.
void boot_pass(InputFile& in, OutputImage& out, unsigned index, std::FILE* console);
void close_boot_region(OutputImage& out);
void write_entry_word(OutputImage& out, std::FILE* console);
void load_pass(InputFile& in, OutputImage& out, std::FILE* console);
void write_terminator(OutputImage& out);
