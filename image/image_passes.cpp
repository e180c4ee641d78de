#include "image/image_passes.h"

#include "base/failure.h"
#include "image/rom_image.h"
#include "platform/console.h"
#include "platform/files.h"

#include <cerrno>
#include <cstring>

namespace {

unsigned char g_CopyBuf[kCopyBufferSize];

// "[ROM 파일 쓰기 작업]" in code page 949, as the target's engineers' consoles show it,
// and in UTF-8.
constexpr platform::Cp949Text kRomBanner = {
    "[ROM \xC6\xC4\xC0\xCF \xBE\xB2\xB1\xE2 \xC0\xDB\xBE\xF7]\n",
    "[ROM \xED\x8C\x8C\xEC\x9D\xBC \xEC\x93\xB0\xEA\xB8\xB0 \xEC\x9E\x91\xEC\x97\x85]\n"};

// "%s : btad=[%x] dest=[p:%x v:%x] size=[%x]\n", put together without a copy of the name.
void print_progress(std::FILE* console, const OutputImage& out, const SectHead& s) {
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
    p = append_hex(p, display_address(out.pos));
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

void write_output(OutputImage& out, const void* bytes, std::size_t len) {
    if (out.sink != nullptr) {
        out.sink(out.context, static_cast<const unsigned char*>(bytes), len);
    } else if (std::fwrite(bytes, 1, len, out.fp) != len) {
        fail(out.path,
             "cannot write at image offset " + hex(out.pos) + ": " + platform::error_text(errno));
    }
    out.pos += len;
}

bool becomes_load_record(const SectHead& s) {
    return !is_boot_section(s) && s.SectSize > 0 && s.FilePtrRaw != 0 &&
           (static_cast<std::uint32_t>(s.Flags) & kNoLoadFlags) == 0;
}

void boot_pass(InputFile& in, OutputImage& out, unsigned index, std::FILE* console) {
    const SectHead& s = g_SectTable[index];
    if (s.SectSize > 0) {
        check_section_data(in, index);
        const std::uint64_t already = out.pos / 2;
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
    print_progress(console, out, s);

    const std::uint64_t resume = in.pos;
    if (s.SectSize > 0) {
        // At most 1024 bytes, so reading them in one piece costs nothing.
        const auto n = static_cast<std::size_t>(s.SectSize);
        read_input_at(in, static_cast<std::uint64_t>(s.FilePtrRaw), g_CopyBuf, n,
                      section_subject(index, "boot data").text);
        unsigned char widened[2 * kBootCapacity];
        for (std::size_t k = 0; k < n; ++k) {
            widened[2 * k] = g_CopyBuf[k];
            widened[2 * k + 1] = 0;
        }
        write_output(out, widened, 2 * n);
    }
    seek_input(in, resume);
}

void close_boot_region(OutputImage& out) {
    static const unsigned char zeros[kBootRegionSize] = {};
    if (out.pos < kBootRegionSize)
        write_output(out, zeros, static_cast<std::size_t>(kBootRegionSize - out.pos));
}

void write_entry_word(OutputImage& out, std::FILE* console) {
    unsigned char word[4];
    put_le32(word, static_cast<std::uint32_t>(g_OptHead.lEntryPoint));
    write_output(out, word, sizeof word);
    if (console != nullptr)
        std::fprintf(console, "Entry Point = %x\n",
                     static_cast<std::uint32_t>(g_OptHead.lEntryPoint));
}

void load_pass(InputFile& in, OutputImage& out, std::FILE* console) {
    static const unsigned char zero = 0;
    for (unsigned i = kFirstLoadSection; i < g_FileHead.usNumSect; ++i) {
        const SectHead& s = g_SectTable[i];
        if (is_boot_section(s))
            continue;
        // Every visited section aligns, even one that then produces no record.
        if (out.pos % 2 != 0)
            write_output(out, &zero, 1);
        if (!becomes_load_record(s))
            continue;
        check_section_data(in, i);

        print_progress(console, out, s);
        unsigned char header[kRecordHeaderSize];
        put_le32(header, static_cast<std::uint32_t>(s.SectSize));
        put_le32(header + 4, static_cast<std::uint32_t>(s.VirtAddr));
        write_output(out, header, sizeof header);

        seek_input(in, static_cast<std::uint64_t>(s.FilePtrRaw));
        const SectionSubject subject = section_subject(i, "data");
        auto remaining = static_cast<std::uint64_t>(s.SectSize);
        while (remaining > 0) {
            const std::size_t piece =
                remaining < kCopyBufferSize ? static_cast<std::size_t>(remaining) : kCopyBufferSize;
            read_input(in, g_CopyBuf, piece, subject.text);
            write_output(out, g_CopyBuf, piece);
            remaining -= piece;
        }
    }
}

void write_terminator(OutputImage& out) {
    static const unsigned char zeros[kTerminatorSize] = {};
    write_output(out, zeros, sizeof zeros);
}
