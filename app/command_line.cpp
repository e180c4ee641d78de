#include "app/command_line.h"

#include <cstring>
#include <string_view>

namespace {

// One option: its spellings, what it sets and its line in the usage text. An option sets
// either a flag or a value; a value comes attached (-oFILE, --output=FILE) or as the next
// argument.
struct OptionRow {
    char short_name;            // '\0' when it has none
    const char* long_name;      // without the leading "--"
    const char* whole_spelling; // one more spelling taken as a whole argument, or null
    bool CommandLine::*flag;
    const char* CommandLine::*value;
    bool ends_reading; // answered at once, whatever follows
    const char* help;
    const char* value_name = "FILE"; // in the usage text
};

constexpr OptionRow kOptions[] = {
    {'o', "output", nullptr, nullptr, &CommandLine::output, false,
     "write the image to FILE instead"},
    {'O', "format", nullptr, nullptr, &CommandLine::format, false,
     "write the image as efw (the default), ihex or srec", "FORMAT"},
    {'\0', "base", nullptr, nullptr, &CommandLine::base, false,
     "place ihex and srec bytes from ADDR (default 0x90000000)", "ADDR"},
    {'\0', "map", nullptr, nullptr, &CommandLine::map, false,
     "also write a JSON map of the run to FILE"},
    {'\0', "config", nullptr, nullptr, &CommandLine::config, false,
     "read the input's name from the profile FILE"},
    {'q', "quiet", nullptr, &CommandLine::quiet, nullptr, false,
     "print nothing on standard output"},
    {'\0', "strict", nullptr, &CommandLine::strict, nullptr, false,
     "treat every warning as an error"},
    {'h', "help", "/?", &CommandLine::help, nullptr, true, "show this text"},
    {'\0', "version", nullptr, &CommandLine::version, nullptr, true, "show the version"},
};

std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text);
    out += '\'';
    return out;
}

const OptionRow* find_option(std::string_view long_name, char short_name, const char* whole) {
    for (const OptionRow& row : kOptions) {
        if ((short_name != '\0' && row.short_name == short_name) ||
            (!long_name.empty() && long_name == row.long_name) ||
            (whole != nullptr && row.whole_spelling != nullptr &&
             std::strcmp(whole, row.whole_spelling) == 0))
            return &row;
    }
    return nullptr;
}

// Applies `row`, spelled `spelled` by the user. `attached` is a value written into the
// same argument (null when none); a value option without one takes the next argument.
std::string apply(const OptionRow& row, const std::string& spelled, const char* attached, int argc,
                  char** argv, int& i, CommandLine& line) {
    if (row.flag != nullptr) {
        if (attached != nullptr)
            return "option " + quoted(spelled) + " takes no value";
        line.*row.flag = true;
        return {};
    }
    const char* value = attached != nullptr ? attached : i + 1 < argc ? argv[++i] : nullptr;
    if (value == nullptr || *value == '\0')
        return "option " + quoted(spelled) + " needs a value";
    if (line.*row.value != nullptr)
        return "option " + quoted(spelled) + " given twice";
    line.*row.value = value;
    return {};
}

} // namespace

std::string read_command_line(int argc, char** argv, CommandLine& line) {
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const OptionRow* row = nullptr; // the last option this argument applied
        std::string error;
        if (!options_ended && std::strcmp(arg, "--") == 0) {
            options_ended = true;
            continue;
        }
        if (!options_ended && (row = find_option({}, '\0', arg)) != nullptr) {
            error = apply(*row, arg, nullptr, argc, argv, i, line);
        } else if (!options_ended && arg[0] == '-' && arg[1] == '-') {
            const char* equals = std::strchr(arg, '=');
            const std::string spelled(arg, equals != nullptr ? equals : arg + std::strlen(arg));
            row = find_option(std::string_view(spelled).substr(2), '\0', nullptr);
            if (row == nullptr)
                return "unknown option " + quoted(spelled);
            const char* attached = equals != nullptr ? equals + 1 : nullptr;
            error = apply(*row, spelled, attached, argc, argv, i, line);
        } else if (!options_ended && arg[0] == '-' && arg[1] != '\0') {
            // A cluster of short options (-qo FILE); a value option takes the rest of it.
            for (const char* c = arg + 1; *c != '\0' && error.empty(); ++c) {
                const std::string spelled = std::string("-") + *c;
                row = find_option({}, *c, nullptr);
                if (row == nullptr)
                    return "unknown option " + quoted(spelled);
                const char* rest = row->value != nullptr && c[1] != '\0' ? c + 1 : nullptr;
                error = apply(*row, spelled, rest, argc, argv, i, line);
                if (row->ends_reading || rest != nullptr)
                    break;
            }
        } else {
            if (line.input != nullptr)
                return "more than one input: " + quoted(line.input) + " and " + quoted(arg);
            line.input = arg;
            continue;
        }
        if (!error.empty())
            return error;
        if (row->ends_reading)
            return {};
    }
    if (line.input != nullptr && line.config != nullptr)
        return "an input and --config cannot be given together";
    return {};
}

void print_option_lines(std::FILE* out) {
    for (const OptionRow& row : kOptions) {
        std::string spellings =
            row.short_name != '\0' ? std::string("-") + row.short_name + ", " : std::string("    ");
        spellings += std::string("--") + row.long_name;
        if (row.whole_spelling != nullptr)
            spellings += std::string(", ") + row.whole_spelling;
        if (row.value != nullptr)
            spellings += std::string(" ") + row.value_name;
        std::fprintf(out, "  %-20s%s\n", spellings.c_str(), row.help);
    }
}
