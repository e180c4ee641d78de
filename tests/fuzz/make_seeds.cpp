// Writes the fuzz target's seed corpus: well-formed objects that reach every branch of a
// conversion, and damaged ones that reach each refusal, so that mutation starts from
// inputs the converter takes apart rather than from bytes it rejects at the first header.
#include "tools/coff_builder.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

using coffgen::Object;
using coffgen::pattern;
using coffgen::Section;

Object with_sections(std::vector<Section> rest) {
    Object o;
    o.sections = coffgen::leading_sections();
    o.sections.insert(o.sections.end(), rest.begin(), rest.end());
    return o;
}

std::vector<std::pair<std::string, Object>> seeds() {
    std::vector<std::pair<std::string, Object>> out;
    out.emplace_back("example", coffgen::example_object());

    Object no_opt = coffgen::example_object();
    no_opt.opt = std::nullopt;
    out.emplace_back("no-optional-header", no_opt);

    Object odd_opt = coffgen::example_object();
    odd_opt.opt_size = 0xFFFF;
    out.emplace_back("optional-header-size-ffff", odd_opt);

    Object empty;
    out.emplace_back("no-sections", empty);

    out.emplace_back("boot-only",
                     Object{.sections = {Section{.name = ".boot_L", .data = {0x11, 0x22, 0x33}}}});

    Object boots = with_sections({Section{.name = ".boot_L", .data = pattern(300, 1)},
                                  Section{.name = ".text", .data = pattern(5, 2), .virt = 0x40},
                                  Section{.name = ".boot_L", .data = pattern(200, 3)},
                                  Section{.name = ".data", .data = pattern(4, 4), .virt = 0x80}});
    out.emplace_back("boot-sections-between-records", boots);

    out.emplace_back("skipped-sections",
                     with_sections({Section{.name = ".a", .data = pattern(3, 5)},
                                    Section{.name = ".copy", .data = pattern(6, 6), .flags = 0x10},
                                    Section{.name = ".dummy", .data = pattern(7, 7), .flags = 0x01},
                                    Section{.name = ".bss", .flags = 0x80, .size = 0x100},
                                    Section{.name = ".noptr", .data = pattern(8, 8), .file_ptr = 0},
                                    Section{.name = ".neg", .data = pattern(8, 9), .size = -8},
                                    Section{.name = "", .data = pattern(9, 10), .virt = 0x1234}}));

    out.emplace_back("record-longer-than-the-copy-buffer",
                     with_sections({Section{.name = ".text", .data = pattern(10001, 11)}}));

    Object names = with_sections({Section{.name = std::string(8, '\xFF'), .data = pattern(5, 12)},
                                  Section{.name = ".boot_Lx", .data = pattern(4, 13)}});
    out.emplace_back("odd-names", names);

    Object many;
    many.opt = std::nullopt;
    for (int i = 0; i < 64; ++i)
        many.sections.push_back(
            Section{.name = ".s", .data = pattern(static_cast<std::size_t>(i % 7), 14)});
    out.emplace_back("many-sections", many);

    Object cut = coffgen::example_object();
    cut.cut_at = 22 + 28 + 48 * 3 + 20;
    out.emplace_back("section-table-cut", cut);

    Object past = coffgen::example_object();
    past.sections[6].size = 0x10000;
    out.emplace_back("data-past-the-end", past);

    out.emplace_back("boot-too-long",
                     Object{.sections = {Section{.name = ".boot_L", .data = pattern(1025, 15)}}});

    Object too_many;
    too_many.num_sect = 2049;
    out.emplace_back("too-many-sections", too_many);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    try {
        std::filesystem::create_directories(argv[1]);
        for (const auto& [name, object] : seeds())
            coffgen::write_file(std::string(argv[1]) + "/" + name + ".out", coffgen::build(object));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
