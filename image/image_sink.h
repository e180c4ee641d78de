// Where the image's bytes go as the passes make them: a file, a comparison with an image
// on disk, a text format. Each piece comes with the part of the layout it belongs to, so
// a sink that needs to name a place (the comparison) or to address it (a hex format) has
// it at hand without reading the image back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

enum class ImagePart : unsigned char {
    BootRegion,   // widened boot bytes and the zero fill up to the entry word
    EntryWord,    // the entry address
    Padding,      // one zero byte before a record or the terminator
    RecordHeader, // a record's byte count and destination address
    RecordData,   // a record's bytes, in one or more pieces
    Terminator,   // the eight zero bytes at the end
};

struct ImagePiece {
    ImagePart part;
    unsigned record;      // the layout's record for Padding, RecordHeader and RecordData;
                          // the record count for the padding before the terminator
    std::uint64_t offset; // image offset of the piece's first byte
};

class ImageSink {
  public:
    // Takes the next `len` bytes of the image, which start at `where.offset`. Pieces come in
    // image order with no gap. Throws Failure to end the conversion.
    virtual void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) = 0;

    // Throws Failure when an image of `size` bytes cannot be written in this sink's
    // format, before the first piece: a format whose addresses run out refuses it here
    // rather than at the piece that no longer fits.
    virtual void check_room(std::uint64_t size) const { (void)size; }

  protected:
    ~ImageSink() = default;
};

// The image written to a stream; a write that fails is a Failure naming `path` and the
// image offset.
class StreamSink final : public ImageSink {
  public:
    StreamSink(std::FILE* fp, std::string path) : fp_(fp), path_(std::move(path)) {}
    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override;

  private:
    std::FILE* fp_;
    std::string path_;
};
