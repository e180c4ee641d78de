#include "app/command_line.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

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

constexpr OptionRow kConverterRows[] = {
    {'o', "output", nullptr, nullptr, &CommandLine::output, "FILE", false,
     "write the image to FILE instead"},
    {'O', "format", nullptr, nullptr, &CommandLine::format, "FORMAT", false,
     "write the image as efw (the default), ihex or srec"},
    {'\0', "base", nullptr, nullptr, &CommandLine::base, "ADDR", false,
     "place ihex and srec bytes from ADDR (default 0x90000000)"},
    {'\0', "map", nullptr, nullptr, &CommandLine::map, "FILE", false,
     "also write a JSON map of the run to FILE"},
    {'\0', "config", nullptr, nullptr, &CommandLine::config, "FILE", false,
     "read the input's name from the profile FILE"},
    {'q', "quiet", nullptr, &CommandLine::quiet, nullptr, nullptr, false,
     "print nothing on standard output"},
    {'\0', "strict", nullptr, nullptr, nullptr, nullptr, false,
     "treat every warning as an error (-Werror)", take_strict},
    {'W', "", nullptr, nullptr, nullptr, "no-NAME", false,
     "silence the warning NAME (-WNAME: tell it again)", take_warning, true},
    {'\0', "max-size", nullptr, nullptr, nullptr, "SIZE", false,
     "refuse an image of more than SIZE bytes (0x for hex, K, M)", take_max_size},
    {'h', "help", "/?", &CommandLine::help, nullptr, nullptr, true, "show this text"},
    {'\0', "version", nullptr, &CommandLine::version, nullptr, nullptr, true, "show the version"},
};

constexpr OptionRow kDumpRows[] = {
    {'\0', "against", nullptr, nullptr, &CommandLine::against, "OBJECT", false,
     "compare IMAGE with the image converted from OBJECT"},
    {'\0', "diff", nullptr, nullptr, &CommandLine::diff, "OLD", false,
     "compare the image OLD with IMAGE by their structure"},
    {'\0', "base", nullptr, nullptr, &CommandLine::base, "ADDR", false,
     "read Intel HEX and S-records from ADDR (default 0x90000000)"},
    {'\0', "data", nullptr, &CommandLine::data, nullptr, nullptr, false,
     "also print each record's bytes as a hex dump"},
    {'\0', "json", nullptr, &CommandLine::json, nullptr, nullptr, false,
     "describe IMAGE as JSON instead of listing it"},
    {'h', "help", "/?", &CommandLine::help, nullptr, nullptr, true, "show this text"},
    {'\0', "version", nullptr, &CommandLine::version, nullptr, nullptr, true, "show the version"},
};

const OptionRow* find_short(const OptionTable& table, char name) {
    for (std::size_t k = 0; k < table.count; ++k) {
        if (table.rows[k].short_name == name)
            return &table.rows[k];
    }
    return nullptr;
}

const OptionRow* find_whole(const OptionTable& table, const char* arg) {
    for (std::size_t k = 0; k < table.count; ++k) {
        const char* whole = table.rows[k].whole_spelling;
        if (whole != nullptr && std::strcmp(arg, whole) == 0)
            return &table.rows[k];
    }
    return nullptr;
}

// The row whose long name is `name`, or else the one row it is a prefix of. Null with
// `error` set when there is none or more than one; the message names them as getopt does.
const OptionRow* find_long(const OptionTable& table, std::string_view name, std::string& error) {
    const OptionRow* found = nullptr;
    std::size_t matches = 0;
    for (std::size_t k = 0; k < table.count && !name.empty(); ++k) {
        const std::string_view long_name = table.rows[k].long_name;
        if (long_name == name)
            return &table.rows[k];
        if (long_name.substr(0, name.size()) == name) {
            found = &table.rows[k];
            ++matches;
        }
    }
    const std::string spelled = "--" + std::string(name);
    if (matches == 0) {
        error = "unknown option " + quoted(spelled);
    } else if (matches > 1) {
        error = "option " + quoted(spelled) + " is ambiguous; possibilities:";
        for (std::size_t k = 0; k < table.count; ++k) {
            const std::string_view long_name = table.rows[k].long_name;
            if (long_name.substr(0, name.size()) == name) {
                error += " '--";
                error.append(long_name);
                error += '\'';
            }
        }
        return nullptr;
    }
    return found;
}

// Applies `row`, spelled `spelled` in messages. `attached` is a value written into the
// same argument (null when none); a value option without one takes the next argument.
bool takes_value(const OptionRow& row) {
    return row.each_use != nullptr ? row.value_name != nullptr : row.value != nullptr;
}

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

// "-o, --output FILE": how the usage text spells `row`.
std::string spellings(const OptionRow& row) {
    if (*row.long_name == '\0') // -Wno-NAME: the value is part of the option
        return std::string("-") + row.short_name + row.value_name;
    std::string text = row.short_name != '\0' ? std::string("-") + row.short_name + ", " : "    ";
    text += std::string("--") + row.long_name;
    if (row.whole_spelling != nullptr)
        text += std::string(", ") + row.whole_spelling;
    if (takes_value(row))
        text += std::string(" ") + row.value_name;
    return text;
}

// The other spellings of -W and the names it takes, under the help column.
void print_warning_lines(std::FILE* out, int column) {
    std::fprintf(out, "  %-*s  %s\n", column, "-Werror=NAME",
                 "make the warning NAME an error (-Wno-error=NAME: not)");
    std::fprintf(out, "  %-*s  %s\n", column, "-Werror",
                 "make every warning an error, as --strict does; of two");
    std::fprintf(out, "  %-*s  %s\n", column, "", "options on one warning the later wins");
    const std::string list = "NAME is one of " + warning_name_list();
    std::size_t from = 0;
    while (from < list.size()) {
        std::size_t end = list.size();
        if (end - from > 56)
            end = list.rfind(' ', from + 56);
        std::fprintf(out, "  %-*s  %.*s\n", column, "", static_cast<int>(end - from),
                     list.c_str() + from);
        from = end + 1;
    }
}

} // namespace

const OptionTable kConverterOptions = {kConverterRows, std::size(kConverterRows), "input"};
const OptionTable kDumpOptions = {kDumpRows, std::size(kDumpRows), "image"};

std::string read_command_line(const OptionTable& table, int argc, char** argv, CommandLine& line) {
    bool& options_ended = line.options_ended;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const OptionRow* row = nullptr; // the last option this argument applied
        std::string error;
        if (!options_ended && std::strcmp(arg, "--") == 0) {
            options_ended = true;
            continue;
        }
        if (!options_ended && (row = find_whole(table, arg)) != nullptr) {
            error = apply(*row, arg, nullptr, argc, argv, i, line);
        } else if (!options_ended && arg[0] == '-' && arg[1] == '-') {
            const char* equals = std::strchr(arg, '=');
            const std::size_t end =
                equals != nullptr ? static_cast<std::size_t>(equals - arg) : std::strlen(arg);
            const std::string_view name(arg + 2, end - 2);
            row = find_long(table, name, error);
            if (row == nullptr)
                return error;
            // Messages name the option in full, whatever prefix of it was typed.
            const char* attached = equals != nullptr ? equals + 1 : nullptr;
            error = apply(*row, std::string("--") + row->long_name, attached, argc, argv, i, line);
        } else if (!options_ended && arg[0] == '-' && arg[1] != '\0') {
            // A cluster of short options (-qo FILE); a value option takes the rest of it.
            for (const char* c = arg + 1; *c != '\0' && error.empty(); ++c) {
                const std::string spelled = std::string("-") + *c;
                row = find_short(table, *c);
                if (row == nullptr)
                    return "unknown option " + quoted(spelled);
                const char* rest = takes_value(*row) && c[1] != '\0' ? c + 1 : nullptr;
                error = apply(*row, spelled, rest, argc, argv, i, line);
                if (row->ends_reading || rest != nullptr)
                    break;
            }
        } else {
            if (line.input != nullptr)
                return "more than one " + std::string(table.operand) + ": " + quoted(line.input) +
                       " and " + quoted(arg);
            line.input = arg;
            continue;
        }
        if (!error.empty())
            return error;
        if (row->ends_reading)
            return {};
    }
    return {};
}

void print_option_lines(const OptionTable& table, std::FILE* out) {
    // The help texts start in one column, two spaces after the longest spellings.
    std::size_t width = 18;
    for (std::size_t k = 0; k < table.count; ++k)
        width = std::max(width, spellings(table.rows[k]).size());
    const int column = static_cast<int>(width);
    for (std::size_t k = 0; k < table.count; ++k) {
        std::fprintf(out, "  %-*s  %s\n", column, spellings(table.rows[k]).c_str(),
                     table.rows[k].help);
        if (table.rows[k].each_use == take_warning)
            print_warning_lines(out, column);
    }
    std::fprintf(out, "  %-*s  end the options: what follows is the %s\n", column, "--",
                 table.operand);
}
