#include "image/efw_sink.h"

#include "base/failure.h"
#include "platform/files.h"

void StreamSink::put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) {
    if (std::fwrite(bytes, 1, len, fp_) != len) {
        fail(path_, "cannot write at image offset " + hex(where.offset) + ": " +
                        platform::last_error_text());
    }
}
