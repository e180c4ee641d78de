// efwdump's reader on arbitrary bytes as the image: the layout walk and its checks, the
// hex dump and the CRC-32, with the listing to the null device. A Failure is the reader
// refusing the image, which is fine as long as it names the place as the reader
// promises, with an offset inside the file; anything else (a crash, a sanitizer report, a
// leak, a hang, another exception) is a finding. The CRC-32 the reader gives, with or
// without a walk before it, must be zlib's over the whole file. Bytes that look like text
// go through the Intel HEX and S-record reader too.
#include "base/failure.h"
#include "image/image_listing.h"
#include "image/text_image_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <zlib.h>

#include <unistd.h>

namespace {

std::FILE* g_Null = nullptr;
std::FILE* g_ImageFp = nullptr;
std::FILE* g_TextOut = nullptr;

[[noreturn]] void broken(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "image_fuzz: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::abort();
}

// An ImageFile on the scratch stream, rewound; the stream outlives it.
struct ScratchImage {
    ImageFile image;
    explicit ScratchImage(std::size_t size) {
        std::rewind(g_ImageFp);
        image.in.fp = g_ImageFp;
        image.in.size = size;
        image.in.path = "fuzz.efw";
    }
    ~ScratchImage() { image.in.fp = nullptr; }
    ScratchImage(const ScratchImage&) = delete;
    ScratchImage& operator=(const ScratchImage&) = delete;
};

// "... at offset 0x<n>" with n inside the file, or at its end.
void check_fault(const std::string& what, std::size_t size) {
    const std::string tag = " at offset 0x";
    const std::size_t at = what.rfind(tag);
    if (at == std::string::npos)
        broken("a fault names no offset", what);
    const std::string digits = what.substr(at + tag.size());
    char* end = nullptr;
    const unsigned long long off = std::strtoull(digits.c_str(), &end, 16);
    if (digits.empty() || *end != '\0')
        broken("a fault's offset is not the end of its text", what);
    if (off > size)
        broken("a fault lies past the end of the file", what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_Null == nullptr) {
        g_Null = std::fopen("/dev/null", "w");
        g_ImageFp = std::tmpfile();
        g_TextOut = std::fopen("/dev/null", "w");
        if (g_Null == nullptr || g_ImageFp == nullptr || g_TextOut == nullptr)
            broken("cannot open the null device or a scratch file");
    }
    std::rewind(g_ImageFp);
    if (ftruncate(fileno(g_ImageFp), 0) != 0)
        broken("cannot truncate the scratch file");
    if (size > 0 && std::fwrite(data, 1, size, g_ImageFp) != size)
        broken("cannot write the image to the scratch file");
    std::fflush(g_ImageFp);
    const auto expected_crc =
        static_cast<std::uint32_t>(crc32_z(crc32_z(0, nullptr, 0), data, size));

    {
        ScratchImage scratch(size);
        // The hex dump for half of the inputs: it reads the records' data once more.
        const bool with_data = size % 2 != 0;
        bool dumped = false;
        try {
            dump_image(scratch.image, g_Null, with_data);
            dumped = true;
        } catch (const Failure& f) {
            check_fault(f.cause, size);
        }
        if (dumped && image_crc32(scratch.image) != expected_crc)
            broken("the walk's CRC-32 is not zlib's over the file");
    }
    {
        ScratchImage scratch(size);
        std::uint32_t crc = 0;
        try {
            crc = image_crc32(scratch.image);
        } catch (const Failure& f) {
            broken("the CRC-32 of a readable file failed", f.cause);
        }
        if (crc != expected_crc)
            broken("the CRC-32 without a walk is not zlib's over the file");
    }
    {
        // The same bytes as Intel HEX or S-records: read into a binary image, or refused
        // with the line named.
        const ImageFormat format = detect_image_format(data, size);
        if (format != ImageFormat::Efw) {
            std::rewind(g_ImageFp);
            std::rewind(g_TextOut);
            try {
                read_text_image(g_ImageFp, format, "fuzz.hex", 0, g_TextOut);
            } catch (const Failure& f) {
                if (f.cause.find("line ") == std::string::npos)
                    broken("a text fault names no line", f.cause);
            }
        }
    }
    return 0;
}
