// The option parser on its own, with a table whose long names share prefixes, as neither
// program's does yet; and the reporter's statuses and hints.
#include "app/command_line.h"
#include "app/report.h"
#include "base/failure.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr OptionRow kRows[] = {
    {'o', "output", nullptr, nullptr, &CommandLine::output, "FILE", false, "output"},
    {'\0', "outline", nullptr, &CommandLine::data, nullptr, nullptr, false, "outline"},
    {'\0', "conf", nullptr, nullptr, &CommandLine::against, "FILE", false, "conf"},
    {'\0', "config", nullptr, nullptr, &CommandLine::config, "FILE", false, "config"},
    {'q', "quiet", nullptr, &CommandLine::quiet, nullptr, nullptr, false, "quiet"},
    {'h', "help", "/?", &CommandLine::help, nullptr, nullptr, true, "help"},
};
constexpr OptionTable kTable = {kRows, std::size(kRows), "input"};

// The arguments live as long as the line that points into them.
struct Read {
    std::vector<std::string> args;
    std::string error;
    CommandLine line;
};

Read read(const OptionTable& table, std::vector<std::string> args) {
    Read r;
    r.args = std::move(args);
    r.args.insert(r.args.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& a : r.args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    r.error = read_command_line(table, static_cast<int>(r.args.size()), argv.data(), r.line);
    return r;
}

std::string str(const char* s) {
    return s != nullptr ? s : "(null)";
}

TEST(CommandLine, ReadsTheGnuWay) {
    const struct {
        std::vector<std::string> args;
        std::string error;
        std::string input = "(null)", output = "(null)", config = "(null)", against = "(null)";
        bool quiet = false, data = false, help = false;
    } cases[] = {
        {{"--out=a"}, "option '--out' is ambiguous; possibilities: '--output' '--outline'"},
        {{"--o", "a"}, "option '--o' is ambiguous; possibilities: '--output' '--outline'"},
        {{"--outp=a", "x"}, "", "x", "a"},
        {{"--outl", "x"}, "", "x", "(null)", "(null)", "(null)", false, true},
        // A name spelled out in full wins over the longer names it is a prefix of.
        {{"--conf", "c", "x"}, "", "x", "(null)", "(null)", "c"},
        {{"--confi=c"}, "", "(null)", "(null)", "c"},
        {{"--con=c"}, "option '--con' is ambiguous; possibilities: '--conf' '--config'"},
        // A misspelt name is answered with the nearest one, a far one with none.
        {{"--configs=c"}, "unknown option '--configs'; did you mean '--config'?"},
        {{"--ouptut", "x"}, "unknown option '--ouptut'; did you mean '--output'?"},
        {{"-qoa", "x"}, "", "x", "a", "(null)", "(null)", true},
        {{"-q", "-o", "a"}, "", "(null)", "a", "(null)", "(null)", true},
        {{"-oa", "-ob"}, "option '-o' given twice"},
        {{"--qu=1"}, "option '--quiet' takes no value"},
        {{"-qx"}, "unknown option '-x'"},
        {{"--", "-q", "--help"}, "more than one input: '-q' and '--help'"},
        {{"--", "-q"}, "", "-q"},
        {{"-"}, "", "-"},
        {{"-o", "--", "x"}, "", "x", "--"},
        {{"--h", "-x"}, "", "(null)", "(null)", "(null)", "(null)", false, false, true},
        {{"-x", "--help"}, "unknown option '-x'"},
        {{"/?"}, "", "(null)", "(null)", "(null)", "(null)", false, false, true},
        {{"--/?"}, "unknown option '--/?'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Read r = read(kTable, c.args);
        EXPECT_EQ(r.error, c.error);
        if (!c.error.empty())
            continue;
        EXPECT_EQ(str(r.line.input), c.input);
        EXPECT_EQ(str(r.line.output), c.output);
        EXPECT_EQ(str(r.line.config), c.config);
        EXPECT_EQ(str(r.line.against), c.against);
        EXPECT_EQ(r.line.quiet, c.quiet);
        EXPECT_EQ(r.line.data, c.data);
        EXPECT_EQ(r.line.help, c.help);
    }
}

// The values read into their types by the converter's table: sizes with coreutils' units,
// the text formats' options, each refused when it is no such value or given twice.
TEST(CommandLine, ValuesAreReadIntoTheirTypes) {
    constexpr std::uint64_t K = 1024;
    const struct {
        std::vector<std::string> args;
        std::string error;
        std::optional<std::uint64_t> max_size = std::nullopt;
    } sizes[] = {
        {{"--max-size=3K"}, "", 3 * K},
        {{"--max-size=256KiB"}, "", 256 * K},
        {{"--max-size=256KB"}, "", 256000},
        {{"--max-size=1M"}, "", K * K},
        {{"--max-size=1MiB"}, "", K * K},
        {{"--max-size=1MB"}, "", 1000000},
        {{"--max-size=2G"}, "", 2 * K * K * K},
        {{"--max-size=2GiB"}, "", 2 * K * K * K},
        {{"--max-size=2GB"}, "", 2000000000},
        {{"--max-size=0x10K"}, "", 16 * K},
        {{"--max-size=18446744073709551615"}, "", ~std::uint64_t{0}},
        {{"--max-size=1T"}, "invalid size"},
        {{"--max-size=1Ki"}, "invalid size"},
        {{"--max-size=1Kb"}, "invalid size"},
        {{"--max-size=K"}, "invalid size"},
        {{"--max-size=+1"}, "invalid size"},
        {{"--max-size=1", "--max-size=1M"}, "option '--max-size' given twice"},
        {{"--pad-to=0"}, "invalid size '0' for '--pad-to': no image is smaller than 0x80c bytes"},
        {{"--record-bytes=0"}, "invalid argument '0' for '--record-bytes' (1 to 255)"},
        {{"--record-bytes=256"}, "invalid argument '256' for '--record-bytes' (1 to 255)"},
        {{"--srec-address=8"}, "invalid argument '8' for '--srec-address' (auto, 16, 24 or 32)"},
        {{"--line-end=cr"}, "invalid argument 'cr' for '--line-end' (crlf or lf)"},
        {{"--fill=0x100"},
         "invalid argument '0x100' for '--fill' (a byte: 0 to 255, or 0x0 to 0xff)"},
        {{"-O", "ihex", "--format=srec"}, "option '--format' given twice"},
    };
    for (const auto& c : sizes) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Read r = read(kConverterOptions, c.args);
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << r.error;
        EXPECT_EQ(r.error.empty(), c.error.empty()) << r.error;
        if (c.error.empty()) {
            EXPECT_EQ(r.line.max_size, c.max_size);
        }
    }
}

// No long name of either program is a prefix of another's, so every prefix of each names
// that option alone.
TEST(CommandLine, EveryUnsharedPrefixOfTheProgramsOptionsIsTheirs) {
    for (const OptionTable* table : {&kConverterOptions, &kDumpOptions}) {
        for (std::size_t k = 0; k < table->count; ++k) {
            const std::string name = table->rows[k].long_name;
            for (std::size_t len = 1; len <= name.size(); ++len) {
                const std::string prefix = name.substr(0, len);
                std::size_t sharing = 0; // long names that start with the prefix
                for (std::size_t j = 0; j < table->count; ++j)
                    sharing += std::string(table->rows[j].long_name).starts_with(prefix) ? 1u : 0u;
                const Read abbreviated = read(*table, {"--" + prefix + "=v"});
                const Read full = read(*table, {"--" + name + "=v"});
                if (sharing == 1 || prefix == name)
                    EXPECT_EQ(abbreviated.error, full.error) << prefix;
                else
                    EXPECT_TRUE(abbreviated.error.find("is ambiguous") != std::string::npos)
                        << prefix << ": " << abbreviated.error;
            }
        }
    }
}

TEST(Reporter, StatusesAndHints) {
    const Reporter converter{.program = "coff2efw", .trouble_status = 1};
    const Reporter dump{.program = "efwdump", .trouble_status = 2, .operand = "/q"};
    const Failure missing("/q", "cannot open: No such file or directory", FailureKind::Trouble);
    const Failure malformed("a.efw", "bytes after the terminator record at offset 0x8");
    const struct {
        const Reporter& reporter;
        const Failure& failure;
        int status;
        std::string err;
    } cases[] = {
        {converter, missing, 1, "coff2efw: error: /q: cannot open: No such file or directory\n"},
        {dump, missing, 2,
         "efwdump: error: /q: cannot open: No such file or directory (options start with "
         "'-'; try 'efwdump --help')\n"},
        {dump, malformed, 1, "efwdump: error: a.efw: " + malformed.cause + "\n"},
    };
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        const int status = report_failure(c.reporter, c.failure);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(status, c.status);
    }

    // Whatever else escapes gives one line too, with the program's status for trouble.
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_reported(dump, []() -> int { throw std::runtime_error("odd"); }), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "efwdump: error: odd\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_reported(converter, []() -> int { throw std::bad_alloc(); }), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "coff2efw: error: out of memory\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_reported(converter, []() -> int { throw 7; }), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "coff2efw: error: unexpected failure\n");
    EXPECT_EQ(run_reported(converter, [] { return 0; }), 0);
}

TEST(Reporter, WindowsStyleOptions) {
    const struct {
        const char* arg;
        bool looks;
    } cases[] = {
        {"/q", true},    {"/Q", true},   {"/xy", true},    {"/", false},   {"/xyz", false},
        {"/1", false},   {"/q/", false}, {"//", false},    {"q", false},   {"-q", false},
        {"/usr", false}, {"/?", false},  {nullptr, false}, {"/x1", false}, {"/é", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looks_like_windows_option(c.arg), c.looks) << (c.arg ? c.arg : "null");
}

} // namespace
