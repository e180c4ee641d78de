// Writes the fuzz targets' seed corpora, one directory per target, so that mutation
// starts from inputs each decoder takes apart rather than from bytes it rejects at once:
// - convert/: well-formed objects that reach every branch of a conversion, and damaged
//   ones that reach each refusal;
// - image/: the images the converter makes of those objects, and damaged copies that
//   reach each fault of the reader;
// - profile/: profile files in each encoding and with each rule of the reader.
#include "base/failure.h"
#include "image/efw_sink.h"
#include "image/image_passes.h"
#include "run/run_sequence.h"
#include "tools/coff_builder.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
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

// The image the converter makes of `object`; empty when it refuses the object.
coffgen::Bytes image_of(const coffgen::Bytes& object) {
    std::FILE* in_fp = std::tmpfile();
    std::FILE* out_fp = std::tmpfile();
    if (in_fp == nullptr || out_fp == nullptr)
        throw std::runtime_error("cannot create a scratch file");
    std::fwrite(object.data(), 1, object.size(), in_fp);
    std::rewind(in_fp);
    InputFile in;
    in.fp = in_fp; // closed with `in`
    in.size = object.size();
    in.path = "seed.out";
    StreamSink out(out_fp, "seed.efw");
    coffgen::Bytes image;
    try {
        convert(in, out, nullptr);
        std::fflush(out_fp);
        std::rewind(out_fp);
        int c;
        while ((c = std::fgetc(out_fp)) != EOF)
            image.push_back(static_cast<std::uint8_t>(c));
    } catch (const Failure&) {
        image.clear();
    }
    std::fclose(out_fp);
    return image;
}

std::vector<std::pair<std::string, std::string>> profiles() {
    const std::string plain = "[CONFIG]\nCOFF_FILE=app.out\n";
    std::string utf16le = "\xFF\xFE";
    std::string utf16be = "\xFE\xFF";
    for (const char c : plain) {
        utf16le += std::string{c, '\0'};
        utf16be += std::string{'\0', c};
    }
    return {
        {"plain", plain},
        {"crlf", "[CONFIG]\r\nCOFF_FILE=app.out\r\n"},
        {"cr-only", "[OTHER]\rCOFF_FILE=no\r[CONFIG]\rCOFF_FILE=app.out\r"},
        {"blanks-and-quotes", "  [ config ]  \n\t coff_file \t= \" app file.out \" \n"},
        {"comments", "; COFF_FILE=no\n# x\n[CONFIG]\n;COFF_FILE=no\nCOFF_FILE=yes\n"},
        {"sections", "[OTHER]\nCOFF_FILE=a\n[CONFIG]\nX=1\n[CONFIG]\nCOFF_FILE=b\n"},
        {"odd-lines", "[CONFIG\n[CONFIG]] x\nCOFF_FILE\nCOFF_FILE=a=b.out\n"},
        {"nul", std::string("[CONFIG\0x]\nCOFF_FILE\0y=in.out\0z\n", 31)},
        {"control-blanks", "[CONFIG]\n\vCOFF_FILE\f=\x1A"
                           "app.out\x1A\v\n"},
        {"utf8-bom", "\xEF\xBB\xBF[CONFIG]\nCOFF_FILE=\xED\x95\x9C.out\n"},
        {"utf8-bom-bad", "\xEF\xBB\xBF[CONFIG]\nCOFF_FILE=\xC0\xAF\xED\xA0\x80\xF4\x90.out\n"},
        {"utf16le", utf16le},
        {"utf16be", utf16be},
        {"utf16le-odd", utf16le + "x"},
        {"long-line", "[CONFIG]\nX=" + std::string(5000, 'x') + "\nCOFF_FILE=app.out\n"},
        {"across-pieces", std::string(16380, ';') + "\n[CONFIG]\nCOFF_FILE=app.out\n"},
        {"empty", ""},
    };
}

void write_bytes(const std::string& path, const std::string& text) {
    coffgen::write_file(path, coffgen::Bytes(text.begin(), text.end()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds DIRECTORY\n");
        return 2;
    }
    try {
        const std::string dir = argv[1];
        for (const char* sub : {"/convert", "/image", "/profile"})
            std::filesystem::create_directories(dir + sub);
        for (const auto& [name, object] : seeds()) {
            const coffgen::Bytes bytes = coffgen::build(object);
            coffgen::write_file(dir + "/convert/" + name + ".out", bytes);
            coffgen::Bytes image = image_of(bytes);
            if (image.empty())
                continue;
            coffgen::write_file(dir + "/image/" + name + ".efw", image);
            // Damaged copies: cut inside the last record, a boot unit's high byte set, a
            // terminator that is not the end.
            coffgen::Bytes cut(image.begin(), image.end() - 9);
            coffgen::write_file(dir + "/image/" + name + "-cut.efw", cut);
            coffgen::Bytes high = image;
            high[1] = 0x5A;
            coffgen::write_file(dir + "/image/" + name + "-high-byte.efw", high);
            image.insert(image.end(), {0, 0, 0});
            coffgen::write_file(dir + "/image/" + name + "-trailing.efw", image);
        }
        for (const auto& [name, text] : profiles())
            write_bytes(dir + "/profile/" + name + ".ini", text);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
