#include "image/file_kind.h"

#include "base/failure.h"
#include "base/little_endian.h"
#include "coff/coff_headers.h"
#include "image/image_reader.h"
#include "image/rom_image.h"

namespace {

// The reader's own walk, on `in`'s stream lent to it for the time of the walk: the boot
// region, then with `whole` the chain of records up to a terminator that ends the file.
bool reads_as_image(InputFile& in, bool whole) {
    ImageFile image;
    image.in.fp = in.fp;
    image.in.size = in.size;
    image.in.pos = in.pos;
    image.in.path = in.path;
    struct GiveBack {
        ImageFile& image;
        InputFile& in;
        ~GiveBack() {
            in.pos = image.in.pos;
            image.in.fp = nullptr; // the stream stays `in`'s to close
        }
    } give_back{image, in};
    // What the walk met, for telling an image of nothing from one worth naming.
    struct Seen final : ImageVisitor {
        bool something = false;
        void boot(const BootSummary& boot) override { something = something || boot.units > 0; }
        void entry(std::uint32_t word) override { something = something || word != 0; }
        void record(unsigned, const LoadRecord&, std::uint64_t) override { something = true; }
    } seen;
    try {
        if (!whole) {
            check_boot_region(image, read_boot_region(image));
            return true;
        }
        walk_image(image, seen);
        // A file of zeros reads as an image of nothing behind a zero fill; what holds
        // nothing is no image worth naming, and is left to the header checks.
        return seen.something;
    } catch (const Failure&) {
        return false;
    }
}

// Where a version of the object family stands, an image holds its first boot byte and a
// zero byte; an image that starts with one of those bytes is left to the header checks.
bool is_coff_version(std::uint16_t version) {
    return version >= 0xC0 && version <= kVersion48;
}

bool of_kind_from_start(InputFile& in, FileKind kind) {
    unsigned char version[2];
    if (!in_file(in, 0, sizeof version))
        return false;
    read_input_at(in, 0, version, sizeof version, "file header");
    if (!is_coff_version(get_le16(version)))
        return kind == FileKind::RomImage && reads_as_image(in, true);
    // An object's header and section table put non-zero bytes where the boot units of an
    // image have their zero high bytes, or the object is shorter than any image; a
    // damaged image that starts like an object keeps its own fault.
    return kind == FileKind::CoffObject && !reads_as_image(in, false);
}

} // namespace

bool is_of_kind(InputFile& in, FileKind kind) {
    const std::uint64_t start = in.pos;
    bool is = false;
    try {
        is = of_kind_from_start(in, kind);
    } catch (const Failure&) {
        is = false;
    }
    seek_input(in, start);
    return is;
}

bool is_of_kind(const std::string& path, FileKind kind) {
    try {
        InputFile in = open_input(path);
        return is_of_kind(in, kind);
    } catch (const Failure&) {
        return false;
    }
}

void refuse_rom_image(InputFile& in) {
    if (is_of_kind(in, FileKind::RomImage))
        fail(in.path, "a ROM image, not a COFF object (efwdump reads it)");
}
