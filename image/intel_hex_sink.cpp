#include "image/intel_hex_sink.h"

void IntelHexSink::write_line(std::uint32_t address, const unsigned char* bytes, std::size_t len) {
    const std::uint32_t upper = address >> 16;
    if (!upper_written_ || upper != upper_) {
        TextLine ela;
        ela.text_of(":");
        ela.byte(2);
        ela.word(0, 2);
        ela.byte(4);
        ela.word(upper, 2);
        ela.byte(0x100 - (ela.sum & 0xFF));
        emit(ela);
        upper_written_ = true;
        upper_ = upper;
    }
    TextLine data;
    data.text_of(":");
    data.byte(static_cast<unsigned>(len));
    data.word(address, 2);
    data.byte(0);
    data.bytes(bytes, len);
    data.byte(0x100 - (data.sum & 0xFF));
    emit(data);
}

void IntelHexSink::write_end() {
    TextLine end;
    end.text_of(":00000001FF");
    emit(end);
}
