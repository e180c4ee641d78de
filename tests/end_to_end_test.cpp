// The built program started as its users start it: a chosen argument zero, config.ini
// beside it, exit status and messages pinned, and no output lost on failure.
#include "coff2efw_version.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using harness::file_exists;
using harness::list_dir;
using harness::run_program;
using harness::ScratchDir;

using harness::kAppConfig;

constexpr std::size_t kMaxSectionsInTest = 2048;

harness::ProcessResult run_in(const ScratchDir& dir, const std::vector<std::string>& args = {},
                              const harness::ChildSetup& setup = {}) {
    return run_program(harness::converter_path(), dir.file("coff2efw"), args, "/", {}, setup);
}

coffgen::Bytes example() {
    return coffgen::build(coffgen::example_object());
}

TEST(EndToEnd, ConvertsTheObjectNamedBesideTheExecutable) {
    ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), example());
    harness::write_text(dir.file("config.ini"), kAppConfig);

    const auto r = run_in(dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("[FileHead]\n", 0), 0u);
    const auto expected = harness::convert_bytes(example());
    EXPECT_EQ(coffgen::read_file(dir.file("VELTARA-app.efw")), expected.image);
    EXPECT_EQ(r.out, expected.console);
    EXPECT_EQ(list_dir(dir.path),
              (std::vector<std::string>{"VELTARA-app.efw", "app.out", "config.ini"}));
}

TEST(EndToEnd, ProgramDirectoryComesFromArgumentZero) {
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.file("bin.out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("bin.efw").c_str(), 0755), 0);
    coffgen::write_file(dir.file("bin.out/app.out"), example());
    harness::write_text(dir.file("bin.out/config.ini"), kAppConfig);

    // Relative directory, resolved against the working directory; the ".out" of the
    // directory is replaced in the output path only.
    auto r = run_program(harness::converter_path(), "bin.out/coff2efw", {}, dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir.file("bin.efw/VELTARA-app.efw")));

    // A bare name: everything relative to the working directory.
    r = run_program(harness::converter_path(), "coff2efw", {}, dir.file("bin.out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir.file("bin.out/VELTARA-app.efw")));
}

TEST(EndToEnd, DefaultNameWhenTheConfigurationSaysNothing) {
    for (const std::string ini : {"", "[CONFIG]\nOTHER=1\n", "[OTHER]\nCOFF_FILE=app.out\n"}) {
        SCOPED_TRACE("config.ini: " + ini);
        ScratchDir dir;
        if (!ini.empty())
            harness::write_text(dir.file("config.ini"), ini);
        coffgen::write_file(dir.file("ZOV-KARN.efw"), example());
        const auto r = run_in(dir);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(file_exists(dir.file("VELTARA-ZOV-KARN.efw"))) << ini;
    }
}

// What stands where config.ini is looked for, besides a file holding the config text.
enum class ConfigAs {
    kText,
    kUnreadable, // the text, mode 000, read by a user other than root
    kDirectory,
    kFifo,
    kFailingFile, // a regular file whose read fails with EIO
};

struct FailureCase {
    const char* label;
    std::string config;      // empty: no config.ini
    bool write_input;        // app.out from the example
    coffgen::Bytes input;    // used when not empty instead of the example
    std::string output_name; // the output this configuration leads to
    std::string message;     // after "coff2efw: error: <dir>/"
    ConfigAs config_as = ConfigAs::kText;
    std::string input_name = "app.out";
    // When set, sub/ exists and VELTARA-sub links here, so that a configured name
    // sub/<name> leads the output to sub/<name> (link "sub") or to <name> (link ".").
    const char* link_sub_to = nullptr;
    // When set, the output is a symbolic link with this text instead of an old image.
    const char* output_link = nullptr;
    // The output is another name (a hard link) of the input, on a disk that has room for
    // less than the image: only a refusal before the first write names the real fault.
    bool output_is_the_input = false;
};

class Failures : public testing::TestWithParam<FailureCase> {};

TEST_P(Failures, ReportAndKeepTheOldOutput) {
    const FailureCase& c = GetParam();
    ScratchDir dir;
    if (c.link_sub_to != nullptr) {
        ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
        ASSERT_EQ(symlink(c.link_sub_to, dir.file("VELTARA-sub").c_str()), 0);
    }
    // The old image first: where the output leads back to the input, that takes its place.
    if (c.output_link != nullptr)
        ASSERT_EQ(symlink(c.output_link, dir.file(c.output_name).c_str()), 0);
    else if (!c.output_is_the_input)
        harness::write_text(dir.file(c.output_name), "an image from an earlier, good run");
    const std::string config = dir.file("config.ini");
    harness::ChildSetup setup;
    setup.time_limit = 60; // a FIFO must not hang the suite
    if (c.output_is_the_input)
        setup.file_size_limit = 1024;
    switch (c.config_as) {
    case ConfigAs::kText:
        if (!c.config.empty())
            harness::write_text(config, c.config);
        break;
    case ConfigAs::kUnreadable:
        harness::write_text(config, c.config);
        ASSERT_EQ(chmod(config.c_str(), 0), 0);
        ASSERT_EQ(chmod(dir.path.c_str(), 0755), 0);
        if (geteuid() == 0)
            setup.uid = harness::kNobody; // root reads it anyway
        break;
    case ConfigAs::kDirectory:
        ASSERT_EQ(mkdir(config.c_str(), 0755), 0);
        break;
    case ConfigAs::kFifo:
        ASSERT_EQ(mkfifo(config.c_str(), 0644), 0);
        break;
    case ConfigAs::kFailingFile:
        // A regular file to fstat whose first bytes, the process's own address 0, are
        // unmapped: reading them fails.
        ASSERT_EQ(symlink("/proc/self/mem", config.c_str()), 0);
        break;
    }
    if (c.write_input)
        coffgen::write_file(dir.file(c.input_name), c.input.empty() ? example() : c.input);
    if (c.output_is_the_input) {
        ASSERT_EQ(link(dir.file(c.input_name).c_str(), dir.file(c.output_name).c_str()), 0);
    }
    // A dangling link reads as nothing, and must still be there, dangling, afterwards.
    const bool output_exists = file_exists(dir.file(c.output_name));
    const std::string old_output = output_exists ? harness::read_text(dir.file(c.output_name)) : "";
    const std::string output_dir = std::filesystem::path(dir.file(c.output_name)).parent_path();
    const auto before = list_dir(output_dir);

    const auto r = run_program(harness::converter_path(), dir.file("coff2efw"), {}, "/", {}, setup);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "coff2efw: error: " + dir.path + "/" + c.message + "\n");
    if (output_exists) {
        EXPECT_EQ(harness::read_text(dir.file(c.output_name)), old_output);
    }
    if (c.output_link != nullptr) {
        EXPECT_EQ(std::filesystem::read_symlink(dir.file(c.output_name)), c.output_link);
    }
    EXPECT_EQ(list_dir(output_dir), before) << "a temporary file was left behind";
}

coffgen::Bytes truncated_example() {
    coffgen::Object o = coffgen::example_object();
    o.sections[2].name = ".boot"; // its data would be cut off too and fail first
    o.sections[2].flags = 0x10;   // and, no boot section now, it would warn as left out
    o.cut_at = 22 + 28 + 48 * 3 + 20;
    return coffgen::build(o);
}

coffgen::Bytes boot_overflow() {
    coffgen::Object o = coffgen::example_object();
    o.sections[2].data = coffgen::pattern(1025, 3);
    return coffgen::build(o);
}

coffgen::Bytes data_past_end(const std::string& name = ".data") {
    coffgen::Object o = coffgen::example_object();
    o.sections[6].size = 0x10000;
    o.sections[6].name = name;
    return coffgen::build(o);
}

coffgen::Bytes bytes_of(const std::string& text) {
    return coffgen::Bytes(text.begin(), text.end());
}

// The example with its first two bytes swapped, as a big-endian linker writes them.
coffgen::Bytes big_endian_example() {
    coffgen::Bytes b = example();
    std::swap(b[0], b[1]);
    return b;
}

coffgen::Bytes sections_and_version(std::uint16_t count, std::uint16_t version) {
    coffgen::Object o = coffgen::example_object();
    o.num_sect = count;
    o.version = version;
    return coffgen::build(o);
}

// 1.05 MB of data that 2043 records all carry: an image past 0x7fffffff bytes from a
// small object.
coffgen::Bytes image_past_2_gib() {
    coffgen::Object o;
    o.sections = coffgen::leading_sections();
    for (coffgen::Section& s : o.sections)
        s.flags = 0x10;
    constexpr std::int32_t kSize = 0x101000;
    const auto data_at = static_cast<std::int32_t>(22 + 28 + 48 * kMaxSectionsInTest);
    for (std::int32_t i = 0; o.sections.size() < kMaxSectionsInTest; ++i) {
        // Destinations apart, as 32-bit words (past 2 GiB they wrap, as the target's do).
        const auto virt = static_cast<std::int32_t>(static_cast<std::uint32_t>(i) *
                                                    static_cast<std::uint32_t>(kSize));
        coffgen::Section s{.name = ".text", .virt = virt, .size = kSize, .file_ptr = data_at};
        if (i == 0)
            s.data = coffgen::pattern(static_cast<std::size_t>(kSize), 1);
        o.sections.push_back(s);
    }
    return coffgen::build(o);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, Failures,
    testing::Values(
        FailureCase{"missing_input",
                    kAppConfig,
                    false,
                    {},
                    "VELTARA-app.efw",
                    "app.out: cannot open: No such file or directory"},
        FailureCase{"missing_default_input",
                    "",
                    false,
                    {},
                    "VELTARA-ZOV-KARN.efw",
                    "ZOV-KARN.efw: cannot open: No such file or directory (no config.ini beside "
                    "the program named an input; try 'coff2efw app.out')"},
        FailureCase{"missing_input_named_default",
                    "[CONFIG]\nCOFF_FILE=ZOV-KARN.efw\n",
                    false,
                    {},
                    "VELTARA-ZOV-KARN.efw",
                    "ZOV-KARN.efw: cannot open: No such file or directory"},
        FailureCase{"empty_value_names_the_directory",
                    "[CONFIG]\nCOFF_FILE=\n",
                    false,
                    {},
                    "VELTARA-",
                    ": cannot read: Is a directory"},
        FailureCase{"truncated_section_table", kAppConfig, true, truncated_example(),
                    "VELTARA-app.efw",
                    "app.out: truncated section header 3 at offset 0xc2: needs 48 bytes, the file "
                    "ends at 0xd6"},
        FailureCase{"data_past_the_end", kAppConfig, true, data_past_end(), "VELTARA-app.efw",
                    "app.out: section 6 (.data): data at offset 0x47a, 0x10000 bytes, runs past "
                    "the end of the file at 0x52c"},
        FailureCase{"control_bytes_in_a_section_name", kAppConfig, true,
                    data_past_end("a\nb\x1b[2J"), "VELTARA-app.efw",
                    "app.out: section 6 (a\\x0ab\\x1b[2J): data at offset 0x47a, 0x10000 bytes, "
                    "runs past the end of the file at 0x52c"},
        FailureCase{"long_section_name", kAppConfig, true, data_past_end("initialised_data"),
                    "VELTARA-app.efw",
                    "app.out: section 6 (initialised_data): data at offset 0x47a, 0x10000 bytes, "
                    "runs past the end of the file at 0x541"},
        FailureCase{"control_bytes_in_the_input_name",
                    "[CONFIG]\nCOFF_FILE=x\x1b[2Jy.out\n",
                    false,
                    {},
                    "VELTARA-x\x1b[2Jy.efw",
                    "x\\x1b[2Jy.out: cannot open: No such file or directory"},
        FailureCase{"elf_file", kAppConfig, true,
                    bytes_of(std::string("\x7f"
                                         "ELF\x01\x01\x01",
                                         7) +
                             std::string(57, '\0')),
                    "VELTARA-app.efw", "app.out: an ELF file, not a COFF object"},
        FailureCase{"dos_executable", kAppConfig, true,
                    bytes_of(std::string("MZ\x90\0\x03\0", 6) + std::string(122, '\0')),
                    "VELTARA-app.efw",
                    "app.out: a Windows or DOS executable (MZ), not a COFF object"},
        FailureCase{"hex_record_text", kAppConfig, true,
                    bytes_of(":100000000C9434000C943E000C943E000C943E0082\n:00000001FF\n"),
                    "VELTARA-app.efw",
                    "app.out: a hex record file (text lines starting with ':'), not a COFF "
                    "object"},
        FailureCase{"hex_record_text_shorter_than_a_header", kAppConfig, true,
                    bytes_of(":00000001FF\n"), "VELTARA-app.efw",
                    "app.out: a hex record file (text lines starting with ':'), not a COFF "
                    "object"},
        FailureCase{"s_record_text", kAppConfig, true,
                    bytes_of("S00F000068656C6C6F202020202000003C\nS9030000FC\n"), "VELTARA-app.efw",
                    "app.out: an S-record file (text lines starting with 'S0' to 'S9'), not a "
                    "COFF object"},
        FailureCase{"rom_image_as_the_object", kAppConfig, true,
                    harness::convert_bytes(example()).image, "VELTARA-app.efw",
                    "app.out: a ROM image, not a COFF object (efwdump reads it)"},
        FailureCase{"big_endian_coff", kAppConfig, true, big_endian_example(), "VELTARA-app.efw",
                    "app.out: a big-endian COFF object (its first bytes are 00 c2); only "
                    "little-endian objects are converted"},
        FailureCase{"section_count_of_another_version", kAppConfig, true,
                    sections_and_version(3000, 0x1234), "VELTARA-app.efw",
                    "app.out: the file header declares 3000 section headers; at most 2048 are "
                    "supported (its version is 0x1234, not 0xc2: the file is probably no such "
                    "COFF object)"},
        FailureCase{"image_past_the_format_limit", kAppConfig, true, image_past_2_gib(),
                    "VELTARA-app.efw",
                    "app.out: the image is 0x802ff7e4 bytes, 0x2ff7e5 more than the format's "
                    "0x7fffffff (its offsets are 32-bit signed)"},
        FailureCase{"boot_data_beyond_the_region", kAppConfig, true, boot_overflow(),
                    "VELTARA-app.efw",
                    "app.out: section 2 (.boot_L): 1025 boot bytes after 0 do not fit the boot "
                    "region of 1024 bytes"},
        // A config.ini that is there but cannot be read is no absent one: the default name
        // would convert ZOV-KARN.efw, or send the user looking for it.
        FailureCase{"config_unreadable",
                    kAppConfig,
                    true,
                    {},
                    "VELTARA-app.efw",
                    "config.ini: cannot read: Permission denied",
                    ConfigAs::kUnreadable},
        FailureCase{"config_is_a_directory",
                    "",
                    true,
                    {},
                    "VELTARA-app.efw",
                    "config.ini: cannot read: Is a directory",
                    ConfigAs::kDirectory},
        FailureCase{"config_is_a_fifo",
                    "",
                    true,
                    {},
                    "VELTARA-app.efw",
                    "config.ini: not a regular file",
                    ConfigAs::kFifo},
        FailureCase{"config_read_fails",
                    "",
                    true,
                    {},
                    "VELTARA-app.efw",
                    "config.ini: cannot read: Input/output error",
                    ConfigAs::kFailingFile},
        FailureCase{.label = "output_leads_back_to_the_input",
                    .config = "[CONFIG]\nCOFF_FILE=sub/app.obj\n",
                    .write_input = true,
                    .output_name = "sub/app.obj",
                    .message = "VELTARA-sub/app.obj: the output is the input itself; nothing was "
                               "replaced",
                    .input_name = "sub/app.obj",
                    .link_sub_to = "sub"},
        FailureCase{.label = "output_leads_back_to_the_configuration",
                    .config = "[CONFIG]\nCOFF_FILE=sub/config.ini\n",
                    .write_input = true,
                    .output_name = "config.ini",
                    .message = "VELTARA-sub/config.ini: the output is the configuration file "
                               "itself; nothing was replaced",
                    .input_name = "sub/config.ini",
                    .link_sub_to = "."},
        // A link as the output is followed, so a link to a file the run reads is refused
        // as that file would be; the link itself stays.
        FailureCase{.label = "output_links_to_the_input",
                    .config = kAppConfig,
                    .write_input = true,
                    .output_name = "VELTARA-app.efw",
                    .message = "VELTARA-app.efw: the output is the input itself; nothing was "
                               "replaced",
                    .output_link = "app.out"},
        FailureCase{.label = "output_links_to_the_configuration",
                    .config = kAppConfig,
                    .write_input = true,
                    .output_name = "VELTARA-app.efw",
                    .message = "VELTARA-app.efw: the output is the configuration file itself; "
                               "nothing was replaced",
                    .output_link = "config.ini"},
        FailureCase{.label = "output_is_a_dangling_link",
                    .config = kAppConfig,
                    .write_input = true,
                    .output_name = "VELTARA-app.efw",
                    .message = "VELTARA-app.efw: the output is a link to 'gone/app.efw', which "
                               "does not exist; nothing was written",
                    .output_link = "gone/app.efw"},
        // Along a chain, the name that is missing is the last link's.
        FailureCase{.label = "output_is_a_chain_of_dangling_links",
                    .config = kAppConfig,
                    .write_input = true,
                    .output_name = "VELTARA-app.efw",
                    .message = "VELTARA-app.efw: the output is a link to 'gone/app.efw', which "
                               "does not exist; nothing was written",
                    .link_sub_to = "gone/app.efw",
                    .output_link = "VELTARA-sub"},
        FailureCase{.label = "output_is_another_name_of_the_input",
                    .config = kAppConfig,
                    .write_input = true,
                    .output_name = "VELTARA-app.efw",
                    .message = "VELTARA-app.efw: the output is the input itself; nothing was "
                               "replaced",
                    .output_is_the_input = true}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(EndToEnd, OutputThatCannotBeReplacedKeepsWhatIsThere) {
    // A directory where the image should go: the rename fails, nothing is lost, and the
    // temporary image is removed.
    ScratchDir dir;
    harness::write_text(dir.file("config.ini"), kAppConfig);
    coffgen::write_file(dir.file("app.out"), example());
    ASSERT_EQ(mkdir(dir.file("VELTARA-app.efw").c_str(), 0755), 0);
    harness::write_text(dir.file("VELTARA-app.efw/keep"), "kept");
    const auto before = list_dir(dir.path);

    const auto r = run_in(dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err.rfind("coff2efw: error: " + dir.file("VELTARA-app.efw") + ": cannot replace", 0), 0u)
        << r.err;
    EXPECT_EQ(harness::read_text(dir.file("VELTARA-app.efw/keep")), "kept");
    EXPECT_EQ(list_dir(dir.path), before);
}

TEST(EndToEnd, UnwritableDirectoryKeepsTheOldOutput) {
    ScratchDir dir;
    harness::write_text(dir.file("config.ini"), kAppConfig);
    coffgen::write_file(dir.file("app.out"), example());
    harness::write_text(dir.file("VELTARA-app.efw"), "old");
    // The image itself may be written by anyone: only the directory stands in the way.
    ASSERT_EQ(chmod(dir.file("VELTARA-app.efw").c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);
    // Root writes to a read-only directory anyway, so the run drops to a user who cannot.
    harness::ChildSetup setup;
    if (geteuid() == 0)
        setup.uid = harness::kNobody;
    else if (access(dir.path.c_str(), W_OK) == 0)
        GTEST_SKIP() << "this user can write to a read-only directory";

    const auto r = run_in(dir, {}, setup);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot create a temporary file beside it: Permission denied"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(harness::read_text(dir.file("VELTARA-app.efw")), "old");
}

TEST(EndToEnd, HelpAndVersionTouchNoFile) {
    const struct {
        const char* arg;
        const char* starts;
    } cases[] = {{"--help", "usage: coff2efw"},
                 {"-h", "usage: coff2efw"},
                 {"/?", "usage: coff2efw"},
                 {"--he", "usage: coff2efw"},
                 {"--ver", "coff2efw " COFF2EFW_VERSION "\n"},
                 {"--version",
                  "coff2efw " COFF2EFW_VERSION "\n"
                  "Copyright (c) 2026 The coff2efw authors. MIT licence: see the LICENSE file.\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        ScratchDir dir;
        harness::write_text(dir.file("config.ini"), kAppConfig);
        coffgen::write_file(dir.file("app.out"), example());
        const auto r = run_in(dir, {c.arg});
        EXPECT_EQ(r.status, 0) << c.arg;
        EXPECT_EQ(r.out.rfind(c.starts, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(file_exists(dir.file("VELTARA-app.efw"))) << c.arg;
    }
}

// What a program writes on standard output and cannot get there is an error at exit, as
// coreutils' close_stdout has it; only coff2efw's listing keeps its rule, a warning.
TEST(EndToEnd, StandardOutputThatCannotBeWrittenIsAnError) {
    ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), example());
    const auto converted = harness::convert_bytes(example());
    coffgen::write_file(dir.file("app.efw"), converted.image);
    coffgen::Bytes broken = converted.image; // a tail of more than one value is no fill
    broken.push_back(0x41);
    broken.push_back(0x42);
    coffgen::write_file(dir.file("broken.efw"), broken);
    const std::string lost = ": error: standard output: No space left on device\n";
    const struct {
        const char* exe;
        const char* program;
        std::vector<std::string> args;
        int status;
        std::string err;     // what standard error ends with
        bool closed = false; // standard output closed instead of full
    } cases[] = {
        {COFF2EFW_EXE, "coff2efw", {"--help"}, 1, "coff2efw" + lost},
        {COFF2EFW_EXE, "coff2efw", {"--version"}, 1, "coff2efw" + lost},
        {COFF2EFW_EXE,
         "coff2efw",
         {dir.file("app.out"), "-o", dir.file("out.efw")},
         0,
         "app.out: standard output: the listing is incomplete: No space left on device "
         "[-Wlisting]\n"},
        {EFWDUMP_EXE, "efwdump", {"--help"}, 1, "efwdump" + lost},
        {EFWDUMP_EXE, "efwdump", {"--version"}, 1, "efwdump" + lost},
        {EFWDUMP_EXE, "efwdump", {dir.file("app.efw")}, 1, "efwdump" + lost},
        {EFWDUMP_EXE, "efwdump", {"--data", dir.file("app.efw")}, 1, "efwdump" + lost},
        {EFWDUMP_EXE,
         "efwdump",
         {"--against", dir.file("app.out"), dir.file("app.efw")},
         1,
         "efwdump" + lost},
        // The image's own fault comes first and keeps its status.
        {EFWDUMP_EXE, "efwdump", {dir.file("broken.efw")}, 1, "efwdump" + lost},
        // What must go to a closed standard output has nowhere to go.
        {COFF2EFW_EXE,
         "coff2efw",
         {"-o", "-", dir.file("app.out")},
         1,
         "coff2efw: error: standard output: cannot write the image: Bad file descriptor\n",
         true},
        {EFWDUMP_EXE,
         "efwdump",
         {"--json", dir.file("app.efw")},
         2,
         "efwdump: error: standard output: Bad file descriptor\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        harness::ChildSetup setup{.stdout_to = harness::StdoutTo::Full};
        if (c.closed)
            setup = {.closed = {1}};
        const auto r = run_program(c.exe, c.program, c.args, "/", {}, setup);
        EXPECT_EQ(r.status, c.status) << r.err;
        ASSERT_GE(r.err.size(), c.err.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - c.err.size()), c.err);
        // One line for the lost output, and before it at most the image's own fault.
        EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    }
}

// An object no warning of the converter concerns: nothing at sections 0 to 4 that would
// become a record further on, and a target whose sizes count bytes.
coffgen::Bytes clean_object() {
    coffgen::Object o = coffgen::example_object();
    o.target_id = 0x00A0;
    for (std::size_t i : {0u, 1u, 3u, 4u})
        o.sections[i].data.clear();
    return coffgen::build(o);
}

// Every file and directory under `root` with its content, by path relative to it.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        files[std::filesystem::relative(e.path(), root).string()] =
            e.is_directory() ? "/" : harness::read_text(e.path().string());
    return files;
}

struct ArgsCase {
    const char* label;
    std::vector<std::string> args; // a leading "@" stands for the working directory
    int status;
    const char* image; // the one file the run adds, the object's image; null for none
    bool listing;      // standard output holds the listing, else nothing
    std::string err;
    bool gbk = false;          // run in a GBK locale, where 0x81 leads a two-byte character
    bool out_is_image = false; // standard output holds the image instead
    harness::StdoutTo stdout_to = harness::StdoutTo::Captured;
    bool bare_name = false; // started as "coff2efw", found on PATH, not as bin/coff2efw
};

// A GBK locale made for this process by localedef, as LOCPATH takes it; empty when
// localedef cannot make one.
const std::string& gbk_locale_path() {
    static const ScratchDir dir;
    static const std::string path = [] {
        const std::string command =
            "localedef -c -f GBK -i zh_CN '" + dir.file("zh_CN.GBK") + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 && file_exists(dir.file("zh_CN.GBK/LC_CTYPE"))
                   ? dir.path
                   : std::string();
    }();
    return path;
}

ArgsCase in_gbk(ArgsCase c) {
    c.gbk = true;
    return c;
}

ArgsCase writes(const char* label, std::vector<std::string> args, const char* image,
                bool listing = true) {
    return {label, std::move(args), 0, image, listing, ""};
}

ArgsCase fails(const char* label, std::vector<std::string> args, const std::string& file) {
    const std::string err =
        "coff2efw: error: " + file + ": cannot open: No such file or directory\n";
    return {label, std::move(args), 1, nullptr, false, err};
}

ArgsCase refused(const char* label, std::vector<std::string> args, const std::string& what) {
    const std::string err = "coff2efw: error: " + what + "\nTry 'coff2efw --help'.\n";
    return {label, std::move(args), 2, nullptr, false, err};
}

// A quiet run on fw/app.out whose image passes --max-size: nothing is written.
ArgsCase too_large(const char* label, std::vector<std::string> args, const std::string& by) {
    args.insert(args.begin(), "-q");
    args.push_back("fw/app.out");
    const std::string err = "coff2efw: error: fw/app.out: the image is 0xad0 bytes, " + by + "\n";
    return {label, std::move(args), 1, nullptr, false, err};
}

class ArgumentLines : public testing::TestWithParam<ArgsCase> {};

// Each line runs in the same tree, the working directory: the converter's directory bin/
// (it is started as bin/coff2efw) with a config.ini naming app.out, the same object in other
// places, two more profiles naming it, and empty directories to write into. What a row does not
// name must stay as it was, byte for byte.
TEST_P(ArgumentLines, WriteWhatTheyNameAndTouchNothingElse) {
    const ArgsCase& c = GetParam();
    ScratchDir dir;
    std::vector<std::string> env;
    if (c.gbk) {
        if (gbk_locale_path().empty())
            GTEST_SKIP() << "localedef cannot make a GBK locale here";
        env = {"LOCPATH=" + gbk_locale_path(), "LC_ALL=zh_CN.GBK"};
    }
    // "d\x81" is a directory whose name ends in a GBK lead byte; "lone.out" has no
    // "lone.efw" beside it.
    for (const char* d : {"bin", "fw", "cfg", "cfg.out", "cfg.efw", "img", "d\x81", "lone.out"})
        ASSERT_EQ(mkdir(dir.file(d).c_str(), 0755), 0);
    for (const char* obj : {"bin/app.out", "fw/app.out", "cfg/app.out", "cfg.out/app.out",
                            "-odd.out", "d\x81/app.out", "lone.out/app.out"})
        coffgen::write_file(dir.file(obj), clean_object());
    for (const char* ini :
         {"bin/config.ini", "cfg/c.ini", "cfg.out/c.ini", "d\x81/cfg.ini", "lone.out/c.ini"})
        harness::write_text(dir.file(ini), kAppConfig);
    auto files = snapshot(dir.path);
    const auto expected = harness::convert_bytes(clean_object());
    if (c.image != nullptr)
        files[c.image] = std::string(expected.image.begin(), expected.image.end());
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(a[0] == '@' ? dir.path + a.substr(1) : a);

    const harness::ChildSetup setup{.stdout_to = c.stdout_to, .time_limit = 60};
    const auto r = run_program(harness::converter_path(), c.bare_name ? "coff2efw" : "bin/coff2efw",
                               args, dir.path, env, setup);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    const std::string image(expected.image.begin(), expected.image.end());
    EXPECT_EQ(r.out, c.out_is_image ? image : c.listing ? expected.console : "");
    EXPECT_EQ(snapshot(dir.path), files);
}

INSTANTIATE_TEST_SUITE_P(
    EndToEnd, ArgumentLines,
    testing::Values(
        writes("no_arguments", {}, "bin/VELTARA-app.efw"),
        writes("input_relative", {"fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("input_absolute", {"@/fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("output_elsewhere", {"-o", "img/x.efw", "fw/app.out"}, "img/x.efw"),
        writes("config_elsewhere", {"--config", "cfg/c.ini"}, "cfg/VELTARA-app.efw"),
        writes("config_whole_path_rule", {"--config=cfg.out/c.ini"}, "cfg.efw/VELTARA-app.efw"),
        // Options without an input: the profile's object is converted, and named.
        ArgsCase{"quiet",
                 {"-q"},
                 0,
                 "bin/VELTARA-app.efw",
                 false,
                 "coff2efw: note: no input given: converting bin/app.out, named by "
                 "bin/config.ini\n"},
        writes("quiet_cluster_after_input", {"fw/app.out", "-qo", "img/x.efw"}, "img/x.efw", false),
        writes("strict_clean_object", {"--strict", "fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("double_dash", {"--", "-odd.out"}, "VELTARA--odd.efw"),
        writes("double_dash_after_options", {"-q", "--", "fw/app.out"}, "fw/VELTARA-app.efw",
               false),
        writes("value_attached_to_short", {"-oimg/x.efw", "fw/app.out"}, "img/x.efw"),
        // Long options shortened to prefixes no other option shares, as getopt takes them.
        writes("long_prefixes", {"--outp=img/x.efw", "--q", "fw/app.out"}, "img/x.efw", false),
        writes("long_prefix_value_next", {"--conf", "cfg/c.ini"}, "cfg/VELTARA-app.efw"),
        writes("long_prefix_flag", {"--st", "fw/app.out"}, "fw/VELTARA-app.efw"),
        // A "/" ends the directory of a typed path in every locale, behind a lead byte too.
        in_gbk(writes("config_behind_a_lead_byte", {"-q", "--config", "d\x81/cfg.ini"},
                      "d\x81/VELTARA-app.efw", false)),
        in_gbk(writes("input_behind_a_lead_byte", {"-q", "d\x81/app.out"}, "d\x81/VELTARA-app.efw",
                      false)),
        in_gbk(writes("output_behind_a_lead_byte", {"-q", "-o", "d\x81/x.efw", "fw/app.out"},
                      "d\x81/x.efw", false)),
        ArgsCase{"config_derived_directory_missing",
                 {"--config", "lone.out/c.ini"},
                 1,
                 nullptr,
                 false,
                 "coff2efw: error: lone.efw/VELTARA-app.efw: cannot create a temporary file "
                 "beside it: No such file or directory (the directory lone.efw/ comes from "
                 "replacing every \".out\" in the whole path by \".efw\")\n"},
        // Formerly EndToEnd.OtherArgumentsAreIgnored, which converted bin/app.out for the
        // line `other.out -x`: a named input is the one converted or reported, and an
        // unknown option is refused.
        fails("missing_input", {"other.out"}, "other.out"),
        // Started by a bare name, it looked for config.ini in the working directory.
        ArgsCase{.label = "no_profile_in_the_working_directory",
                 .args = {},
                 .status = 1,
                 .image = nullptr,
                 .listing = false,
                 .err = "coff2efw: error: ZOV-KARN.efw: cannot open: No such file or directory "
                        "(no config.ini in the working directory named an input; try 'coff2efw "
                        "app.out')\n",
                 .bare_name = true},
        refused("unknown_short", {"other.out", "-x"}, "unknown option '-x'"),
        fails("missing_config", {"--config", "cfg/none.ini"}, "cfg/none.ini"),
        refused("unknown_long", {"--bogus=1"}, "unknown option '--bogus'"),
        refused("two_inputs", {"fw/app.out", "cfg/app.out"},
                "more than one input: 'fw/app.out' and 'cfg/app.out'"),
        refused("no_value", {"fw/app.out", "-o"}, "option '-o' needs a value"),
        refused("empty_value", {"--config=", "fw/app.out"}, "option '--config' needs a value"),
        refused("flag_with_value", {"--quiet=yes"}, "option '--quiet' takes no value"),
        refused("output_twice", {"-o", "img/a.efw", "--output", "img/b.efw"},
                "option '--output' given twice"),
        refused("input_and_config", {"--config", "cfg/c.ini", "fw/app.out"},
                "an input and --config cannot be given together"),
        refused("input_and_config_prefix", {"--c=cfg/c.ini", "fw/app.out"},
                "an input and --config cannot be given together"),
        // A shortened option is named in full in what is wrong with it.
        refused("prefix_flag_with_value", {"--str=1"}, "option '--strict' takes no value"),
        refused("prefix_no_value", {"fw/app.out", "--out"}, "option '--output' needs a value"),
        refused("prefix_twice", {"--out", "img/a.efw", "-oimg/b.efw"}, "option '-o' given twice"),
        refused("empty_long_name", {"--=x"}, "empty option name in '--=x'"),
        refused("longer_than_any_option", {"--quieter"},
                "unknown option '--quieter'; did you mean '--quiet'?"),
        refused("input_after_double_dash_is_one_more", {"fw/app.out", "--", "-odd.out"},
                "more than one input: 'fw/app.out' and '-odd.out'"),
        refused("double_dash_twice", {"--", "--", "fw/app.out"},
                "more than one input: '--' and 'fw/app.out'"),
        // An option written the Windows way is a file first; only when there is none is
        // the user told how options are written, and never after "--".
        ArgsCase{
            "windows_style_option",
            {"/q"},
            1,
            nullptr,
            false,
            "coff2efw: error: /q: cannot open: No such file or directory (options start with '-'; "
            "try 'coff2efw --help')\n"},
        fails("windows_style_after_double_dash", {"--", "/q"}, "/q"),
        fails("slash_and_three_letters", {"/abc"}, "/abc"),
        // The clean object's image is 0xad0 (2768) bytes.
        writes("max_size_at_the_image_size", {"--max-size", "2768", "fw/app.out"},
               "fw/VELTARA-app.efw"),
        writes("max_size_hexadecimal", {"--max-size=0xAD0", "fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("max_size_in_kib", {"--max-size=3K", "fw/app.out"}, "fw/VELTARA-app.efw"),
        // Given twice it is a usage error, as every option with a value is.
        refused("max_size_twice", {"--max-size=1", "--max-size=1M", "fw/app.out"},
                "option '--max-size' given twice"),
        too_large("max_size_one_byte_short", {"--max-size=0xacf"},
                  "0x1 more than --max-size 0xacf"),
        too_large("max_size_2k", {"--max-size", "2K"}, "0x2d0 more than --max-size 0x800"),
        // --pad-to fills behind the terminator; --max-size counts the filled size.
        writes("pad_to_the_image_size", {"--pad-to", "2768", "fw/app.out"}, "fw/VELTARA-app.efw"),
        too_large("pad_to_one_byte_short", {"--pad-to=0xacf"}, "0x1 more than --pad-to 0xacf"),
        ArgsCase{"max_size_counts_the_fill",
                 {"-q", "--pad-to=4K", "--max-size=0xfff", "fw/app.out"},
                 1,
                 nullptr,
                 false,
                 "coff2efw: error: fw/app.out: the image is 0x1000 bytes, 0x1 more than "
                 "--max-size 0xfff\n"},
        refused("max_size_not_a_size", {"--max-size=12Q", "fw/app.out"},
                "invalid size '12Q' for '--max-size': give bytes in decimal or 0x hexadecimal, "
                "optionally followed by K, KiB, KB, M, MiB, MB, G, GiB or GB"),
        refused("max_size_past_64_bits", {"--max-size=0x10000000000000000"},
                "invalid size '0x10000000000000000' for '--max-size': give bytes in decimal or "
                "0x hexadecimal, optionally followed by K, KiB, KB, M, MiB, MB, G, GiB or GB"),
        refused("max_size_without_value", {"fw/app.out", "--max-size"},
                "option '--max-size' needs a value"),
        writes("werror_clean_object", {"-Werror", "fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("warning_options_in_a_cluster", {"-qWno-left-out", "-Werror=overlap", "fw/app.out"},
               "fw/VELTARA-app.efw", false),
        refused("unknown_warning", {"-Wno-bogus", "fw/app.out"},
                "unknown warning option '-Wno-bogus'; the warning names are left-out, version, "
                "word-target, unlinked, boot-offset-0, empty-image, listing, opt-header, "
                "overlap"),
        refused("misspelt_warning_name", {"-Wno-error=word-targte", "fw/app.out"},
                "unknown warning option '-Wno-error=word-targte'; did you mean "
                "'-Wno-error=word-target'?"),
        refused("warning_option_without_a_name", {"-W", "left-out", "fw/app.out"},
                "option '-W' needs a value"),
        refused("unknown_option_with_a_control_byte",
                {"--a\x1b"
                 "b"},
                "unknown option '--a\\x1bb'"),
        // "-" is standard output, which then holds the image and no listing, whether or
        // not -q was given; a terminal there would only show garbage.
        ArgsCase{.label = "image_to_standard_output",
                 .args = {"-o", "-", "fw/app.out"},
                 .status = 0,
                 .image = nullptr,
                 .listing = false,
                 .out_is_image = true},
        ArgsCase{.label = "image_to_standard_output_from_a_profile",
                 .args = {"-q", "--output=-", "--config", "cfg/c.ini"},
                 .status = 0,
                 .image = nullptr,
                 .listing = false,
                 .out_is_image = true},
        // Standard output under another name is standard output all the same.
        ArgsCase{.label = "image_to_dev_stdout",
                 .args = {"-o", "/dev/stdout", "fw/app.out"},
                 .status = 0,
                 .image = nullptr,
                 .listing = false,
                 .out_is_image = true},
        ArgsCase{.label = "map_onto_standard_output",
                 .args = {"-o", "-", "--map", "/dev/stdout", "fw/app.out"},
                 .status = 1,
                 .image = nullptr,
                 .listing = false,
                 .err = "coff2efw: error: /dev/stdout: the map needs a file; standard output "
                        "takes the image or the listing\n"},
        // Two spellings of one new file are one file.
        ArgsCase{.label = "map_onto_the_image_not_yet_there",
                 .args = {"-q", "-o", "img/x.efw", "--map", "img/./x.efw", "fw/app.out"},
                 .status = 1,
                 .image = nullptr,
                 .listing = false,
                 .err = "coff2efw: error: img/./x.efw: the map would replace the image; nothing "
                        "was written\n"},
        ArgsCase{.label = "image_to_a_terminal",
                 .args = {"-o", "-", "fw/app.out"},
                 .status = 2,
                 .image = nullptr,
                 .listing = false,
                 .err = "coff2efw: error: standard output is a terminal; the image is not "
                        "written to it (redirect it, or name a file with -o)\nTry 'coff2efw "
                        "--help'.\n",
                 .stdout_to = harness::StdoutTo::Terminal}),
    [](const auto& p) { return std::string(p.param.label); });

} // namespace
