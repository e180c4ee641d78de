// The one top-level procedure of a conversion.
#pragma once

#include "coff/coff_headers.h"
#include "image/image_passes.h"
#include "run/file_names.h"

#include <cstddef>
#include <cstdio>

// The buffers of the input and output streams: 256 KiB measured fastest on large
// conversions. Smaller ones cost more system calls; larger ones no longer stay in the
// processor's cache.
inline constexpr std::size_t kStreamBufferSize = 1 << 18;

// Converts the object named by config.ini beside the executable (argument zero gives its
// directory) into a ROM image. The listing and progress lines go to `console`; a failure
// becomes one line on `errors`. Returns the process's exit status: 0 on success, 1 on
// failure.
int run_sequence(const char* argv0, std::FILE* console, std::FILE* errors);

// Converts the input file of `names` into its output. The image is written to a temporary
// file beside the output and renamed over it only when complete, so a failed run leaves
// an existing output as it was; an output that is the input or the configuration file
// itself is refused. Throws Failure.
void convert_file(const FileNames& names, std::FILE* console);

// The conversion itself on two open streams: header reads, listing and image passes.
// Throws Failure.
void convert(InputFile& in, OutputImage& out, std::FILE* console);
