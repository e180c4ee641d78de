#include "app/command_line.h"

#include <cstring>
#include <string_view>

namespace {

// One option: its spellings, what it sets and its line in the usage text. An option sets
// either a flag or a value; a value comes attached (-oFILE, --output=FILE) or as the next
// argument.
struct OptionRow {
    char short_name;            // '\0' when it has none
    const char* long_name;      // without the leading "--"; empty when it has none
    const char* whole_spelling; // one more spelling taken as a whole argument, or null
    bool CommandLine::*flag;
    const char* CommandLine::*value;
    bool ends_reading; // answered at once, whatever follows
    const char* help;
    // Instead of `flag` and `value`: an option whose every use counts, in order, as the
    // warning settings do (the last of two that conflict wins). Handed its value, or null
    // when `value_name` is null; returns what is wrong with it.
    std::string (*each_use)(CommandLine& line, const std::string& spelled,
                            const char* value) = nullptr;
    const char* value_name = "FILE"; // in the usage text
    bool attached_only = false;      // the value comes in the same argument (-Wno-left-out)
};

std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text);
    out += '\'';
    return out;
}

std::string take_strict(CommandLine& line, const std::string&, const char*) {
    apply_warning_option(line.warnings, "error");
    return {};
}

std::string take_warning(CommandLine& line, const std::string& spelled, const char* value) {
    if (apply_warning_option(line.warnings, value))
        return {};
    return "unknown warning option " + quoted(spelled + value) + "; the warning names are " +
           warning_name_list();
}

// SIZE: decimal, or hexadecimal after "0x", times 1024 after K and 1024 * 1024 after M.
bool read_size(const char* text, std::uint64_t& size) {
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* p = hex ? text + 2 : text;
    const unsigned base = hex ? 16 : 10;
    std::uint64_t v = 0;
    const char* digits = p;
    for (;; ++p) {
        unsigned d;
        if (*p >= '0' && *p <= '9')
            d = static_cast<unsigned>(*p - '0');
        else if (hex && *p >= 'a' && *p <= 'f')
            d = static_cast<unsigned>(*p - 'a' + 10);
        else if (hex && *p >= 'A' && *p <= 'F')
            d = static_cast<unsigned>(*p - 'A' + 10);
        else
            break;
        if (v > (~std::uint64_t{0} - d) / base)
            return false;
        v = v * base + d;
    }
    if (p == digits)
        return false;
    unsigned shift = 0;
    if (*p == 'K' || *p == 'k')
        shift = 10;
    else if (*p == 'M' || *p == 'm')
        shift = 20;
    if (shift != 0 && (*++p != '\0' || v > (~std::uint64_t{0} >> shift)))
        return false;
    if (*p != '\0')
        return false;
    size = v << shift;
    return true;
}

std::string take_max_size(CommandLine& line, const std::string& spelled, const char* value) {
    if (read_size(value, line.max_size))
        return {};
    return "invalid size " + quoted(value) + " for " + quoted(spelled) +
           ": give bytes in decimal or 0x hexadecimal, or with K or M for KiB or MiB";
}

constexpr OptionRow kOptions[] = {
    {'o', "output", nullptr, nullptr, &CommandLine::output, false,
     "write the image to FILE instead"},
    {'\0', "config", nullptr, nullptr, &CommandLine::config, false,
     "read the input's name from the profile FILE"},
    {'q', "quiet", nullptr, &CommandLine::quiet, nullptr, false,
     "print nothing on standard output"},
    {'\0', "strict", nullptr, nullptr, nullptr, false, "treat every warning as an error (-Werror)",
     take_strict, nullptr},
    {'W', "", nullptr, nullptr, nullptr, false,
     "silence the warning NAME (-WNAME: tell it again)\n"
     "  -Werror=NAME        make the warning NAME an error (-Wno-error=NAME: not)\n"
     "  -Werror             make every warning an error, as --strict does;\n"
     "                      of two options on one warning the later wins",
     take_warning, "no-NAME", true},
    {'\0', "max-size", nullptr, nullptr, nullptr, false,
     "refuse an image of more than SIZE bytes (0x for hex, K, M)", take_max_size, "SIZE"},
    {'h', "help", "/?", &CommandLine::help, nullptr, true, "show this text"},
    {'\0', "version", nullptr, &CommandLine::version, nullptr, true, "show the version"},
};

bool takes_value(const OptionRow& row) {
    return row.each_use != nullptr ? row.value_name != nullptr : row.value != nullptr;
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
    if (!takes_value(row)) {
        if (attached != nullptr)
            return "option " + quoted(spelled) + " takes no value";
        if (row.each_use != nullptr)
            return row.each_use(line, spelled, nullptr);
        line.*row.flag = true;
        return {};
    }
    const char* value = attached != nullptr                  ? attached
                        : !row.attached_only && i + 1 < argc ? argv[++i]
                                                             : nullptr;
    if (value == nullptr || *value == '\0')
        return "option " + quoted(spelled) + " needs a value";
    if (row.each_use != nullptr)
        return row.each_use(line, spelled, value);
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
                const char* rest = takes_value(*row) && c[1] != '\0' ? c + 1 : nullptr;
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

namespace {

// "NAME is one of ...", the names wrapped under the help column.
void print_warning_names(std::FILE* out) {
    const std::string list = "NAME is one of " + warning_name_list();
    std::size_t from = 0;
    while (from < list.size()) {
        std::size_t end = list.size();
        if (end - from > 56)
            end = list.rfind(' ', from + 56);
        std::fprintf(out, "  %-20s%.*s\n", "", static_cast<int>(end - from), list.c_str() + from);
        from = end + 1;
    }
}

} // namespace

void print_option_lines(std::FILE* out) {
    for (const OptionRow& row : kOptions) {
        std::string spellings;
        if (*row.long_name == '\0') {
            spellings = std::string("-") + row.short_name + row.value_name;
        } else {
            spellings = row.short_name != '\0' ? std::string("-") + row.short_name + ", "
                                               : std::string("    ");
            spellings += std::string("--") + row.long_name;
            if (row.whole_spelling != nullptr)
                spellings += std::string(", ") + row.whole_spelling;
            if (takes_value(row))
                spellings += std::string(" ") + row.value_name;
        }
        std::fprintf(out, "  %-20s%s\n", spellings.c_str(), row.help);
        if (row.each_use == take_warning)
            print_warning_names(out);
    }
}
