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
    try {
        check_boot_region(image, read_boot_region(image));
        std::uint64_t pos = kFirstRecordOffset;
        LoadRecord rec;
        while (whole && next_record(image, pos, rec)) {
        }
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// Where a version of the object family stands, an image holds its first boot byte and a
// zero byte; an image that starts with one of those bytes is left to the header checks.
bool is_coff_version(std::uint16_t version) {
    return version >= 0xC0 && version <= kVersion48;
}

// What the file holds; with `objects` false an object is not told from Other, which
// spares the converter a walk over every object it reads.
FileKind kind_from_start(InputFile& in, bool objects) {
    unsigned char version[2];
    if (!in_file(in, 0, sizeof version))
        return FileKind::Other;
    read_input_at(in, 0, version, sizeof version, "file header");
    if (!is_coff_version(get_le16(version)))
        return reads_as_image(in, true) ? FileKind::RomImage : FileKind::Other;
    // An object's header and section table put non-zero bytes where the boot units of an
    // image have their zero high bytes, or the object is shorter than any image; a
    // damaged image that starts like an object keeps its own fault.
    return objects && !reads_as_image(in, false) ? FileKind::CoffObject : FileKind::Other;
}

// kind_from_start with the stream put back where it was.
FileKind examine(InputFile& in, bool objects) {
    const std::uint64_t start = in.pos;
    FileKind kind = FileKind::Other;
    try {
        kind = kind_from_start(in, objects);
    } catch (const Failure&) {
        kind = FileKind::Other;
    }
    seek_input(in, start);
    return kind;
}

} // namespace

FileKind file_kind(InputFile& in) {
    return examine(in, true);
}

FileKind file_kind(const std::string& path) {
    try {
        InputFile in = open_input(path);
        return file_kind(in);
    } catch (const Failure&) {
        return FileKind::Other;
    }
}

void refuse_rom_image(InputFile& in) {
    if (examine(in, false) == FileKind::RomImage)
        fail(in.path, "a ROM image, not a COFF object (efwdump reads it)");
}
