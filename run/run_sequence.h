// The one top-level procedure of a conversion.
#pragma once

#include "base/warnings.h"
#include "coff/coff_headers.h"
#include "image/image_passes.h"
#include "run/file_names.h"

#include <cstddef>
#include <cstdio>

// The buffers of the input and output streams. 64 KiB keeps the converter's peak
// memory below that of `cp` copying the same file and is the fastest size for objects of
// firmware size; larger buffers save system calls on objects of hundreds of MiB (2 to 6%
// at 256 MiB for 128 KiB, the most that stays near cp's peak).
inline constexpr std::size_t kStreamBufferSize = 1 << 16;

// How a run goes, as the command line sets it. Warnings go to the errors stream whether
// the run is quiet or not; under `strict` they are errors and no image is written.
struct RunOptions {
    bool quiet = false;  // nothing on the console; failures are still reported
    bool strict = false; // every warning is an error
};

// Converts the object that `choice` names, or with nothing chosen the one named by
// config.ini beside the executable (argument zero gives its directory), into a ROM
// image. The listing and progress lines go to `console`; warnings and a failure become
// lines on `errors`. Returns the process's exit status: 0 when the image was written,
// 1 otherwise.
int run_sequence(const char* argv0, const NameChoice& choice, const RunOptions& options,
                 std::FILE* console, std::FILE* errors);

// Converts the input file at `names.input` into the image at `names.output`. The image
// is written to a temporary file beside the output and renamed over it only when
// complete, so a failed run leaves an existing output as it was; an output that is the
// input or the configuration file itself is refused. Returns false, with
// nothing written, when `warnings` is strict and the conversion gave any. Throws Failure.
bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings = nullptr);

// The conversion itself on two open streams: header reads, listing and image passes,
// with their warnings on `warnings` (none without one). A null `console` gives the same
// image with no listing at all: a check that only wants the image is spared formatting
// it and converting the banner's code page. Throws Failure.
void convert(InputFile& in, OutputImage& out, std::FILE* console, Warnings* warnings = nullptr);
