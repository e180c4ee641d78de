// Both programs' option parsers on arbitrary argument lists: the input split at NUL bytes
// into arguments. Whatever the arguments, the parser must return without a crash or a
// sanitizer report, and what it returns must hold together: an error has one of the
// parser's forms (it quotes the arguments as typed, control characters and all, as
// getopt does), a value is one of the arguments (or the rest of one), and a line it
// accepts reads the same again.
#include "app/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "command_line_fuzz: %s\n", what);
    std::abort();
}

// True when `p` points into one of the arguments, at its start or inside it.
bool within_arguments(const char* p, const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (p >= a.data() && p <= a.data() + a.size())
            return true;
    }
    return false;
}

void check(const OptionTable& table, std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());
    CommandLine line;
    const std::string error = read_command_line(table, argc, argv.data(), line);
    if (!error.empty() && error.rfind("unknown option '", 0) != 0 &&
        error.rfind("option '", 0) != 0 && error.rfind("more than one ", 0) != 0 &&
        error.rfind("unknown warning option '", 0) != 0 && error.rfind("invalid size '", 0) != 0 &&
        error.rfind("invalid argument '", 0) != 0 && error.rfind("empty option name in '", 0) != 0)
        broken("an error of no form the parser has");
    for (const char* value : {line.input, line.output, line.config, line.against, line.map}) {
        if (value != nullptr && !within_arguments(value, args))
            broken("a value that is none of the arguments");
    }
    for (const char* value : {line.output, line.config, line.against, line.map}) {
        if (value != nullptr && *value == '\0')
            broken("an empty value taken");
    }
    if (!error.empty())
        return;
    // A second reading of an accepted line must give the same.
    CommandLine again;
    if (!read_command_line(table, argc, argv.data(), again).empty() || again.input != line.input ||
        again.output != line.output || again.config != line.config ||
        again.against != line.against || again.quiet != line.quiet ||
        again.warnings.strict != line.warnings.strict || again.max_size != line.max_size ||
        again.format != line.format || again.base != line.base || again.map != line.map ||
        again.record_bytes != line.record_bytes || again.srec_address != line.srec_address ||
        again.srec_count != line.srec_count || again.line_end != line.line_end ||
        again.pad_to != line.pad_to || again.fill != line.fill || again.json != line.json ||
        again.data != line.data || again.help != line.help || again.version != line.version)
        broken("two readings of one line differ");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"prog"};
    std::string current;
    for (std::size_t k = 0; k < size && args.size() < 64; ++k) {
        if (data[k] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[k]);
        }
    }
    args.push_back(current);
    check(kConverterOptions, args);
    check(kDumpOptions, args);
    return 0;
}
