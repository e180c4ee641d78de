#include "run/image_check.h"

#include "base/failure.h"
#include "image/image_passes.h"
#include "image/rom_image.h"
#include "platform/files.h"
#include "run/run_sequence.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace {

// The image passes through here, and when they differ the converted one beside it. Small
// pieces: a check must cost no more memory than a plain listing, which reads through
// with one piece of kImageReadPiece, and pieces four times larger compared 256 MiB no
// faster.
unsigned char g_ExpectedPiece[8192];
unsigned char g_FoundPiece[8192];

// Records follow the section table from kFirstLoadSection on, one for each section that
// becomes one, so record k belongs to the k-th such section.
unsigned section_of_record(unsigned k) {
    unsigned seen = 0;
    for (unsigned i = kFirstLoadSection; i < g_FileHead.usNumSect; ++i) {
        if (becomes_load_record(g_SectTable[i]) && seen++ == k)
            return i;
    }
    return g_FileHead.usNumSect; // not reached for an image converted from this table
}

unsigned record_count() {
    unsigned n = 0;
    for (unsigned i = kFirstLoadSection; i < g_FileHead.usNumSect; ++i)
        n += becomes_load_record(g_SectTable[i]) ? 1u : 0u;
    return n;
}

// What the conversion's bytes are compared with as the passes make them.
struct StreamCompare {
    InputFile* found = nullptr;
    std::uint32_t crc = 0; // of the image's bytes compared so far
    bool differs = false;  // a byte differs, or the image ends before the conversion
};

void compare_with_found(void* context, const unsigned char* bytes, std::size_t len) {
    auto& c = *static_cast<StreamCompare*>(context);
    while (len > 0 && !c.differs) {
        const std::size_t piece = len < sizeof g_FoundPiece ? len : sizeof g_FoundPiece;
        if (!in_file(*c.found, c.found->pos, piece)) {
            c.differs = true;
            return;
        }
        read_input(*c.found, g_FoundPiece, piece, "image bytes");
        unsigned char diff = 0; // gathered without a branch, so the loop runs in vectors
        for (std::size_t k = 0; k < piece; ++k)
            diff |= static_cast<unsigned char>(g_FoundPiece[k] ^ bytes[k]);
        c.differs = diff != 0;
        c.crc = crc32_update(c.crc, g_FoundPiece, piece);
        bytes += piece;
        len -= piece;
    }
}

// True when the image holds exactly what the object converts to, compared while the
// conversion runs: nothing is written, and the image is read once. `crc` receives its
// CRC-32 then.
bool matches_its_conversion(const std::string& object_path, InputFile& found, std::uint32_t& crc) {
    InputFile object = open_input(object_path);
    StreamCompare compare;
    compare.found = &found;
    OutputImage out;
    out.path = "the image converted from " + object_path;
    out.sink = compare_with_found;
    out.context = &compare;
    convert(object, out, nullptr); // no listing
    crc = compare.crc;
    return !compare.differs && found.pos == found.size;
}

// The object converted by the converter's own passes into a scratch file, without its
// listing, and handed back rewound for reading.
InputFile convert_to_scratch(const std::string& object_path) {
    InputFile object = open_input(object_path);
    InputFile image;
    image.path = "the image converted from " + object_path;
    image.fp = platform::open_scratch_file();
    if (image.fp == nullptr)
        fail(image.path, "cannot create a scratch file: " + platform::error_text(errno));
    OutputImage out;
    out.fp = image.fp;
    out.path = image.path;
    convert(object, out, nullptr); // no listing
    if (std::fflush(image.fp) != 0)
        fail(image.path, "cannot write: " + platform::error_text(errno));
    if (!platform::seek_absolute(image.fp, 0))
        fail(image.path, "cannot seek to offset 0x0: " + platform::error_text(errno));
    image.size = out.pos;
    image.pos = 0;
    return image;
}

std::string byte_text(int b) {
    return b < 0 ? "the end of the file" : hex(static_cast<std::uint64_t>(b));
}

// The first difference, in the image's own terms, with the expected and the found byte
// (-1: the file ends there).
[[noreturn]] void fail_difference(InputFile&& expected, const InputFile& found,
                                  const std::string& object_path, std::uint64_t off, int want,
                                  int got) {
    const std::string sizes = hex(found.size) + " bytes, " + hex(expected.size) + " expected";
    const bool lengths_differ = expected.size != found.size;
    const bool at_an_end = want < 0 || got < 0;
    std::string what = "does not match " + object_path + ": ";
    if (at_an_end)
        what += "length " + sizes + ": ";
    if (want >= 0) {
        ImageFile walk{std::move(expected)};
        what += describe_image_offset(walk, off) + " ";
    }
    what += "at offset " + hex(off) + ": expected " + byte_text(want) + ", found " + byte_text(got);
    if (!at_an_end && lengths_differ)
        what += " (and the image is " + sizes + ")";
    fail(found.path, what);
}

int next_byte(InputFile& in) {
    unsigned char b = 0;
    read_input(in, &b, 1, "image bytes");
    return b;
}

} // namespace

std::string describe_image_offset(ImageFile& expected, std::uint64_t off) {
    if (off < kBootRegionSize)
        return "boot region unit " + hex(off / 2) + (off % 2 == 0 ? " (low byte)" : " (high byte)");
    if (off < kFirstRecordOffset)
        return "entry word byte " + std::to_string(off - kEntryWordOffset);
    std::uint64_t pos = kFirstRecordOffset;
    LoadRecord rec;
    for (unsigned k = 0; next_record(expected, pos, rec); ++k) {
        if (off < rec.offset)
            return "padding byte before record " + std::to_string(k);
        if (off >= record_end(rec))
            continue;
        const std::string where =
            "record " + std::to_string(k) + ", " + section_label(section_of_record(k));
        if (off >= record_data_offset(rec))
            return where + ", data byte " + hex(off - record_data_offset(rec));
        const std::uint64_t j = off - rec.offset;
        return where + ", header byte " + std::to_string(j) +
               (j < 4 ? " (byte count)" : " (destination address)");
    }
    if (off < pos)
        return "padding byte before the terminator";
    return "terminator byte " + std::to_string(off - pos);
}

int check_image_against(const std::string& object_path, const std::string& image_path,
                        std::FILE* out, std::FILE* errors) {
    try {
        // The image first: one that cannot be read is not worth a conversion.
        InputFile found = open_input(image_path);
        std::uint32_t crc = 0;
        if (matches_its_conversion(object_path, found, crc)) {
            // One formatted print, as hex() would call into another part of the C library
            // and map its pages for this one line.
            std::fprintf(out, "%s matches %s (0x%llx bytes, %u records, crc32 %08x)\n",
                         image_path.c_str(), object_path.c_str(),
                         static_cast<unsigned long long>(found.size), record_count(), crc);
            std::fflush(out);
            return 0;
        }

        // Where they differ takes both images side by side: a second conversion, kept in
        // a scratch file this time.
        seek_input(found, 0);
        InputFile expected = convert_to_scratch(object_path);
        const std::uint64_t common = expected.size < found.size ? expected.size : found.size;
        for (std::uint64_t at = 0; at < common;) {
            const std::size_t piece = common - at < sizeof g_FoundPiece
                                          ? static_cast<std::size_t>(common - at)
                                          : sizeof g_FoundPiece;
            read_input(expected, g_ExpectedPiece, piece, "image bytes");
            read_input(found, g_FoundPiece, piece, "image bytes");
            if (std::memcmp(g_ExpectedPiece, g_FoundPiece, piece) != 0) {
                std::size_t k = 0;
                while (g_ExpectedPiece[k] == g_FoundPiece[k])
                    ++k;
                fail_difference(std::move(expected), found, object_path, at + k, g_ExpectedPiece[k],
                                g_FoundPiece[k]);
            }
            at += piece;
        }
        if (found.size > common)
            fail_difference(std::move(expected), found, object_path, common, -1, next_byte(found));
        if (expected.size > common) {
            const int want = next_byte(expected);
            fail_difference(std::move(expected), found, object_path, common, want, -1);
        }
        // Equal at the second reading: one of the two files changed in between.
        fail(image_path, "does not match " + object_path +
                             " at the first reading and matches at the second: one of them "
                             "changed while they were being read");
    } catch (const Failure& f) {
        std::fprintf(errors, "efwdump: error: %s: %s\n", f.path.c_str(), f.cause.c_str());
        return f.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(errors, "efwdump: error: %s: out of memory\n", image_path.c_str());
    }
    return kStatusTrouble;
}
