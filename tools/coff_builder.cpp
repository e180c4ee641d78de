#include "tools/coff_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace coffgen {

namespace {

void put16(Bytes& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Bytes& out, std::size_t at, std::int32_t sv) {
    const auto v = static_cast<std::uint32_t>(sv);
    for (int k = 0; k < 4; ++k)
        out[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}

} // namespace

std::vector<Section> leading_sections(int count) {
    static const char* const names[] = {".vectors", ".cinit", ".const", ".switch", ".sysmem"};
    std::vector<Section> out;
    for (int i = 0; i < count; ++i) {
        Section s;
        s.name = names[i % 5];
        s.flags = 0x40;
        s.phy = s.virt = 0x100 * (i + 1);
        s.data = pattern(6 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(0xA0 + i));
        out.push_back(s);
    }
    return out;
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return out;
}

Bytes build(const Object& o) {
    const std::size_t opt_len = o.opt ? 28 : 0;
    const std::size_t table_at = 22 + opt_len;
    std::size_t data_at = table_at + 48 * o.sections.size();
    Bytes out(data_at, 0);

    put16(out, 0, o.version);
    put16(out, 2, o.num_sect.value_or(static_cast<std::uint16_t>(o.sections.size())));
    put32(out, 4, o.time_stamp);
    put32(out, 8, o.sym_ptr);
    put32(out, 12, o.num_syms);
    put16(out, 16, o.opt ? o.opt_size : 0);
    put16(out, 18, o.file_flags);
    put16(out, 20, o.target_id);
    if (o.opt) {
        const OptFields& p = *o.opt;
        put16(out, 22, p.magic);
        put16(out, 24, p.version);
        put32(out, 26, p.code_size);
        put32(out, 30, p.data_size);
        put32(out, 34, p.bss_size);
        put32(out, 38, p.entry);
        put32(out, 42, p.code_addr);
        put32(out, 46, p.data_addr);
    }

    Bytes strings(4, 0);
    for (const std::string& text : o.strings) {
        strings.insert(strings.end(), text.begin(), text.end());
        strings.push_back(0);
    }
    bool has_strings = o.string_table;
    for (std::size_t i = 0; i < o.sections.size(); ++i) {
        const Section& s = o.sections[i];
        const std::size_t h = table_at + 48 * i;
        if (s.name.size() > 8) {
            has_strings = true;
            put32(out, h + 4, static_cast<std::int32_t>(strings.size()));
            strings.insert(strings.end(), s.name.begin(), s.name.end());
            strings.push_back(0);
        } else {
            for (std::size_t k = 0; k < s.name.size(); ++k)
                out[h + k] = static_cast<std::uint8_t>(s.name[k]);
        }
        if (s.name_offset) {
            put32(out, h, 0);
            put32(out, h + 4, static_cast<std::int32_t>(*s.name_offset));
        }
        std::int32_t ptr = 0;
        if (!s.data.empty()) {
            ptr = static_cast<std::int32_t>(data_at);
            out.insert(out.end(), s.data.begin(), s.data.end());
            data_at += s.data.size();
        }
        put32(out, h + 8, s.phy);
        put32(out, h + 12, s.virt);
        put32(out, h + 16, s.size.value_or(static_cast<std::int32_t>(s.data.size())));
        put32(out, h + 20, s.file_ptr.value_or(ptr));
        put32(out, h + 24, s.reloc_ptr);
        put32(out, h + 28, s.line_ptr);
        put32(out, h + 32, s.num_reloc);
        put32(out, h + 36, s.num_line);
        put32(out, h + 40, s.flags);
        put16(out, h + 44, s.reserved);
        put16(out, h + 46, s.mem_page);
    }
    if (has_strings) {
        if (o.sym_ptr == 0)
            put32(out, 8, static_cast<std::int32_t>(out.size()));
        out.resize(out.size() + 18 * static_cast<std::size_t>(std::max(0, o.num_syms)), 0);
        put32(strings, 0,
              static_cast<std::int32_t>(
                  o.string_table_size.value_or(static_cast<std::uint32_t>(strings.size()))));
        out.insert(out.end(), strings.begin(), strings.end());
    }
    if (o.cut_at && *o.cut_at < out.size())
        out.resize(*o.cut_at);
    return out;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::FILE* fp = std::fopen(path.c_str(), "wb");
    if (fp == nullptr)
        throw std::runtime_error("cannot create " + path);
    // An empty vector may have no storage, and fwrite takes no null buffer.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    if (std::fclose(fp) != 0 || !ok)
        throw std::runtime_error("cannot write " + path);
}

void write_config_naming(const std::string& ini_path, const std::string& object_path,
                         const char* eol) {
    std::string name = object_path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const std::string ini = std::string("[CONFIG]") + eol + "COFF_FILE=" + name + eol;
    write_file(ini_path, Bytes(ini.begin(), ini.end()));
}

Bytes read_file(const std::string& path) {
    std::FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        throw std::runtime_error("cannot open " + path);
    Bytes out;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
        out.insert(out.end(), chunk, chunk + n);
    std::fclose(fp);
    return out;
}

Object example_object() {
    Object o;
    o.opt = OptFields{.magic = 0x108,
                      .version = 0x5C,
                      .code_size = 0x1F3,
                      .data_size = 0x4D,
                      .bss_size = 0x200,
                      .entry = 0x3F0040,
                      .code_addr = 0x3F0000,
                      .data_addr = 0x8000};
    // Sections 0 to 4 never become load records, so a working object keeps them free of
    // data the target needs: here tables in copy sections, which the image never carries.
    o.sections = {
        {.name = ".vectors",
         .data = pattern(8, 0x10),
         .phy = 0x3FFFC0,
         .virt = 0x3FFFC0,
         .flags = 0x10},
        {.name = ".cinit",
         .data = pattern(14, 0x20),
         .phy = 0x3F8000,
         .virt = 0x3F8000,
         .flags = 0x10},
        {.name = ".boot_L", .data = pattern(37, 0x30), .phy = 0x0, .virt = 0x0, .flags = 0x20},
        {.name = ".switch", .data = {}, .phy = 0x3F8100, .virt = 0x3F8100, .flags = 0x40},
        {.name = ".econst",
         .data = pattern(10, 0x40),
         .phy = 0x3F8200,
         .virt = 0x3F8200,
         .flags = 0x10},
        {.name = ".text",
         .data = pattern(0x1F3, 0x50),
         .phy = 0x3F0000,
         .virt = 0x3F0000,
         .flags = 0x20},
        {.name = ".data",
         .data = pattern(0x4D, 0x60),
         .phy = 0x8000,
         .virt = 0x8000,
         .flags = 0x40},
        {.name = ".ebss", .phy = 0x8400, .virt = 0x8400, .flags = 0x80, .size = 0x200},
        {.name = ".reset",
         .data = pattern(4, 0x70),
         .phy = 0x3FFFC0,
         .virt = 0x3FFFC0,
         .flags = 0x10},
        {.name = "", .data = pattern(0x21, 0x80), .phy = 0x9000, .virt = 0x9000, .flags = 0x40},
        {.name = ".ramfunc",
         .data = pattern(0x40, 0x90),
         .phy = 0x3F1000,
         .virt = 0x9100,
         .flags = 0x20},
    };
    return o;
}

Object full_table_object() {
    Object o = example_object();
    o.sections.resize(5);
    o.sections[3].data = pattern(6, 0x70); // a leading section with data: left out
    o.sections[3].flags = 0x20;
    o.sections.push_back({.name = "<script>alert(\"&'\")</script>\xE9\xFF",
                          .data = pattern(3, 0x71),
                          .virt = 0x100});
    for (unsigned i = static_cast<unsigned>(o.sections.size()); i < 2048; ++i) {
        Section s{.name = ".sect_" + std::to_string(i) + "_data",
                  .data = pattern(1 + (i * 37) % 300, static_cast<std::uint8_t>(i)),
                  .virt = static_cast<std::int32_t>(0x10000 + i * 0x200),
                  .mem_page = static_cast<std::uint16_t>(i % 2)};
        s.phy = s.virt;
        if (i % 97 == 0)
            s.virt -= 0x300; // lands on the section before it on its page
        if (i % 13 == 0)
            s.flags = 0x10;
        else if (i % 29 == 0)
            s.flags = 0x01;
        else if (i % 31 == 0)
            s = Section{.name = ".bss_" + std::to_string(i),
                        .virt = s.virt,
                        .flags = 0x80,
                        .size = 0x40,
                        .mem_page = 1};
        else if (i % 211 == 0)
            s.data.clear();
        o.sections.push_back(std::move(s));
    }
    return o;
}

} // namespace coffgen
