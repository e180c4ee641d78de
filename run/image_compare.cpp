#include "run/image_compare.h"

#include "base/crc32.h"
#include "base/failure.h"
#include "image/image_input.h"
#include "image/image_layout.h"
#include "image/image_sink.h"
#include "run/run_sequence.h"

#include <new>
#include <utility>

namespace {

// The image passes through here. Small pieces: a check must cost no more memory than a
// plain listing, which reads through with one piece of kImageReadPiece, and pieces four
// times larger compared 256 MiB no faster.
unsigned char g_FoundPiece[8192];

std::string byte_text(int b) {
    return b < 0 ? "the end of the file" : hex(static_cast<std::uint64_t>(b));
}

// The first difference, described; thrown out of the conversion, which it ends.
struct Difference {
    std::string what;
};

// Compares each piece of the conversion with the image's next bytes and throws a
// Difference at the first one; the layout, complete before the first piece, names it.
class CompareSink final : public ImageSink {
  public:
    explicit CompareSink(InputFile& found) : found_(found) {}

    void put(const ImagePiece& where, const unsigned char* bytes, std::size_t len) override {
        std::uint64_t off = where.offset;
        while (len > 0) {
            if (found_.pos == found_.size)
                fail_difference(off, bytes[0], -1);
            std::size_t piece = len < sizeof g_FoundPiece ? len : sizeof g_FoundPiece;
            if (piece > found_.size - found_.pos)
                piece = static_cast<std::size_t>(found_.size - found_.pos);
            read_input(found_, g_FoundPiece, piece, "image bytes");
            unsigned char diff = 0; // gathered without a branch, so the loop runs in vectors
            for (std::size_t k = 0; k < piece; ++k)
                diff |= static_cast<unsigned char>(g_FoundPiece[k] ^ bytes[k]);
            if (diff != 0) {
                std::size_t k = 0;
                while (g_FoundPiece[k] == bytes[k])
                    ++k;
                fail_difference(off + k, bytes[k], g_FoundPiece[k]);
            }
            crc_ = crc32_update(crc_, g_FoundPiece, piece);
            bytes += piece;
            len -= piece;
            off += piece;
        }
    }

    // The conversion is complete: the image must end with it.
    void finish() override {
        if (found_.pos < found_.size) {
            unsigned char b = 0;
            read_input(found_, &b, 1, "image bytes");
            fail_difference(found_.pos - 1, -1, b);
        }
    }

    std::uint32_t crc() const { return crc_; }

  private:
    // The first difference, in the image's own terms, with the expected and the found byte
    // (-1: the file ends there).
    [[noreturn]] void fail_difference(std::uint64_t off, int want, int got) {
        const std::uint64_t expected_size = g_Layout.image_size;
        const std::string sizes = hex(found_.size) + " bytes, " + hex(expected_size) + " expected";
        const bool at_an_end = want < 0 || got < 0;
        std::string what;
        if (at_an_end)
            what += "length " + sizes + ": ";
        if (want >= 0)
            what += describe_image_offset(g_Layout, off) + " ";
        what +=
            "at offset " + hex(off) + ": expected " + byte_text(want) + ", found " + byte_text(got);
        if (!at_an_end && found_.size != expected_size)
            what += " (and the image is " + sizes + ")";
        throw Difference{std::move(what)};
    }

    InputFile& found_;
    std::uint32_t crc_ = 0; // of the image's bytes compared so far
};

} // namespace

int check_image_against(const std::string& object_path, const std::string& image_path,
                        std::uint32_t base, std::FILE* out, const SizeOptions& size) {
    // The image first: one that cannot be read is not worth a conversion.
    InputFile found = open_image(image_path, base);
    CompareSink compare(found);
    try {
        InputFile object = open_input(object_path);
        convert(object, compare, nullptr, nullptr, size); // no listing
    } catch (const Difference& d) {
        // A difference is the answer, on standard output as cmp gives it.
        std::fprintf(out, "%s %s differ: %s\n", image_path.c_str(), object_path.c_str(),
                     d.what.c_str());
        return 1;
    } catch (const std::bad_alloc&) {
        fail(image_path, "out of memory", FailureKind::Trouble);
    }
    // One formatted print, as hex() would call into another part of the C library and map
    // its pages for this one line.
    std::fprintf(out, "%s matches %s (0x%llx bytes, %u record%s, crc32 %08x)\n", image_path.c_str(),
                 object_path.c_str(), static_cast<unsigned long long>(found.size),
                 g_Layout.record_count, g_Layout.record_count == 1 ? "" : "s", compare.crc());
    return 0;
}
