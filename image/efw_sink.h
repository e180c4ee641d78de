// The image in its own binary format, the .efw file the boot loader reads.
#pragma once

#include "image/image_sink.h"

#include <cstdio>
#include <string>
#include <utility>

// The image written to a stream; a write that fails is a Failure naming `path` and the
// image offset.
class StreamSink final : public ImageSink {
  public:
    StreamSink(std::FILE* fp, std::string path) : fp_(fp), path_(std::move(path)) {}
    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override;
    // Inside the kernel where the host and the output allow.
    bool put_from_file(const ImagePiece& where, InputFile& in, std::uint64_t from,
                       std::uint64_t len, const char* what) override;

  private:
    std::FILE* fp_;
    std::string path_;
};
