// Writes the object that the Windows build converts under Wine, and a config.ini naming
// it. Bigger than the bundled example: its large section spans more than two of the
// converter's stream buffers, so that the Windows build refills the input and flushes the
// output in the middle of the load pass, and it passes through the copy buffer's
// 10000-byte pieces; a second boot section after it makes the input seek back and forth
// across buffered data.
#include "run/run_sequence.h"
#include "tools/coff_builder.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_wine_input OBJECT CONFIG_INI\n");
        return 2;
    }
    try {
        coffgen::Object o = coffgen::example_object();
        o.sections.push_back({.name = ".big",
                              .data = coffgen::pattern(2 * kOutputBufferSize + 10001, 0x0D),
                              .phy = 0x100000,
                              .virt = 0x100000,
                              .flags = 0x20});
        o.sections.push_back({.name = ".boot_L", .data = coffgen::pattern(21, 0x1A)});
        o.sections.push_back({.name = ".tail",
                              .data = coffgen::pattern(10000, 0x0A),
                              .phy = 0x200000,
                              .virt = 0x200000,
                              .flags = 0x40});
        coffgen::write_file(argv[1], coffgen::build(o));

        // Line ends as a Windows editor writes them.
        coffgen::write_config_naming(argv[2], argv[1], "\r\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_wine_input: %s\n", e.what());
        return 1;
    }
    return 0;
}
