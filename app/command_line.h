// The command lines of both programs, read the GNU way, each from its own fixed table of
// options by the one parser below.
#pragma once

#include "base/warnings.h"
#include "image/image_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// What the arguments ask for; null, false and empty where they say nothing. One record
// serves both programs: each one's table names only the members it has options for.
// Values are read into their types by the option table, so a value that is no number,
// format or size is a usage error there.
struct CommandLine {
    const char* input = nullptr;   // the one operand: coff2efw's object, efwdump's image
    const char* output = nullptr;  // coff2efw -o
    const char* config = nullptr;  // coff2efw --config
    const char* map = nullptr;     // coff2efw --map
    const char* against = nullptr; // efwdump --against
    const char* report = nullptr;  // --report, both programs
    const char* diff = nullptr;    // efwdump --diff: the older image
    bool quiet = false;
    Warnings warnings;                          // coff2efw -W and --strict, applied in their order
    std::optional<ImageFormat> format;          // coff2efw -O
    std::optional<std::uint32_t> base;          // coff2efw and efwdump --base
    std::optional<std::uint64_t> max_size;      // coff2efw --max-size
    std::optional<unsigned> record_bytes;       // coff2efw --record-bytes
    std::optional<SRecordAddress> srec_address; // coff2efw --srec-address
    bool srec_count = false;                    // coff2efw --srec-count
    std::optional<LineEnd> line_end;            // coff2efw --line-end
    std::optional<std::uint64_t> pad_to;        // --pad-to, both programs
    std::optional<unsigned char> fill;          // --fill, both programs
    bool data = false;                          // efwdump --data
    bool json = false;                          // efwdump --json
    bool sections = false;                      // coff2efw --sections
    bool dry_run = false;                       // coff2efw -n
    bool help = false;
    bool version = false;
    bool options_ended = false; // "--" was given: the user knows how options are written
};

// One option: its spellings, what it sets and its line in the usage text. An option sets
// either a flag or a value; a value comes attached (-oFILE, --output=FILE) or as the next
// argument.
struct OptionRow {
    char short_name;            // '\0' when it has none
    const char* long_name;      // without the leading "--"
    const char* whole_spelling; // one more spelling taken as a whole argument, or null
    bool CommandLine::*flag;
    const char* CommandLine::*value;
    const char* value_name; // the value's name in the usage text
    bool ends_reading;      // answered at once, whatever follows
    const char* help;
    // Instead of `flag` and `value`: an option read by a function of its own, handed its
    // value (null when `value_name` is null): one whose every use counts, in order, as the
    // warning settings do (the last of two that conflict wins), or one whose value it
    // reads into its type, refusing a second. Returns what is wrong with it.
    std::string (*each_use)(CommandLine& line, const std::string& spelled,
                            const char* value) = nullptr;
    bool attached_only = false; // the value comes in the same argument (-Wno-left-out)
};

// A program's options and what its one operand is called in messages ("input").
struct OptionTable {
    const OptionRow* rows;
    std::size_t count;
    const char* operand;
};

extern const OptionTable kConverterOptions; // coff2efw's
extern const OptionTable kDumpOptions;      // efwdump's

// Reads the arguments after argument zero into `line`. Returns empty text, or what is
// wrong with them. --help and --version end the reading where they stand, so they are
// answered whatever follows them.
//
// A long option may be shortened to any prefix that no other long option of the table
// shares (--outp=x.efw); a name spelled out in full is taken even where it is also the
// prefix of another. After "--" every argument is the operand.
std::string read_command_line(const OptionTable& table, int argc, char** argv, CommandLine& line);

// The option lines of the usage text, one per row of the table.
void print_option_lines(const OptionTable& table, std::FILE* out);
