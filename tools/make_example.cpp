// Writes the bundled example object (and, with a second argument, a config.ini naming
// it) so that a newcomer can see a whole run; with --full-table first, an object of the
// most sections a table holds, with every fate among them, for the report's checks.
#include "tools/coff_builder.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    const bool full = argc > 1 && std::string(argv[1]) == "--full-table";
    if (full) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_example [--full-table] OBJECT [CONFIG_INI]\n");
        return 2;
    }
    try {
        const coffgen::Object object =
            full ? coffgen::full_table_object() : coffgen::example_object();
        coffgen::write_file(argv[1], coffgen::build(object));
        if (argc > 2)
            coffgen::write_config_naming(argv[2], argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_example: %s\n", e.what());
        return 1;
    }
    return 0;
}
