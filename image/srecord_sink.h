// Motorola S-records: an S0 header carrying `header` (at most kSRecordHeaderMax bytes of
// it), data records with 16-, 24- or 32-bit addresses (S1, S2, S3), optionally an S5 or
// S6 record counting them, and the end record of the same width (S9, S8, S7). The end
// record's address is the base: it names where execution starts, and the object's entry
// point is an address in the target's memory that the image's loader takes from the
// entry word, not an address among the image's bytes; the base is the one address that
// starts them.
#pragma once

#include "image/text_sink.h"

inline constexpr std::size_t kSRecordHeaderMax = 64;

class SRecordSink final : public TextImageSink {
  public:
    SRecordSink(std::FILE* fp, std::string path, const TextOptions& options, std::string header)
        : TextImageSink(fp, std::move(path), options), header_(std::move(header)) {}

    // Settles the address width from the image's highest address. Throws Failure when a
    // width asked for cannot address the whole image.
    void begin(std::uint64_t size) override;

  private:
    void write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) override;
    void write_end() override;
    void write_header();

    std::string header_;
    bool header_written_ = false;
    unsigned address_bytes_ = 4;
    std::uint64_t data_records_ = 0;
};
