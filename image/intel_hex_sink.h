// Intel HEX: a type-04 extended linear address record before the first data record and
// wherever the upper 16 bits of the address change, type-00 data records, a type-01 end
// record. No start address record: the entry point is an address of the target, not of
// the image, and the image's own loader reads it from the entry word.
#pragma once

#include "image/text_sink.h"

class IntelHexSink final : public TextImageSink {
  public:
    IntelHexSink(std::FILE* fp, std::string path, const TextOptions& options)
        : TextImageSink(fp, std::move(path), options) {}

  private:
    void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) override;
    void write_end() override;

    bool upper_written_ = false;
    std::uint32_t upper_ = 0; // the upper 16 bits the last type-04 record set
};
