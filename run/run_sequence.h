// The one top-level procedure of a conversion.
#pragma once

#include "base/warnings.h"
#include "coff/coff_headers.h"
#include "image/image_passes.h"
#include "run/file_names.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The buffers of the input and output streams, sized by measurement. Writes into a file
// are the costly system calls, so a large image gets a large output buffer: from 32 MiB
// on, 256 KiB made conversions 5 to 7% faster than 64 KiB. A smaller image gains nothing
// from it (at 16 MiB it ran slower) and would only touch its pages: with 64 KiB a run over
// a full section table peaks below `cp` copying the same file, which the large buffer
// would pass.
inline constexpr std::size_t kInputBufferSize = 1 << 16;
inline constexpr std::size_t kOutputBufferSize = 1 << 16;
inline constexpr std::size_t kLargeOutputBufferSize = 1 << 18;
inline constexpr std::uint64_t kLargeInput = std::uint64_t{32} << 20;

// The output buffer for an input of `input_size` bytes, whose image is about as large.
constexpr std::size_t output_buffer_size(std::uint64_t input_size) {
    return input_size >= kLargeInput ? kLargeOutputBufferSize : kOutputBufferSize;
}

// How a run goes, as the command line sets it. Warnings go to the errors stream whether
// the run is quiet or not; under `strict` they are errors and no image is written.
struct RunOptions {
    bool quiet = false;  // nothing on the console; failures are still reported
    bool strict = false; // every warning is an error
    // The start of the temporary's name, which says whose it is should a crash leave one.
    const char* temporary_prefix = ".tmp-";
};

// Converts the object that `choice` names, or with nothing chosen the one named by
// config.ini beside the executable (argument zero gives its directory), into a ROM
// image. The listing and progress lines go to `console`, warnings to `warnings`.
// Returns the process's exit status: 0 when the image was written, 1 when strict
// warnings kept it from being written. Throws Failure.
int run_sequence(const char* argv0, const NameChoice& choice, const RunOptions& options,
                 std::FILE* console, Warnings& warnings);

// Converts the input file at `names.input` into the image at `names.output`. The image
// is written to a temporary file beside the output and renamed over it only when
// complete, so a failed run leaves an existing output as it was; an output that is the
// input or the configuration file itself is refused before anything is written. A device,
// a FIFO or standard output ("-", with no listing then) is written straight through:
// what a failed run wrote there stays written. Returns false when `warnings` is strict
// and the conversion gave any, with no file replaced. Throws Failure.
bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings = nullptr);

// The conversion itself on two open streams: header reads, listing and image passes,
// with their warnings on `warnings` (none without one). A null `console` gives the same
// image with no listing at all: a check that only wants the image is spared formatting
// it and converting the banner's code page. Throws Failure.
void convert(InputFile& in, ImageSink& sink, std::FILE* console, Warnings* warnings = nullptr);
