#include "app/command_line.h"

#include "base/failure.h"
#include "base/numbers.h"
#include "image/rom_image.h"
#include "text/spelling.h"

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

std::string did_you_mean(std::string_view spelled) {
    return "; did you mean " + quoted(spelled) + "?";
}

std::string take_warning(CommandLine& line, const std::string& spelled, const char* value) {
    if (apply_warning_option(line.warnings, value))
        return {};
    // The name after the prefixes that apply_warning_option takes, compared alone.
    std::string_view name = value;
    std::size_t prefix = 0;
    bool error_prefix = false;
    for (const std::string_view p : {"no-", "error="}) {
        if (name.substr(prefix, p.size()) == p) {
            prefix += p.size();
            error_prefix = p == "error=";
        }
    }
    name.remove_prefix(prefix);
    std::string_view best;
    for (const char* known : kWarningNames)
        consider_spelling(name, known, best);
    if (!error_prefix) // -Werror and -Wno-error themselves
        consider_spelling(name, "error", best);
    const std::string unknown = "unknown warning option " + quoted(spelled + value);
    if (!best.empty())
        return unknown + did_you_mean(spelled + std::string(value, prefix) + std::string(best));
    return unknown + "; the warning names are " + warning_name_list();
}

std::string take_silence(CommandLine& line, const std::string&, const char*) {
    line.warnings.silenced = true;
    return {};
}

std::string twice(const std::string& spelled) {
    return "option " + quoted(spelled) + " given twice";
}

std::string invalid(const char* value, const char* option, const char* takes) {
    return "invalid argument " + quoted(value) + " for '--" + option + "' (" + takes + ")";
}

// One typed value into `slot`. Given twice, or a value `parse` does not read, is a usage
// error; `takes` says what the option takes.
template <class T, class Parse>
std::string take_once(std::optional<T>& slot, const std::string& spelled, const char* value,
                      Parse parse, const char* option, const char* takes) {
    T parsed{};
    if (slot)
        return twice(spelled);
    if (!parse(value, parsed))
        return invalid(value, option, takes);
    slot = parsed;
    return {};
}

std::string take_format(CommandLine& line, const std::string& spelled, const char* value) {
    return take_once(line.format, spelled, value, parse_image_format, "format",
                     "efw, ihex or srec");
}

std::string take_base(CommandLine& line, const std::string& spelled, const char* value) {
    return take_once(line.base, spelled, value, parse_address, "base",
                     "0x and hexadecimal digits, or decimal digits, up to 0xFFFFFFFF");
}

// --max-size and --pad-to: bytes, with the units coreutils' programs take.
std::string take_size(std::optional<std::uint64_t>& slot, const std::string& spelled,
                      const char* value) {
    std::uint64_t size = 0;
    if (slot)
        return twice(spelled);
    if (!parse_size(value, size)) {
        return "invalid size " + quoted(value) + " for " + quoted(spelled) +
               ": give bytes in decimal or 0x hexadecimal, optionally followed by K, KiB, KB, "
               "M, MiB, MB, G, GiB or GB";
    }
    slot = size;
    return {};
}

std::string take_max_size(CommandLine& line, const std::string& spelled, const char* value) {
    return take_size(line.max_size, spelled, value);
}

std::string take_pad_to(CommandLine& line, const std::string& spelled, const char* value) {
    std::string error = take_size(line.pad_to, spelled, value);
    if (error.empty() && *line.pad_to == 0)
        error = "invalid size " + quoted(value) + " for " + quoted(spelled) +
                ": no image is smaller than " + hex(kMinImageSize) + " bytes";
    return error;
}

std::string take_record_bytes(CommandLine& line, const std::string& spelled, const char* value) {
    const auto read = [](std::string_view text, unsigned& n) {
        std::uint64_t v = 0;
        const bool ok = parse_number(text, kMaxRecordBytes, v) && v != 0;
        n = static_cast<unsigned>(v);
        return ok;
    };
    return take_once(line.record_bytes, spelled, value, read, "record-bytes", "1 to 255");
}

std::string take_srec_address(CommandLine& line, const std::string& spelled, const char* value) {
    return take_once(line.srec_address, spelled, value, parse_srec_address, "srec-address",
                     "auto, 16, 24 or 32");
}

std::string take_line_end(CommandLine& line, const std::string& spelled, const char* value) {
    return take_once(line.line_end, spelled, value, parse_line_end, "line-end", "crlf or lf");
}

std::string take_fill(CommandLine& line, const std::string& spelled, const char* value) {
    const auto read = [](std::string_view text, unsigned char& byte) {
        std::uint64_t v = 0;
        const bool ok = parse_number(text, 0xFF, v);
        byte = static_cast<unsigned char>(v);
        return ok;
    };
    return take_once(line.fill, spelled, value, read, "fill", "a byte: 0 to 255, or 0x0 to 0xff");
}

constexpr OptionRow kConverterRows[] = {
    {'o', "output", nullptr, nullptr, &CommandLine::output, "FILE", false,
     "write the image to FILE instead"},
    {'O', "format", nullptr, nullptr, nullptr, "FORMAT", false,
     "write the image as efw (the default), ihex or srec", take_format},
    {'\0', "base", nullptr, nullptr, nullptr, "ADDR", false,
     "place ihex and srec bytes from ADDR (default 0x90000000)", take_base},
    {'\0', "record-bytes", nullptr, nullptr, nullptr, "N", false,
     "put at most N (1-255) data bytes on a line (default 32)", take_record_bytes},
    {'\0', "srec-address", nullptr, nullptr, nullptr, "WIDTH", false,
     "write srec addresses in 16, 24, 32 bits or auto (default 32)", take_srec_address},
    {'\0', "srec-count", nullptr, &CommandLine::srec_count, nullptr, nullptr, false,
     "add the S5 or S6 record counting the srec data records"},
    {'\0', "line-end", nullptr, nullptr, nullptr, "END", false,
     "end ihex and srec lines in crlf (the default) or lf", take_line_end},
    {'\0', "map", nullptr, nullptr, &CommandLine::map, "FILE", false,
     "also write a JSON map of the run to FILE"},
    {'\0', "report", nullptr, nullptr, &CommandLine::report, "FILE", false,
     "also write an HTML picture of the image and memory to FILE"},
    {'\0', "config", nullptr, nullptr, &CommandLine::config, "FILE", false,
     "read the input's name from the profile FILE"},
    {'\0', "sections", nullptr, &CommandLine::sections, nullptr, nullptr, false,
     "list every section and what became of it"},
    {'n', "dry-run", nullptr, &CommandLine::dry_run, nullptr, nullptr, false,
     "check the whole run but write nothing"},
    {'q', "quiet", nullptr, &CommandLine::quiet, nullptr, nullptr, false,
     "print nothing on standard output"},
    {'\0', "strict", nullptr, nullptr, nullptr, nullptr, false,
     "treat every warning as an error (-Werror)", take_strict},
    {'W', "", nullptr, nullptr, nullptr, "no-NAME", false,
     "silence the warning NAME (-WNAME: tell it again)", take_warning, true},
    {'w', "", nullptr, nullptr, nullptr, nullptr, false,
     "silence every warning not made an error by name", take_silence},
    {'\0', "max-size", nullptr, nullptr, nullptr, "SIZE", false,
     "refuse an image of more than SIZE bytes (0x for hex, K, KB, M...)", take_max_size},
    {'\0', "pad-to", nullptr, nullptr, nullptr, "SIZE", false,
     "fill the image behind its terminator up to SIZE bytes", take_pad_to},
    {'\0', "fill", nullptr, nullptr, nullptr, "BYTE", false, "fill with BYTE instead of 0xff",
     take_fill},
    {'h', "help", "/?", &CommandLine::help, nullptr, nullptr, true, "show this text"},
    {'\0', "version", nullptr, &CommandLine::version, nullptr, nullptr, true, "show the version"},
};

constexpr OptionRow kDumpRows[] = {
    {'\0', "against", nullptr, nullptr, &CommandLine::against, "OBJECT", false,
     "compare IMAGE with the image converted from OBJECT"},
    {'\0', "diff", nullptr, nullptr, &CommandLine::diff, "OLD", false,
     "compare the image OLD with IMAGE by their structure"},
    {'\0', "base", nullptr, nullptr, nullptr, "ADDR", false,
     "read Intel HEX and S-records from ADDR (default 0x90000000)", take_base},
    {'\0', "pad-to", nullptr, nullptr, nullptr, "SIZE", false,
     "with --against: the image was filled up to SIZE bytes", take_pad_to},
    {'\0', "fill", nullptr, nullptr, nullptr, "BYTE", false,
     "with --against: filled with BYTE instead of 0xff", take_fill},
    {'\0', "data", nullptr, &CommandLine::data, nullptr, nullptr, false,
     "also print each record's bytes as a hex dump"},
    {'\0', "json", nullptr, &CommandLine::json, nullptr, nullptr, false,
     "describe IMAGE as JSON instead of listing it"},
    {'\0', "report", nullptr, nullptr, &CommandLine::report, "FILE", false,
     "draw IMAGE as an HTML page in FILE instead of listing it"},
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
        std::string_view best;
        for (std::size_t k = 0; k < table.count && !name.empty(); ++k)
            consider_spelling(name, table.rows[k].long_name, best);
        if (!best.empty())
            error += did_you_mean("--" + std::string(best));
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
        return twice(spelled);
    line.*row.value = value;
    return {};
}

// "-o, --output FILE": how the usage text spells `row`.
std::string spellings(const OptionRow& row) {
    if (*row.long_name == '\0') // -w, or -Wno-NAME, whose value is part of the option
        return std::string("-") + row.short_name +
               (row.value_name != nullptr ? row.value_name : "");
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
    std::string list = "NAME is one of " + warning_name_list();
    for (std::size_t k = 0; k < kWarningNameCount; ++k) {
        if (kErrorByDefault[k])
            list += std::string("; ") + kWarningNames[k] + " is an error by default";
    }
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
            if (name.empty()) // "--=x": not the end of the options, and no option
                return "empty option name in " + quoted(arg);
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
