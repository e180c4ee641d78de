// Where the image's bytes go as the passes make them: a file, a comparison with an image
// on disk, a text format. A sink learns the image's size before its first byte, from the
// layout, and takes the bytes in order; what it must still write after the last byte
// (a text format's end record) it writes in finish().
#pragma once

#include <cstddef>
#include <cstdint>

struct InputFile;

struct ImagePiece {
    std::uint64_t offset; // image offset of the piece's first byte
};

class ImageSink {
  public:
    virtual ~ImageSink() = default;

    // The image will be `size` bytes; called once, before the first piece. Throws Failure
    // when the sink cannot take an image of that size, before a byte is written.
    virtual void begin(std::uint64_t size) { (void)size; }

    // Takes the next `len` bytes of the image, which start at `where.offset`. Pieces come in
    // image order with no gap. Throws Failure to end the conversion.
    virtual void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) = 0;

    // Takes the next `len` bytes of the image, which start at `where.offset`, straight
    // from offset `from` of `in` (`what` names them in a message), where the sink can
    // without seeing them: true once they are written, false with nothing written when
    // it cannot, and the caller then puts them. A sink that transforms or sums the bytes
    // (a text format, the checksum) leaves this as it is. Throws Failure.
    virtual bool put_from_file(const ImagePiece& where, InputFile& in, std::uint64_t from,
                               std::uint64_t len, const char* what) {
        (void)where, (void)in, (void)from, (void)len, (void)what;
        return false;
    }

    // Every piece has been put. Throws Failure.
    virtual void finish() {}
};
