#include "bench/bench_inputs.h"

#include "tools/coff_builder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace {

// Sizes the sections of the large inputs cycle through: around the copy buffer's piece
// size, odd ones, a single byte and some large ones.
const std::uint32_t kMixedSizes[] = {777,    10000, 10001,   65537,  1,       9999,
                                     262147, 12345, 1048573, 333333, 4194319, 2097169};

const char* const kNames[] = {".text", ".data", ".econst", ".ramfunc", ".cinit2"};

coffgen::Section data_section(std::size_t n, std::size_t index) {
    coffgen::Section s;
    s.name = kNames[index % 5];
    s.data = coffgen::pattern(n, static_cast<std::uint8_t>(index));
    s.phy = s.virt = static_cast<std::int32_t>(0x100000 + 0x1000 * index);
    s.flags = index % 2 == 0 ? 0x20 : 0x40;
    return s;
}

constexpr std::int32_t kCode = 0x20;
constexpr std::int32_t kData = 0x40;
constexpr std::int32_t kBss = 0x80;
constexpr std::int32_t kDummy = 0x01;
constexpr std::int32_t kCopy = 0x10;

// What a linked firmware object for the target holds: start-up code and the boot section
// among the leading sections, one large code section, RAM functions loaded in one place
// and run in another, constant and lookup tables, uninitialised and stack sections
// without data, a table kept in the target's ROM (a dummy section: a size, no data), a
// copy section with data, some twenty peripheral register frames on the data page, and
// an unnamed section. The sizes are odd as a linker leaves them; about 180 KB in all.
coffgen::Object firmware_object() {
    using coffgen::pattern;
    using coffgen::Section;
    coffgen::Object o;
    o.opt = coffgen::OptFields{.code_size = 0x20F53,
                               .data_size = 0x6E5D,
                               .bss_size = 0x2A3C,
                               .entry = 0x3F4A12,
                               .code_addr = 0x3E8000,
                               .data_addr = 0x3F0000};
    o.sym_ptr = 0x2C3F0;
    o.num_syms = 1873;
    std::uint8_t seed = 1;
    auto with_data = [&seed](const char* name, std::size_t n, std::int32_t flags, std::int32_t phy,
                             std::int32_t virt) {
        return Section{
            .name = name, .data = pattern(n, seed++), .phy = phy, .virt = virt, .flags = flags};
    };
    auto no_data = [](const char* name, std::int32_t size, std::int32_t flags, std::int32_t addr,
                      std::uint16_t page) {
        return Section{.name = name,
                       .phy = addr,
                       .virt = addr,
                       .flags = flags,
                       .size = size,
                       .mem_page = page};
    };
    o.sections = {
        with_data("codestrt", 4, kCode, 0x3F7FF6, 0x3F7FF6),
        with_data(".boot_L", 502, kCode, 0x0, 0x0),
        with_data(".cinit", 2318, kData, 0x3F5000, 0x3F5000),
        no_data(".pinit", 0, kData, 0x3F5910, 0),
        with_data(".switch", 88, kData, 0x3F5910, 0x3F5910),
        with_data(".text", 130213, kCode, 0x3E8000, 0x3E8000),
        with_data("ramfuncs", 4363, kCode, 0x3F3000, 0x8000),
        with_data(".econst", 21877, kData, 0x3F0000, 0x3F0000),
        no_data("IQmathTb", 0xB50, kDummy, 0x3FE000, 0),
        with_data("IQmath", 2107, kCode, 0x3F4000, 0x3F4000),
        with_data(".reset", 2, kCopy, 0x3FFFC0, 0x3FFFC0),
        no_data(".ebss", 0x1A3C, kBss, 0x9000, 1),
        no_data(".stack", 0x400, kBss, 0x400, 1),
        no_data(".esysmem", 0x400, kBss, 0xB000, 1),
        with_data(".data", 1131, kData, 0xA000, 0xA000),
        with_data("csmpwds", 16, kData, 0x3F7FF8, 0x3F7FF8),
        with_data("csm_rsvd", 152, kData, 0x3F7F80, 0x3F7F80),
        with_data("FpuTbls", 9001, kData, 0x3F6000, 0x3F6000),
        with_data("FlashTbl", 6144, kData, 0x3F1000, 0x3F1000),
        with_data(".sconst", 1, kData, 0x3F5A00, 0x3F5A00),
    };
    // Peripheral register frames: names and sizes, placed one after another on page 1.
    static const struct {
        const char* name;
        std::int32_t size;
    } kFrames[] = {
        {"PieVect", 0x100}, {"DevEmu", 0xD0},   {"FlashReg", 0x8},  {"CsmRegs", 0x10},
        {"AdcRslt", 0x10},  {"CpuTim0", 0x8},   {"PieCtrl", 0x1A},  {"DmaRegs", 0xE0},
        {"McbspA", 0x25},   {"ECanA", 0x34},    {"ECanAMb", 0x100}, {"EPwm1", 0x22},
        {"EQep1", 0x40},    {"GpioCtrl", 0x2E}, {"GpioData", 0x20}, {"SysCtrl", 0x20},
        {"SciA", 0x10},     {"AdcRegs", 0x1E},  {"I2caRegs", 0x22},
    };
    std::int32_t addr = 0x0880;
    for (const auto& f : kFrames) {
        o.sections.push_back(no_data(f.name, f.size, kBss, addr, 1));
        addr += (f.size + 0x3F) & ~0x3F;
    }
    o.sections.push_back(with_data("", 33, kData, 0xC000, 0xC000));
    return o;
}

coffgen::Object make_object(const Case& c) {
    if (c.shape == Shape::Firmware)
        return firmware_object();
    coffgen::Object o;
    o.opt = coffgen::OptFields{.entry = 0x3F0040};
    if (c.shape == Shape::Small301) {
        // The full table at one size: every header, row and record costs its fixed share.
        for (std::size_t i = 0; i < 2048; ++i) {
            o.sections.push_back(data_section(301, i));
            if (i == 2)
                o.sections.back().name = ".boot_L";
        }
        return o;
    }
    o.sections = coffgen::leading_sections();
    o.sections.push_back({.name = ".boot_L", .data = coffgen::pattern(37, 0x30)});
    if (c.shape == Shape::SmallMixed) {
        for (std::size_t i = o.sections.size(); i < 2048; ++i)
            o.sections.push_back(data_section(1 + (i * 37) % 500, i));
    } else if (c.shape == Shape::Even) {
        for (std::size_t k = 0; k < c.sections; ++k)
            o.sections.push_back(
                data_section(static_cast<std::size_t>(c.data_bytes / c.sections), k));
    } else {
        std::uint64_t left = c.data_bytes;
        for (std::size_t k = 0; left > 0; ++k) {
            const std::uint64_t n =
                std::min<std::uint64_t>(left, kMixedSizes[k % std::size(kMixedSizes)]);
            o.sections.push_back(data_section(static_cast<std::size_t>(n), k));
            left -= n;
        }
    }
    return o;
}

// What a correct run writes: boot region, entry word, one aligned record per loadable
// section, terminator. Checked after every run so that a failing converter cannot pass
// for a fast one.
std::uint64_t expected_image_size(const coffgen::Object& o) {
    std::uint64_t size = 0x800 + 4;
    for (std::size_t i = 5; i < o.sections.size(); ++i) {
        const coffgen::Section& s = o.sections[i];
        if (s.name == ".boot_L")
            continue;
        size += size % 2;
        const std::int32_t n = s.size.value_or(static_cast<std::int32_t>(s.data.size()));
        const bool has_data = s.file_ptr.value_or(s.data.empty() ? 0 : 1) != 0;
        if (n > 0 && has_data && (s.flags & (kDummy | kCopy)) == 0)
            size += 8 + static_cast<std::uint64_t>(n);
    }
    return size + 8;
}

} // namespace

// Writes the input of case `index` to `path` and prints the size its image must have and
// its section count.
int make_input(std::size_t index, const std::string& path) {
    if (index >= std::size(kCases))
        throw std::out_of_range("no input number " + std::to_string(index));
    const coffgen::Object object = make_object(kCases[index]);
    coffgen::write_file(path, coffgen::build(object));
    std::printf("%llu %zu\n", static_cast<unsigned long long>(expected_image_size(object)),
                object.sections.size());
    return 0;
}
