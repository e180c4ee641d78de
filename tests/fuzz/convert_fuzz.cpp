// One whole conversion per input: arbitrary bytes as the object, the listing to the null
// device and the image to a scratch file. A Failure is the converter refusing the input,
// which is fine; anything else (a crash, a sanitizer report, a leak, a hang, another
// exception) is a finding. An image that the run reported as written must also hold
// together: a reader walking it from the entry word has to arrive at the terminator
// exactly at its end, and every record must carry bytes that stand in the object.
#include "base/failure.h"
#include "base/little_endian.h"
#include "coff/coff_headers.h"
#include "image/efw_sink.h"
#include "image/image_passes.h"
#include "image/rom_image.h"
#include "run/run_sequence.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

std::FILE* g_Console = nullptr;
std::FILE* g_InputFp = nullptr;
std::FILE* g_ImageFp = nullptr;
std::vector<unsigned char> g_Image;

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "convert_fuzz: %s\n", what);
    std::abort();
}

std::FILE* open_scratch() {
    std::FILE* fp = std::tmpfile();
    if (fp == nullptr)
        broken("cannot create a scratch file");
    return fp;
}

void empty_scratch(std::FILE* fp) {
    std::rewind(fp);
    if (ftruncate(fileno(fp), 0) != 0)
        broken("cannot truncate a scratch file");
}

std::uint32_t word_at(std::size_t off) {
    return get_le32(g_Image.data() + off);
}

// The walk a boot loader makes over a written image.
void check_image(const std::uint8_t* object, std::size_t object_size, std::uint64_t written) {
    std::fflush(g_ImageFp);
    std::rewind(g_ImageFp);
    g_Image.resize(static_cast<std::size_t>(written) + 1);
    const std::size_t got = std::fread(g_Image.data(), 1, g_Image.size(), g_ImageFp);
    if (got != written)
        broken("the image file does not hold what the run counted as written");
    g_Image.resize(got);
    const std::size_t size = g_Image.size();
    if (size < kMinImageSize)
        broken("image shorter than the bare image");

    for (std::size_t off = 1; off < kBootRegionSize; off += 2) {
        if (g_Image[off] != 0)
            broken("a boot unit has a non-zero high byte");
    }
    if (word_at(kEntryWordOffset) != static_cast<std::uint32_t>(g_OptHead.lEntryPoint))
        broken("entry word differs from the optional header");

    std::size_t off = kFirstRecordOffset;
    unsigned next_sect = kFirstLoadSection;
    for (;;) {
        if (off % 2 != 0 && size - off != kTerminatorSize) {
            if (g_Image[off] != 0)
                broken("alignment byte is not zero");
            ++off;
        }
        if (off > size || kRecordHeaderSize > size - off)
            broken("image ends inside a record header");
        const std::uint32_t count = word_at(off);
        const std::uint32_t addr = word_at(off + 4);
        if (count == 0) {
            if (addr != 0 || off + kTerminatorSize != size)
                broken("terminator is not the last eight zero bytes");
            return;
        }
        const std::size_t data_at = off + kRecordHeaderSize;
        if (count > size - data_at)
            broken("record runs past the end of the image");
        // Records follow the section table's order; find the section this one came from.
        bool found = false;
        while (!found && next_sect < g_FileHead.usNumSect) {
            const SectHead& s = g_SectTable[next_sect++];
            const auto ptr = static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.FilePtrRaw));
            found = static_cast<std::uint32_t>(s.SectSize) == count &&
                    static_cast<std::uint32_t>(s.VirtAddr) == addr && s.FilePtrRaw >= 0 &&
                    ptr <= object_size && count <= object_size - ptr &&
                    std::memcmp(object + ptr, g_Image.data() + data_at, count) == 0;
        }
        if (!found)
            broken("a record matches no later section's header and data");
        off = data_at + count;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_Console == nullptr) {
        g_Console = std::fopen("/dev/null", "w");
        if (g_Console == nullptr)
            broken("cannot open the null device");
        g_InputFp = open_scratch();
        g_ImageFp = open_scratch();
    }

    empty_scratch(g_InputFp);
    if (size > 0 && std::fwrite(data, 1, size, g_InputFp) != size)
        broken("cannot write the object to a scratch file");
    std::fflush(g_InputFp);
    std::rewind(g_InputFp);
    empty_scratch(g_ImageFp);

    InputFile in;
    in.fp = g_InputFp;
    in.size = size;
    in.path = "fuzz.out";
    StreamSink sink(g_ImageFp, "fuzz.efw");
    bool converted = true;
    try {
        convert(in, sink, g_Console);
    } catch (const Failure&) {
        converted = false;
    }
    in.fp = nullptr; // the scratch stream serves the next input too
    if (converted)
        check_image(data, size, g_Layout.image_size);
    return 0;
}
