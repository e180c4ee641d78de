// Writes COFF objects for the target from a compact description, with deliberate damage
// where a test wants it. Every test, the bundled example, the benchmark and the fuzz
// seeds make their objects here, so one encoder (independent of the converter's
// decoder) defines what a well-formed object is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace coffgen {

using Bytes = std::vector<std::uint8_t>;

struct Section {
    // Raw name bytes; up to 8 in the header, zero-padded; empty for an unnamed section. A
    // longer name goes into the string table, the header holding four zero bytes and its
    // offset there, as linkers write it.
    std::string name;
    std::optional<std::uint32_t> name_offset; // damage: four zero bytes and this offset
    Bytes data; // placed after the header table unless file_ptr says otherwise
    std::int32_t phy = 0;
    std::int32_t virt = 0;
    std::int32_t flags = 0x20;
    std::optional<std::int32_t> size;     // default: data.size()
    std::optional<std::int32_t> file_ptr; // default: where data lands (0 without data)
    std::int32_t reloc_ptr = 0;
    std::int32_t line_ptr = 0;
    std::int32_t num_reloc = 0;
    std::int32_t num_line = 0;
    std::uint16_t reserved = 0;
    std::uint16_t mem_page = 0;
};

struct OptFields {
    std::uint16_t magic = 0x108;
    std::uint16_t version = 0x5C;
    std::int32_t code_size = 0;
    std::int32_t data_size = 0;
    std::int32_t bss_size = 0;
    std::int32_t entry = 0;
    std::int32_t code_addr = 0;
    std::int32_t data_addr = 0;
};

struct Object {
    std::uint16_t version = 0xC2;
    std::int32_t time_stamp = 0x5F3A1C20;
    std::int32_t sym_ptr = 0;
    std::int32_t num_syms = 0;
    std::uint16_t file_flags = 0x0103;
    std::uint16_t target_id = 0x0099; // byte-addressed: SectSize counts bytes, as the image does
    std::optional<OptFields> opt = OptFields{}; // nullopt: no optional header
    std::uint16_t opt_size = 28;                // usOptHeadSize when opt is present
    std::optional<std::uint16_t> num_sect;      // declared count; default sections.size()
    std::vector<Section> sections;
    // Behind the section data, when a name is longer than eight bytes or `string_table` is
    // set: `num_syms` symbol entries of 18 zero bytes (sym_ptr, unless set, says where),
    // then the string table: its size word, `strings` (as symbol names would stand there)
    // and the long names, each ended by a zero byte.
    bool string_table = false;
    std::vector<std::string> strings;
    std::optional<std::uint32_t> string_table_size; // damage: the declared size word
    std::optional<std::size_t> cut_at;              // damage: keep only this many bytes of the file
};

// Sections 0 to 4 never become load records; these stand in front of real ones.
std::vector<Section> leading_sections(int count = 5);

// Deterministic filler data: `n` bytes that differ from section to section by `seed`.
Bytes pattern(std::size_t n, std::uint8_t seed);

Bytes build(const Object& object);
void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);

// Writes a config.ini at `ini_path` whose COFF_FILE names the file of `object_path`
// (its name alone, as it lies beside the converter), lines ended by `eol`.
void write_config_naming(const std::string& ini_path, const std::string& object_path,
                         const char* eol = "\n");

// A realistic small object: optional header, boot section, five leading sections, code
// and data of odd sizes, an uninitialised section, a copy section and an unnamed one.
Object example_object();

// The most sections a table holds (2048), with every fate among them: a leading section
// that would carry data, a boot section, records on two pages (some overlapping, some
// only a few bytes), copy, dummy, empty and uninitialised sections, and long names that
// live in the string table, one of them full of markup and bytes that are not UTF-8.
Object full_table_object();

} // namespace coffgen
