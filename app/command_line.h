// The command line of coff2efw, read the GNU way from one table of options.
#pragma once

#include <cstdio>
#include <string>

// What the arguments ask for; null and false where they say nothing.
struct CommandLine {
    const char* input = nullptr;
    const char* output = nullptr;
    const char* config = nullptr;
    const char* format = nullptr; // as given; main checks it
    const char* base = nullptr;
    const char* map = nullptr;
    bool quiet = false;
    bool strict = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after argument zero into `line`. Returns empty text, or what is
// wrong with them. --help and --version end the reading where they stand, so they are
// answered whatever follows them.
std::string read_command_line(int argc, char** argv, CommandLine& line);

// The option lines of the usage text, one per row of the table.
void print_option_lines(std::FILE* out);
