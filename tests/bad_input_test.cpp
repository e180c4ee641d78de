// Whatever the object holds and however the built program is started, it either writes a
// faithful image or refuses (with status 1 and one line naming the cause, or ended by a
// signal), and a refusal creates no file and leaves an earlier image byte for byte as it
// was.
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::pattern;
using coffgen::Section;
using harness::list_dir;
using harness::ScratchDir;

constexpr std::int32_t kInt32Min = std::numeric_limits<std::int32_t>::min();

// Indices into the example object's section table.
constexpr std::size_t kBoot = 2;
constexpr std::size_t kText = 5;
constexpr std::size_t kData = 6;

enum class InputKind { File, Directory, Fifo, Device };

struct BadInput {
    const char* label;
    Bytes input;
    InputKind kind = InputKind::File;
    // A refusal: the message after "coff2efw: error: <dir>/app.out: "; for a valid run,
    // the one warning it gives, after "coff2efw: warning: <dir>/app.out: ".
    std::string message;
    // Or a valid run: the object whose image this input must give (same data, other
    // header values the conversion must not care about).
    std::optional<Bytes> same_image_as;
    std::string listing_shows; // a valid run's listing holds these bytes, when not empty
    std::string config;        // config.ini, when not the one naming app.out
    // How the run is started when not as usual: the configured name (ending in ".out")
    // and what the harness arranges.
    std::string name = "app.out";
    harness::ChildSetup setup;
    int killed_by = 0; // a refusal by this signal, without a message
};

Bytes bytes_of(const Object& o) {
    return coffgen::build(o);
}

Bytes example() {
    return bytes_of(coffgen::example_object());
}

Bytes first_bytes(std::size_t n) {
    Object o = coffgen::example_object();
    o.cut_at = n;
    return bytes_of(o);
}

Object example_with(std::size_t index, std::optional<std::int32_t> size,
                    std::optional<std::int32_t> file_ptr = std::nullopt) {
    Object o = coffgen::example_object();
    o.sections[index].size = size;
    o.sections[index].file_ptr = file_ptr;
    return o;
}

Bytes declared_sections(std::uint16_t n) {
    Object o = coffgen::example_object();
    o.num_sect = n;
    return bytes_of(o);
}

Bytes optional_header_size_ffff() {
    Object o = coffgen::example_object();
    o.opt_size = 0xFFFF;
    return bytes_of(o);
}

Bytes names_of_ff() {
    Object o = coffgen::example_object();
    for (Section& s : o.sections) {
        if (s.name != ".boot_L")
            s.name = std::string(8, '\xFF');
    }
    return bytes_of(o);
}

// A listing of some 300 KB: more than any stream buffer or pipe holds; with `big`, a
// last section (2005, ".big") of that many bytes.
Bytes many_sections(std::size_t big = 0) {
    std::vector<Section> rest;
    for (std::uint8_t i = 0; rest.size() < 2000; ++i)
        rest.push_back(Section{.name = ".text",
                               .data = pattern(4, i),
                               .virt = static_cast<std::int32_t>(4 * rest.size())});
    if (big != 0)
        rest.push_back(Section{.name = ".big", .data = pattern(big, 77), .virt = 0x100000});
    Object o = harness::with_sections(rest);
    for (int i = 0; i < 5; ++i)
        o.sections[static_cast<std::size_t>(i)].flags = 0x10; // copy sections: nothing left out
    return bytes_of(o);
}

Bytes boot_sections(std::vector<std::size_t> sizes) {
    Object o;
    std::uint8_t seed = 1;
    for (const std::size_t n : sizes)
        o.sections.push_back(Section{.name = ".boot_L", .data = pattern(n, seed++)});
    return bytes_of(o);
}

// A run ended by `sig` once it is well into the listing, with the temporary open.
BadInput mid_run(const char* label, int sig, const Bytes& input) {
    return {.label = label, .input = input, .setup = {.signal_mid_run = sig}, .killed_by = sig};
}

// An input cut `keep` bytes into the data of its last, large section while the run reads
// its headers: the run fails where the data end, as any short read does.
BadInput shrinking_mid_run(std::size_t keep) {
    const Bytes input = many_sections(2 * keep);
    const Bytes big = pattern(2 * keep, 77);
    const Bytes start(big.begin(), big.begin() + 16);
    const auto data = static_cast<std::size_t>(
        std::search(input.begin(), input.end(), start.begin(), start.end()) - input.begin());
    std::ostringstream at;
    at << std::hex << data + keep;
    return {.label = "input_shrinks_mid_run",
            .input = input,
            .message =
                "cannot read section 2005 (.big) data at offset 0x" + at.str() + ": unexpected end",
            .setup = {.shrink_mid_run = data + keep}};
}

// The example's layout: headers end at 0x242, .boot_L data at 0x258, .text data (0x1f3
// bytes) at 0x287, the file at 0x52c.
std::vector<BadInput> rows() {
    const std::string past_end = " runs past the end of the file at 0x52c";
    const Bytes many = many_sections();
    return {
        {.label = "empty",
         .input = {},
         .message = "truncated file header at offset 0x0: needs 22 bytes, the file ends at 0x0"},
        {.label = "one_byte",
         .input = first_bytes(1),
         .message = "truncated file header at offset 0x0: needs 22 bytes, the file ends at 0x1"},
        {.label = "21_bytes",
         .input = first_bytes(21),
         .message = "truncated file header at offset 0x0: needs 22 bytes, the file ends at 0x15"},
        {.label = "49_bytes",
         .input = first_bytes(49),
         .message =
             "truncated optional header at offset 0x16: needs 28 bytes, the file ends at 0x31"},
        {.label = "optional_header_cut_short",
         .input = first_bytes(30),
         .message =
             "truncated optional header at offset 0x16: needs 28 bytes, the file ends at 0x1e"},
        {.label = "2049_sections",
         .input = declared_sections(2049),
         .message = "the file header declares 2049 section headers; at most 2048 are supported"},
        {.label = "65535_sections",
         .input = declared_sections(65535),
         .message = "the file header declares 65535 section headers; at most 2048 are supported"},
        {.label = "section_table_cut_inside_a_record",
         .input = first_bytes(50 + 48 + 24),
         .message =
             "truncated section header 1 at offset 0x62: needs 48 bytes, the file ends at 0x7a"},
        {.label = "load_size_7fffffff",
         .input = bytes_of(example_with(kText, 0x7FFFFFFF)),
         .message = "section 5 (.text): data at offset 0x287, 0x7fffffff bytes," + past_end},
        {.label = "boot_size_7fffffff",
         .input = bytes_of(example_with(kBoot, 0x7FFFFFFF)),
         .message = "section 2 (.boot_L): data at offset 0x258, 0x7fffffff bytes," + past_end},
        {.label = "load_size_negative",
         .input = bytes_of(example_with(kText, -1)),
         .same_image_as = bytes_of(example_with(kText, 0))},
        {.label = "load_size_most_negative",
         .input = bytes_of(example_with(kData, kInt32Min)),
         .same_image_as = bytes_of(example_with(kData, 0))},
        {.label = "boot_size_negative",
         .input = bytes_of(example_with(kBoot, -37)),
         .same_image_as = bytes_of(example_with(kBoot, 0))},
        {.label = "load_pointer_negative",
         .input = bytes_of(example_with(kText, std::nullopt, -16)),
         .message = "section 5 (.text): data offset -16 is negative"},
        {.label = "load_pointer_most_negative",
         .input = bytes_of(example_with(kText, std::nullopt, kInt32Min)),
         .message = "section 5 (.text): data offset -2147483648 is negative"},
        {.label = "boot_pointer_negative",
         .input = bytes_of(example_with(kBoot, std::nullopt, -1)),
         .message = "section 2 (.boot_L): data offset -1 is negative"},
        {.label = "load_pointer_at_the_end",
         .input = bytes_of(example_with(kText, std::nullopt, 0x52C)),
         .message = "section 5 (.text): data at offset 0x52c, 0x1f3 bytes," + past_end},
        {.label = "load_pointer_far_past_the_end",
         .input = bytes_of(example_with(kText, std::nullopt, 0x7FFFFFFF)),
         .message = "section 5 (.text): data at offset 0x7fffffff, 0x1f3 bytes," + past_end},
        {.label = "boot_pointer_past_the_end",
         .input = bytes_of(example_with(kBoot, std::nullopt, 0x52C - 36)),
         .message = "section 2 (.boot_L): data at offset 0x508, 0x25 bytes," + past_end},
        {.label = "boot_section_of_1025_bytes",
         .input = boot_sections({1025}),
         .message = "section 0 (.boot_L): 1025 boot bytes after 0 do not fit the boot region "
                    "of 1024 bytes"},
        {.label = "two_boot_sections_of_600_bytes",
         .input = boot_sections({600, 600}),
         .message = "section 1 (.boot_L): 600 boot bytes after 600 do not fit the boot region "
                    "of 1024 bytes"},
        {.label = "optional_header_size_ffff",
         .input = optional_header_size_ffff(),
         .message = "usOptHeadSize is 65535, not 28: the optional header is read as 28 bytes and "
                    "the section table from offset 0x32, so both are probably misread "
                    "[-Wopt-header]",
         .same_image_as = example(),
         .listing_shows = "\t\tffff\t\t"},
        {.label = "names_full_of_ff",
         .input = names_of_ff(),
         .same_image_as = example(),
         .listing_shows = std::string(8, '\xFF') + " : btad=[90000804]"},
        {.label = "directory_as_input",
         .input = {},
         .kind = InputKind::Directory,
         .message = "cannot read: Is a directory"},
        // The name ends at the NUL: read on, it would make the temporary's path, as the
        // system sees it, the output's own.
        {.label = "nul_in_the_configured_name",
         .input = example(),
         .same_image_as = example(),
         .config = std::string("[CONFIG]\nCOFF_FILE=app.out\0.x\n", 30)},
        {.label = "fifo_as_input",
         .input = {},
         .kind = InputKind::Fifo,
         .message = "cannot read: not a regular file"},
        {.label = "device_as_input",
         .input = {},
         .kind = InputKind::Device,
         .message = "cannot read: not a regular file"},
        // Descriptor 1 would go to the temporary, and the listing into the image.
        {.label = "standard_input_and_output_closed",
         .input = many,
         .same_image_as = many,
         .setup = {.closed = {0, 1}}},
        {.label = "listing_reader_gone",
         .input = many,
         .message = "standard output: the listing is incomplete: Broken pipe [-Wlisting]",
         .same_image_as = many,
         .setup = {.stdout_reader_gone = true}},
        {.label = "sigterm_mid_run",
         .input = many,
         .setup = {.signal_mid_run = SIGTERM},
         .killed_by = SIGTERM},
        // Every other signal that ends the process from outside removes the temporary
        // first; those that dump core still do.
        mid_run("sigint", SIGINT, many),
        mid_run("sighup", SIGHUP, many),
        mid_run("sigquit", SIGQUIT, many),
        mid_run("sigalrm", SIGALRM, many),
        mid_run("sigusr1", SIGUSR1, many),
        mid_run("sigusr2", SIGUSR2, many),
        mid_run("sigvtalrm", SIGVTALRM, many),
        mid_run("sigprof", SIGPROF, many),
        mid_run("sigxcpu", SIGXCPU, many),
        mid_run("sigxfsz", SIGXFSZ, many),
        mid_run("sigsys", SIGSYS, many),
        mid_run("sigpoll", SIGPOLL, many),
        mid_run("sigpwr", SIGPWR, many),
        mid_run("sigrtmin", SIGRTMIN, many),
        mid_run("sigrtmax", SIGRTMAX, many),
        // No handler runs, but a temporary without a name goes with the process.
        mid_run("sigkill", SIGKILL, many),
        shrinking_mid_run(0x10000),
        // One ignored at start stays ignored: the run goes on and writes its image.
        {.label = "sighup_ignored_at_start",
         .input = many,
         .same_image_as = many,
         .setup = {.signal_mid_run = SIGHUP, .ignored = {SIGHUP}}},
        {.label = "sigusr1_ignored_at_start",
         .input = many,
         .same_image_as = many,
         .setup = {.signal_mid_run = SIGUSR1, .ignored = {SIGUSR1}}},
        {.label = "sigxfsz_mid_run",
         .input = example(),
         .setup = {.file_size_limit = 1024, .sigxfsz_kills = true},
         .killed_by = SIGXFSZ},
        // An output name of 250 characters leaves no room for a suffix.
        {.label = "output_name_near_the_limit",
         .input = example(),
         .same_image_as = example(),
         .name = std::string(238, 'n') + ".out"},
    };
}

class BadInputs : public testing::TestWithParam<BadInput> {};

std::string output_of(const BadInput& c) {
    return "VELTARA-" + c.name.substr(0, c.name.size() - 4) + ".efw";
}

harness::ProcessResult run_on(const ScratchDir& dir, const BadInput& c) {
    harness::write_text(dir.file("config.ini"),
                        c.config.empty() ? "[CONFIG]\nCOFF_FILE=" + c.name + "\n" : c.config);
    const std::string input = dir.file(c.name);
    if (c.kind == InputKind::Directory)
        EXPECT_EQ(mkdir(input.c_str(), 0755), 0);
    else if (c.kind == InputKind::Fifo)
        EXPECT_EQ(mkfifo(input.c_str(), 0644), 0);
    else if (c.kind == InputKind::Device)
        EXPECT_EQ(symlink("/dev/zero", input.c_str()), 0);
    else
        coffgen::write_file(input, c.input);
    harness::ChildSetup setup = c.setup;
    setup.shrink_path = input;
    setup.time_limit = 60; // a run that waits for a FIFO's writer fails instead of hanging
    return harness::run_program(harness::converter_path(), dir.file("coff2efw"), {}, "/", {},
                                setup);
}

TEST_P(BadInputs, RefuseOrConvertFaithfully) {
    const BadInput& c = GetParam();
    // An earlier run's image, binary like any other.
    const Bytes old_image = harness::convert_bytes(example()).image;
    const mode_t umask_now = umask(0);
    umask(umask_now);

    for (const bool had_output : {true, false}) {
        SCOPED_TRACE(had_output ? "with an earlier image" : "without an earlier image");
        ScratchDir dir;
        const std::string output = dir.file(output_of(c));
        if (had_output)
            coffgen::write_file(output, old_image);
        std::vector<std::string> expected_entries{c.name, "config.ini"};
        if (had_output || c.same_image_as)
            expected_entries.push_back(output_of(c));
        std::sort(expected_entries.begin(), expected_entries.end());

        const auto r = run_on(dir, c);
        if (c.same_image_as) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, c.message.empty() ? ""
                                               : "coff2efw: warning: " + dir.file(c.name) + ": " +
                                                     c.message + "\n");
            ASSERT_TRUE(harness::file_exists(output));
            EXPECT_EQ(coffgen::read_file(output), harness::convert_bytes(*c.same_image_as).image);
            // The listing is this input's, unless standard output led nowhere.
            const bool no_listing = c.setup.stdout_reader_gone ||
                                    std::count(c.setup.closed.begin(), c.setup.closed.end(), 1);
            EXPECT_EQ(r.out, no_listing ? "" : harness::convert_bytes(c.input).console);
            if (!c.listing_shows.empty()) {
                EXPECT_NE(r.out.find(c.listing_shows), std::string::npos) << r.out;
            }
            EXPECT_EQ(list_dir(dir.path), expected_entries) << "a temporary file was left behind";
            struct stat st = {};
            EXPECT_EQ(stat(output.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, 0666 & ~umask_now);
            continue;
        }
        if (c.killed_by != 0) {
            EXPECT_EQ(r.signal, c.killed_by) << r.err;
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "coff2efw: error: " + dir.file(c.name) + ": " + c.message + "\n");
        }
        EXPECT_EQ(list_dir(dir.path), expected_entries)
            << "an output or a temporary file was created";
        if (had_output) {
            EXPECT_EQ(coffgen::read_file(output), old_image);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadInputs, testing::ValuesIn(rows()),
                         [](const auto& p) { return std::string(p.param.label); });

// A signal at any moment of a run with two outputs, the commit included: the image and
// the map are both as they were or both the new ones, and no temporary is left.
TEST(Signals, AtAnyMomentLeaveTheOutputsAllOldOrAllNew) {
    const Bytes input = many_sections();
    ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), input);
    const std::vector<std::string> args{harness::converter_path(), "-q",    "-o",
                                        dir.file("img.efw"),       "--map", dir.file("m.json"),
                                        dir.file("app.out")};
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto run = [&](long kill_after_us, int sig) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (kill_after_us >= 0) {
            usleep(static_cast<useconds_t>(kill_after_us));
            kill(pid, sig);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    };
    // The new outputs, and how long a run takes.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run(-1, 0), 0);
    const long took = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                            std::chrono::steady_clock::now() - start)
                                            .count());
    const std::string new_image = harness::read_text(dir.file("img.efw"));
    const std::string new_map = harness::read_text(dir.file("m.json"));
    std::mt19937 random(12345);
    const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
    for (int i = 0; i < 40; ++i) {
        harness::write_text(dir.file("img.efw"), "old image");
        harness::write_text(dir.file("m.json"), "old map");
        const long at = std::uniform_int_distribution<long>(0, took * 3 / 2)(random);
        run(at, signals[i % 4]);
        SCOPED_TRACE("signal after " + std::to_string(at) + " us of " + std::to_string(took));
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.out", "img.efw", "m.json"}));
        const std::string image = harness::read_text(dir.file("img.efw"));
        const std::string map = harness::read_text(dir.file("m.json"));
        const bool all_old = image == "old image" && map == "old map";
        const bool all_new = image == new_image && map == new_map;
        EXPECT_TRUE(all_old || all_new) << image.size() << " " << map.size();
    }
}

} // namespace
