#include "image/image_listing.h"

#include "image/rom_image.h"
#include "text/hex_text.h"

namespace {

// Record data pass through here for the hex dump; a multiple of the dump's line length.
unsigned char g_DumpBuf[4096];
constexpr std::size_t kDumpLine = 16;
static_assert(sizeof g_DumpBuf % kDumpLine == 0, "dump lines never straddle two pieces");

// One line of the hex dump: offset, up to 16 bytes in two groups of eight, their text.
void print_dump_line(std::FILE* out, std::uint64_t off, const unsigned char* bytes, std::size_t n) {
    char line[3 * kDumpLine + 1 + 2 + kDumpLine + 3];
    std::size_t at = 0;
    for (std::size_t k = 0; k < kDumpLine; ++k) {
        if (k == kDumpLine / 2)
            line[at++] = ' ';
        line[at++] = ' ';
        line[at++] = k < n ? kHexDigits[bytes[k] >> 4] : ' ';
        line[at++] = k < n ? kHexDigits[bytes[k] & 0xF] : ' ';
    }
    line[at++] = ' ';
    line[at++] = ' ';
    line[at++] = '|';
    for (std::size_t k = 0; k < n; ++k)
        line[at++] = bytes[k] >= 0x20 && bytes[k] < 0x7F ? static_cast<char>(bytes[k]) : '.';
    line[at++] = '|';
    line[at++] = '\n';
    std::fprintf(out, "\t%8llx ", static_cast<unsigned long long>(off));
    std::fwrite(line, 1, at, out);
}

void print_data(ImageFile& image, const LoadRecord& rec, std::FILE* out) {
    std::uint64_t off = record_data_offset(rec);
    std::uint64_t remaining = rec.count;
    while (remaining > 0) {
        const std::size_t piece =
            remaining < sizeof g_DumpBuf ? static_cast<std::size_t>(remaining) : sizeof g_DumpBuf;
        read_image_at(image, off, g_DumpBuf, piece);
        for (std::size_t line = 0; line < piece; line += kDumpLine) {
            const std::size_t n = piece - line < kDumpLine ? piece - line : kDumpLine;
            print_dump_line(out, off + line, g_DumpBuf + line, n);
        }
        off += piece;
        remaining -= piece;
    }
}

class Listing final : public ImageVisitor {
  public:
    Listing(ImageFile& image, std::FILE* out, bool with_data)
        : image_(image), out_(out), with_data_(with_data) {}

    void boot(const BootSummary& boot) override {
        // The counts carry their 0x, as the listing's other numbers are offsets and sizes.
        std::fprintf(out_, "boot region: 0x%x unit%s up to the last non-zero one (of 0x%x), ",
                     boot.units, boot.units == 1 ? "" : "s", kBootCapacity);
        if (boot.high_byte_set)
            std::fprintf(out_, "high byte not zero at %llx\n",
                         static_cast<unsigned long long>(boot.first_high));
        else
            std::fprintf(out_, "high bytes zero\n");
    }

    void entry(std::uint32_t word) override {
        std::fprintf(out_, "entry point: %x\n", word);
        std::fprintf(out_, "record\toffset\tbtad\t\tsize\tdest\tend\n");
    }

    void record(unsigned index, const LoadRecord& rec, std::uint64_t) override {
        std::fprintf(out_, "%u\t%llx\t%x\t%x\t%x\t%llx\n", index,
                     static_cast<unsigned long long>(rec.offset), display_address(rec.offset),
                     rec.count, rec.dest, static_cast<unsigned long long>(record_end(rec)));
        if (with_data_)
            print_data(image_, rec, out_);
    }

    void terminator(std::uint64_t offset, std::uint64_t) override {
        std::fprintf(out_, "terminator: %llx\n", static_cast<unsigned long long>(offset));
        if (image_.fill_size > 0)
            std::fprintf(out_, "padding: 0x%llx bytes of 0x%02x to 0x%llx\n",
                         static_cast<unsigned long long>(image_.fill_size), image_.fill,
                         static_cast<unsigned long long>(image_.in.size));
    }

  private:
    ImageFile& image_;
    std::FILE* out_;
    bool with_data_;
};

} // namespace

void dump_image(ImageFile& image, std::FILE* out, bool with_data) {
    Listing listing(image, out, with_data);
    walk_image(image, listing);
    std::fprintf(out, "size: %llx\n", static_cast<unsigned long long>(image.in.size));
    std::fprintf(out, "crc32: %08x\n", image_crc32(image));
}
