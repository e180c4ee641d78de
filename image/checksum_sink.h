// A tee in front of the sink that writes the image: the CRC-32 of the image's bytes as
// they pass, so that a description of the run can give it without reading the output
// back (which, for a text format, would mean decoding it again).
#pragma once

#include "base/crc32.h"
#include "image/image_sink.h"

#include <cstddef>
#include <cstdint>

class ChecksumSink final : public ImageSink {
  public:
    explicit ChecksumSink(ImageSink& next) : next_(next) {}

    void begin(std::uint64_t size) override { next_.begin(size); }
    void finish() override { next_.finish(); }
    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override {
        next_.put(where, bytes, len);
        crc_ = crc32_update(crc_, bytes, len);
        size_ += len;
    }

    // zlib's crc32 of every byte passed on so far, and how many they were.
    std::uint32_t crc32() const { return crc_; }
    std::uint64_t size() const { return size_; }

  private:
    ImageSink& next_;
    std::uint32_t crc_ = 0;
    std::uint64_t size_ = 0;
};
