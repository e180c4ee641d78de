#include "image/srecord_sink.h"

#include "base/failure.h"

namespace {

// A record's count field covers the address, the data and the checksum in one byte.
constexpr unsigned kRecordCountMax = 255;

unsigned width_bytes(SRecordAddress width) {
    switch (width) {
    case SRecordAddress::Bits16:
        return 2;
    case SRecordAddress::Bits24:
        return 3;
    case SRecordAddress::Auto:
    case SRecordAddress::Bits32:
        break;
    }
    return 4;
}

} // namespace

void SRecordSink::begin(std::uint64_t size) {
    TextImageSink::begin(size);
    const std::uint64_t base = this->base();
    const std::uint64_t highest = size > 0 ? base + size - 1 : base;
    const SRecordAddress width = options().srec_address;
    if (width == SRecordAddress::Auto) {
        address_bytes_ = highest <= 0xFFFF ? 2 : highest <= 0xFFFFFF ? 3 : 4;
    } else {
        address_bytes_ = width_bytes(width);
        const std::uint64_t limit = std::uint64_t{1} << (8 * address_bytes_);
        if (address_bytes_ < 4 && highest >= limit) {
            const std::uint64_t first_out = base >= limit ? 0 : limit - base;
            fail(path(), "image offset " + hex(first_out) + " lies past the " +
                             std::to_string(8 * address_bytes_) +
                             "-bit addresses of --srec-address from base " + hex(base));
        }
    }
    limit_line_bytes(kRecordCountMax - address_bytes_ - 1);
}

void SRecordSink::write_header() {
    if (header_written_)
        return;
    const std::size_t n = header_.size() < kSRecordHeaderMax ? header_.size() : kSRecordHeaderMax;
    TextLine s0;
    s0.text_of("S0");
    s0.byte(static_cast<unsigned>(2 + n + 1));
    s0.word(0, 2);
    s0.bytes(reinterpret_cast<const unsigned char*>(header_.data()), n);
    s0.byte(~s0.sum);
    emit(s0);
    header_written_ = true;
}

void SRecordSink::write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) {
    write_header();
    static constexpr const char* kTypes[] = {"", "", "S1", "S2", "S3"};
    TextLine data;
    data.text_of(kTypes[address_bytes_]);
    data.byte(static_cast<unsigned>(address_bytes_ + len + 1));
    data.word(address, address_bytes_);
    data.bytes(bytes, len);
    data.byte(~data.sum);
    emit(data);
    ++data_records_;
}

void SRecordSink::write_end() {
    write_header();
    if (options().srec_count) {
        // S5 counts in 16 bits, S6 in 24; past that no record can say the count.
        const unsigned count_bytes = data_records_ <= 0xFFFF ? 2 : 3;
        if (data_records_ > 0xFFFFFF) {
            fail(path(), std::to_string(data_records_) +
                             " data records are more than an S6 count record holds (16777215)");
        }
        TextLine count;
        count.text_of(count_bytes == 2 ? "S5" : "S6");
        count.byte(count_bytes + 1);
        count.word(static_cast<std::uint32_t>(data_records_), count_bytes);
        count.byte(~count.sum);
        emit(count);
    }
    static constexpr const char* kTypes[] = {"", "", "S9", "S8", "S7"};
    TextLine end;
    end.text_of(kTypes[address_bytes_]);
    end.byte(address_bytes_ + 1);
    end.word(base(), address_bytes_);
    end.byte(~end.sum);
    emit(end);
}
