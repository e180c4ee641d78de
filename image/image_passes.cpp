#include "image/image_passes.h"

#include "base/failure.h"
#include "base/little_endian.h"
#include "image/rom_image.h"
#include "platform/console.h"
#include "platform/files.h"

#include <cerrno>
#include <cstring>

namespace {

unsigned char g_CopyBuf[kCopyBufferSize];
constexpr std::size_t kSmallPiece = 4096;

// The boot bytes of the sections read so far, kept until the image is written.
unsigned char g_BootBytes[kBootCapacity];
std::uint32_t g_BootFilled = 0;

// "%s : btad=[%x] dest=[p:%x v:%x] size=[%x]\n", put together without a copy of the name.
void print_progress(std::FILE* console, std::uint64_t image_offset, const SectHead& s) {
    if (console == nullptr)
        return;
    constexpr std::size_t kLongestLine =
        sizeof s.SectName + sizeof " : btad=[" - 1 + sizeof "] dest=[p:" - 1 + sizeof " v:" - 1 +
        sizeof "] size=[" - 1 + sizeof "]\n" - 1 + 4 * platform::kHexDigitsMax;
    platform::ConsoleLine line;
    static_assert(kLongestLine <= sizeof line.text);
    using platform::append_hex;
    using platform::append_text;
    char* p = append_text(line.text, has_no_name(s) ? std::string_view("NULL") : sect_name_text(s));
    p = append_text(p, " : btad=[");
    p = append_hex(p, display_address(image_offset));
    p = append_text(p, "] dest=[p:");
    p = append_hex(p, static_cast<std::uint32_t>(s.PhyAddr));
    p = append_text(p, " v:");
    p = append_hex(p, static_cast<std::uint32_t>(s.VirtAddr));
    p = append_text(p, "] size=[");
    p = append_hex(p, static_cast<std::uint32_t>(s.SectSize));
    p = append_text(p, "]\n");
    line.len = static_cast<std::size_t>(p - line.text);
    platform::write_line(console, line);
}

// A release image must never carry bytes the object does not hold, so data that lies
// outside the input is an error rather than stale or zero filler.
void check_section_data(const InputFile& in, unsigned index) {
    const SectHead& s = g_SectTable[index];
    if (s.FilePtrRaw < 0) {
        fail(in.path, section_label(index) + ": data offset " + std::to_string(s.FilePtrRaw) +
                          " is negative");
    }
    const auto off = static_cast<std::uint64_t>(s.FilePtrRaw);
    const auto len = static_cast<std::uint64_t>(s.SectSize);
    if (!in_file(in, off, len)) {
        fail(in.path, section_label(index) + ": data at offset " + hex(off) + ", " + hex(len) +
                          " bytes, runs past the end of the file at " + hex(in.size));
    }
}

} // namespace

void clear_boot_region() {
    g_BootFilled = 0;
}

void boot_pass(InputFile& in, unsigned index, std::FILE* console) {
    const SectHead& s = g_SectTable[index];
    if (s.SectSize > 0) {
        check_section_data(in, index);
        const std::uint64_t already = g_BootFilled;
        if (static_cast<std::uint64_t>(s.SectSize) > kBootCapacity - already) {
            fail(in.path, section_label(index) + ": " + std::to_string(s.SectSize) +
                              " boot bytes after " + std::to_string(already) +
                              " do not fit the boot region of " + std::to_string(kBootCapacity) +
                              " bytes");
        }
    }

    if (console != nullptr) {
        std::fprintf(console, "\n\n");
        std::fprintf(console, "%s\n", std::string(83, '=').c_str());
        platform::print_cp949(console, kRomBanner);
    }
    print_progress(console, 2 * std::uint64_t{g_BootFilled}, s);

    if (s.SectSize > 0) {
        // At most 1024 bytes, so reading them in one piece costs nothing.
        const std::uint64_t resume = in.pos;
        const auto n = static_cast<std::size_t>(s.SectSize);
        read_input_at(in, static_cast<std::uint64_t>(s.FilePtrRaw), g_BootBytes + g_BootFilled, n,
                      section_subject(index, "boot data").text);
        g_BootFilled += static_cast<std::uint32_t>(n);
        seek_input(in, resume);
    }
}

void write_image(InputFile& in, const ImageLayout& layout, ImageSink& sink, std::FILE* console) {
    static const unsigned char zeros[kTerminatorSize] = {};
    sink.begin(layout.image_size);
    {
        unsigned char region[kBootRegionSize] = {};
        for (std::uint32_t k = 0; k < g_BootFilled; ++k)
            region[2 * k] = g_BootBytes[k];
        sink.put({0}, region, sizeof region);
    }

    unsigned char word[4];
    put_le32(word, static_cast<std::uint32_t>(g_OptHead.lEntryPoint));
    sink.put({kEntryWordOffset}, word, sizeof word);
    if (console != nullptr)
        std::fprintf(console, "Entry Point = %x\n",
                     static_cast<std::uint32_t>(g_OptHead.lEntryPoint));

    for (unsigned k = 0; k < layout.record_count; ++k) {
        const RecordPlace& rec = layout.records[k];
        const unsigned i = rec.usSection;
        check_section_data(in, i);
        print_progress(console, rec.offset, g_SectTable[i]);

        // The padding byte and the header go out with the record's first piece of data, in
        // one put: a full section table makes thousands of small records.
        std::size_t head = 0;
        if (rec.pad_before)
            g_CopyBuf[head++] = 0;
        put_le32(g_CopyBuf + head, rec.ulByteCount);
        put_le32(g_CopyBuf + head + 4, rec.ulDest);
        head += kRecordHeaderSize;

        const auto from = static_cast<std::uint64_t>(g_SectTable[i].FilePtrRaw);
        const SectionSubject subject = section_subject(i, "data");
        std::uint64_t at = record_data_start(rec);
        std::size_t most = kSmallPiece;
        if (rec.ulByteCount >= kKernelCopyFrom) {
            sink.put({at - head}, g_CopyBuf, head);
            if (sink.put_from_file({at}, in, from, rec.ulByteCount, subject.text))
                continue;
            head = 0;
            most = kCopyBufferSize;
        }
        // A small record passes through the streams' buffers anyway, so a piece of one
        // page does as well as a larger one and touches one page of the copy buffer.
        seek_input(in, from);
        while (at < record_data_end(rec)) {
            const std::uint64_t remaining = record_data_end(rec) - at;
            const std::size_t room = most - head;
            const std::size_t piece = remaining < room ? static_cast<std::size_t>(remaining) : room;
            read_input(in, g_CopyBuf + head, piece, subject.text);
            sink.put({at - head}, g_CopyBuf, head + piece);
            at += piece;
            head = 0;
        }
    }

    if (layout.pad_before_terminator)
        sink.put({layout.terminator_offset - 1}, zeros, 1);
    sink.put({layout.terminator_offset}, zeros, sizeof zeros);

    // The fill behind the terminator, which the boot loader never reads.
    const std::uint64_t fill_from = layout.terminator_offset + kTerminatorSize;
    if (layout.image_size > fill_from) {
        // Only as much of the buffer as the fill needs: a page first touched costs more
        // than the bytes written to it.
        const std::uint64_t fill = layout.image_size - fill_from;
        std::memset(g_CopyBuf, layout.fill,
                    fill < sizeof g_CopyBuf ? static_cast<std::size_t>(fill) : sizeof g_CopyBuf);
        for (std::uint64_t at = fill_from; at < layout.image_size;) {
            const std::uint64_t remaining = layout.image_size - at;
            const std::size_t piece =
                remaining < kCopyBufferSize ? static_cast<std::size_t>(remaining) : kCopyBufferSize;
            sink.put({at}, g_CopyBuf, piece);
            at += piece;
        }
        if (console != nullptr)
            std::fprintf(console, "Padding = 0x%llx bytes of 0x%02x to 0x%llx\n",
                         static_cast<unsigned long long>(layout.image_size - fill_from),
                         layout.fill, static_cast<unsigned long long>(layout.image_size));
    }
}
