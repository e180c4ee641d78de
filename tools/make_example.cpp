// Writes the bundled example object (and, with a second argument, a config.ini naming
// it) so that a newcomer can see a whole run.
#include "tools/coff_builder.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_example OBJECT [CONFIG_INI]\n");
        return 2;
    }
    try {
        coffgen::write_file(argv[1], coffgen::build(coffgen::example_object()));
        if (argc > 2)
            coffgen::write_config_naming(argv[2], argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_example: %s\n", e.what());
        return 1;
    }
    return 0;
}
