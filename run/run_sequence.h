// The one top-level procedure of a conversion.
#pragma once

#include "base/warnings.h"
#include "coff/coff_headers.h"
#include "image/image_format.h"
#include "image/image_passes.h"
#include "image/rom_image.h"
#include "run/file_names.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The buffers of the input and output streams. They serve the headers and the small
// records; large records pass past them, read and written in copy pieces larger than
// either, or inside the kernel. Smaller buffers touch fewer pages but make more calls,
// which cost more (bench/README.md has the figures).
inline constexpr std::size_t kInputBufferSize = 1 << 16;
inline constexpr std::size_t kOutputBufferSize = 1 << 16;

// How a run goes, as the command line sets it. Warnings go to the errors stream whether
// the run is quiet or not; under `strict` they are errors and no image is written.
struct RunOptions {
    bool quiet = false;  // nothing on the console; failures are still reported
    bool strict = false; // every warning is an error (-Werror)
    ImageFormat format = ImageFormat::Efw;
    TextOptions text;              // how ihex and srec lines are written
    SizeOptions size;              // --max-size, --pad-to, --fill
    const char* map = nullptr;     // where the run's JSON map goes; null for none
    const char* report = nullptr;  // where the run's HTML report goes; null for none
    std::FILE* sections = nullptr; // where --sections lists every section's fate
    bool dry_run = false;          // -n: everything checked, nothing written
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
// what a failed run wrote there stays written. The image goes in `options.format`; a
// map, when asked for, is put in place with the same care right after the image.
// Returns false when warnings given as errors keep the image from being written, with no
// file replaced. Throws Failure.
bool convert_file(const FileNames& names, const RunOptions& options, std::FILE* console,
                  Warnings* warnings = nullptr);

// The conversion itself on two open streams: header reads, listing and image passes,
// with their warnings on `warnings` (none without one). A null `console` gives the same
// image with no listing at all: a check that only wants the image is spared formatting
// it and converting the banner's code page. The image is filled up to `size.pad_to`
// bytes; one larger than `size.max_size` bytes, or than the format holds, is refused
// before its first byte goes to the sink, which is finished after the last. Throws
// Failure.
void convert(InputFile& in, ImageSink& sink, std::FILE* console, Warnings* warnings = nullptr,
             const SizeOptions& size = {});

// Fills `layout`'s image up to `size.pad_to` bytes with `size.fill`; a size below the
// image's own is a Failure naming both. Throws Failure.
void pad_image(const InputFile& in, ImageLayout& layout, const SizeOptions& size);
