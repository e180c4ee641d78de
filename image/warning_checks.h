// The conditions behind the converter's warnings, in one table. Each check looks only at
// what a header read or a pass has at hand (the header records, the section table, the
// console stream) and, when its condition holds, words its warning into a fixed buffer:
// no check reads the file again or allocates.
#pragma once

#include "base/input_file.h"
#include "base/warnings.h"

#include <cstdio>

// Where in a conversion a check runs.
enum class CheckPoint : unsigned char {
    FileHeader,    // FileHead and OptHead read (or cleared)
    SectionHeader, // a section header read, listed and, for a boot section, written
    Layout,        // the layout computed: what the image will hold, before its first byte
    Image,         // the terminator written, nothing more to print
};

// Runs the checks of `at`, one warning for each whose condition holds; `index` is the
// section just read at SectionHeader. Does nothing without a sink.
void run_checks(CheckPoint at, unsigned index, const InputFile& in, std::FILE* console,
                Warnings* warnings);

// Whether the checks of `at` would give a warning that counts as an error, without
// reporting anything: a run that will refuse its image knows it before the first byte.
bool checks_refuse(CheckPoint at, unsigned index, const InputFile& in, const Warnings* warnings);
