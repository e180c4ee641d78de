// The built program started as its users start it: a chosen argument zero, config.ini
// beside it, exit status and messages pinned, and no output lost on failure.
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

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

coffgen::Bytes data_past_end() {
    coffgen::Object o = coffgen::example_object();
    o.sections[6].size = 0x10000;
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
    bool out_is_image = false; // standard output holds the image instead
    harness::StdoutTo stdout_to = harness::StdoutTo::Captured;
};

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

class ArgumentLines : public testing::TestWithParam<ArgsCase> {};

// Each line runs in the same tree, the working directory: the converter's directory bin/
// with a config.ini naming app.out, the same object in other places, two more profiles
// naming it, and empty directories to write into. What a row does not name must stay as
// it was, byte for byte.
TEST_P(ArgumentLines, WriteWhatTheyNameAndTouchNothingElse) {
    const ArgsCase& c = GetParam();
    ScratchDir dir;
    for (const char* d : {"bin", "fw", "cfg", "cfg.out", "cfg.efw", "img"})
        ASSERT_EQ(mkdir(dir.file(d).c_str(), 0755), 0);
    for (const char* obj :
         {"bin/app.out", "fw/app.out", "cfg/app.out", "cfg.out/app.out", "-odd.out"})
        coffgen::write_file(dir.file(obj), clean_object());
    for (const char* ini : {"bin/config.ini", "cfg/c.ini", "cfg.out/c.ini"})
        harness::write_text(dir.file(ini), kAppConfig);
    auto files = snapshot(dir.path);
    const auto expected = harness::convert_bytes(clean_object());
    if (c.image != nullptr)
        files[c.image] = std::string(expected.image.begin(), expected.image.end());
    std::vector<std::string> args;
    for (const std::string& a : c.args)
        args.push_back(a[0] == '@' ? dir.path + a.substr(1) : a);

    const harness::ChildSetup setup{.stdout_to = c.stdout_to, .time_limit = 60};
    const auto r =
        run_program(harness::converter_path(), dir.file("bin/coff2efw"), args, dir.path, {}, setup);
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
        writes("quiet", {"-q"}, "bin/VELTARA-app.efw", false),
        writes("quiet_cluster_after_input", {"fw/app.out", "-qo", "img/x.efw"}, "img/x.efw", false),
        writes("strict_clean_object", {"--strict", "fw/app.out"}, "fw/VELTARA-app.efw"),
        writes("double_dash", {"--", "-odd.out"}, "VELTARA--odd.efw"),
        // Formerly EndToEnd.OtherArgumentsAreIgnored, which converted bin/app.out for the
        // line `other.out -x`: a named input is the one converted or reported, and an
        // unknown option is refused.
        fails("missing_input", {"other.out"}, "other.out"),
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
