// The output side failing under the built program: a file system that stops taking bytes
// part-way through the image, and a directory the user may not write to. Either way the
// run ends with status 1 and one line, and the image from an earlier run survives.
#include "image/image_passes.h"
#include "run/run_sequence.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::Section;
using harness::list_dir;
using harness::ScratchDir;

using harness::kAppConfig;
const char kOutput[] = "VELTARA-app.efw";

// An object whose image is `data_bytes` of load records of `section_bytes` each (the last
// one shorter) and a little more.
Bytes object_with_data(std::size_t data_bytes, std::size_t section_bytes = 30000) {
    Object o;
    o.sections = coffgen::leading_sections();
    for (Section& s : o.sections)
        s.flags = 0x10; // copy sections: no warning stands before the error line
    std::uint8_t seed = 1;
    for (std::size_t left = data_bytes; left > 0;) {
        const std::size_t n = left < section_bytes ? left : section_bytes;
        // Each at its own address: records that overlap would warn.
        o.sections.push_back(Section{.name = ".text",
                                     .data = coffgen::pattern(n, seed++),
                                     .virt = static_cast<std::int32_t>(data_bytes - left)});
        left -= n;
    }
    return coffgen::build(o);
}

// The converter, the configuration and the object in one directory, as users lay them out;
// the converter is copied in so that a less privileged user can reach everything.
void lay_out(const ScratchDir& dir, const Bytes& object) {
    std::filesystem::copy_file(harness::converter_path(), dir.file("coff2efw"));
    ASSERT_EQ(chmod(dir.file("coff2efw").c_str(), 0755), 0);
    harness::write_text(dir.file("config.ini"), kAppConfig);
    coffgen::write_file(dir.file("app.out"), object);
    ASSERT_EQ(chmod(dir.file("config.ini").c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.file("app.out").c_str(), 0644), 0);
}

harness::ProcessResult run_in(const ScratchDir& dir, const harness::ChildSetup& setup,
                              const std::vector<std::string>& args = {}) {
    return harness::run_program(dir.file("coff2efw"), dir.file("coff2efw"), args, "/", {}, setup);
}

// Whether every directory above `path` lets other users pass.
bool reachable_by_anyone(const std::filesystem::path& path) {
    for (auto p = path.parent_path(); !p.empty(); p = p.parent_path()) {
        const auto perms = std::filesystem::status(p).permissions();
        if ((perms & std::filesystem::perms::others_exec) == std::filesystem::perms::none)
            return false;
        if (p == p.root_path())
            break;
    }
    return true;
}

struct PartialWrite {
    const char* label;
    std::size_t data_bytes; // section data in the object
    // Bytes any file may grow to; a negative value is that many bytes short of the image.
    std::int64_t limit;
    std::string message_start; // after "coff2efw: error: <dir>/VELTARA-app.efw: "
    std::size_t section_bytes = 30000;
};

class PartialWrites : public testing::TestWithParam<PartialWrite> {};

TEST_P(PartialWrites, FailTheRunAndKeepTheOldImage) {
    const PartialWrite& c = GetParam();
    const Bytes old_image = harness::convert_bytes(coffgen::build(coffgen::example_object())).image;
    const Bytes object = object_with_data(c.data_bytes, c.section_bytes);
    const std::size_t image_size = harness::convert_bytes(object).image.size();
    const auto limit = c.limit < 0 ? image_size - static_cast<std::size_t>(-c.limit)
                                   : static_cast<std::size_t>(c.limit);
    ASSERT_LT(limit, image_size) << "the image must not fit";

    for (const bool had_output : {true, false}) {
        SCOPED_TRACE(had_output ? "with an earlier image" : "without an earlier image");
        ScratchDir dir;
        lay_out(dir, object);
        if (had_output)
            coffgen::write_file(dir.file(kOutput), old_image);
        const auto before = list_dir(dir.path);

        const auto r = run_in(dir, {.file_size_limit = limit});
        EXPECT_EQ(r.status, 1) << r.err;
        const std::string prefix = "coff2efw: error: " + dir.file(kOutput) + ": " + c.message_start;
        EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
        EXPECT_TRUE(r.err.ends_with(": File too large\n")) << r.err;
        EXPECT_EQ(list_dir(dir.path), before) << "a temporary file was left behind";
        if (had_output) {
            EXPECT_EQ(coffgen::read_file(dir.file(kOutput)), old_image);
        }
    }
}

// An image smaller than the output stream's buffer reaches the file system only when it
// is flushed at the end; a larger one fails in the middle of the load pass, when a full
// buffer is written. The limit binds the captured console as well, so each leaves room
// for the error line.
constexpr std::size_t kBuf = kOutputBufferSize;
INSTANTIATE_TEST_SUITE_P(
    OutputFaults, PartialWrites,
    testing::Values(
        PartialWrite{"cut_inside_the_boot_region", kBuf / 2, 1024, "cannot write the image"},
        PartialWrite{"cut_at_the_final_flush", kBuf / 2, 4096, "cannot write the image"},
        PartialWrite{"cut_in_a_nearly_full_buffer", kBuf - 4096, kBuf - 8192,
                     "cannot write the image"},
        PartialWrite{"cut_after_one_full_buffer", 3 * kBuf, kBuf,
                     "cannot write at image offset 0x"},
        PartialWrite{"cut_inside_the_second_buffer", 3 * kBuf, kBuf + kBuf / 2,
                     "cannot write at image offset 0x"},
        PartialWrite{"cut_one_byte_short", 3 * kBuf, -1, "cannot write"},
        PartialWrite{"cut_inside_a_copy_piece", 4 * kCopyBufferSize,
                     2 * kCopyBufferSize + kCopyBufferSize / 2, "cannot write at image offset 0x"},
        PartialWrite{"cut_inside_a_record_copied_in_the_kernel", 4 * kCopyBufferSize,
                     2 * kCopyBufferSize + kCopyBufferSize / 2, "cannot write at image offset 0x",
                     kCopyBufferSize}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(OutputFaults, DirectoryWithoutWritePermission) {
    ScratchDir dir;
    lay_out(dir, coffgen::build(coffgen::example_object()));
    const Bytes old_image = harness::convert_bytes(coffgen::build(coffgen::example_object())).image;
    coffgen::write_file(dir.file(kOutput), old_image);
    // The image itself may be written by anyone: only the directory stands in the way.
    ASSERT_EQ(chmod(dir.file(kOutput).c_str(), 0666), 0);
    ASSERT_EQ(chmod(dir.path.c_str(), 0555), 0);

    // Root writes to a read-only directory anyway, so the run drops to a user who cannot.
    harness::ChildSetup setup;
    if (geteuid() == 0)
        setup.uid = harness::kNobody;
    else if (access(dir.path.c_str(), W_OK) == 0)
        GTEST_SKIP() << "this user can write to a read-only directory";
    if (setup.uid && !reachable_by_anyone(dir.path))
        GTEST_SKIP() << "the scratch directory lies out of the unprivileged user's reach";
    const auto before = list_dir(dir.path);

    const auto r = run_in(dir, setup);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "coff2efw: error: " + dir.file(kOutput) +
                         ": cannot create a temporary file beside it: Permission denied\n");
    EXPECT_EQ(list_dir(dir.path), before);
    EXPECT_EQ(coffgen::read_file(dir.file(kOutput)), old_image);
}

// What stands at the output path before a run: a link, a device, a FIFO, an image with
// its own permissions. Each run is `-q -o <dir>/out <dir>/app.out`.
enum class Target {
    kLinkToImage,               // out -> old.efw
    kLinkChain,                 // out -> hop -> sub/old.efw
    kLinkToNull,                // out -> /dev/null
    kLinkToFull,                // out -> /dev/full
    kFifo,                      // a FIFO with a reader
    kImageMode0604,             // an image of mode 0604 (and, for root, group 65534)
    kWriteProtected,            // an image of mode 0444, replaced by a user who is not root
    kWriteProtectedForThisUser, // the same, by whoever runs the suite
};

struct TargetCase {
    const char* label;
    Target target;
    int status;
    std::string err; // after "coff2efw: error: <dir>/out: "; empty: nothing on standard error
    const char* image_in = nullptr;        // the file that then holds the new image
    std::vector<std::string> options = {}; // before -q -o
    std::size_t data_bytes = 0;            // the object: one record of this size, or the example
};

class OutputTargets : public testing::TestWithParam<TargetCase> {};

// Every regular file under `root` with its content and permission bits, and every link
// with its text: what a run may change, and the temporaries it must not leave.
std::map<std::string, std::string> tree(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        // Lexically: relative() would follow the links this is to show.
        const std::string name = e.path().lexically_relative(root).string();
        if (name == "coff2efw")
            continue; // the converter itself
        struct stat st;
        if (lstat(e.path().c_str(), &st) != 0)
            throw std::runtime_error("lstat failed: " + name);
        const std::string mode = std::to_string(st.st_mode) + "." + std::to_string(st.st_gid) + ":";
        if (S_ISLNK(st.st_mode))
            entries[name] = mode + std::filesystem::read_symlink(e.path()).string();
        else if (S_ISREG(st.st_mode))
            entries[name] = mode + harness::read_text(e.path().string());
        else
            entries[name] = mode;
    }
    return entries;
}

TEST_P(OutputTargets, GoWhereTheyLead) {
    const TargetCase& c = GetParam();
    ScratchDir dir;
    const Bytes object = c.data_bytes == 0 ? coffgen::build(coffgen::example_object())
                                           : object_with_data(c.data_bytes, c.data_bytes);
    lay_out(dir, object);
    const Bytes image = harness::convert_bytes(object).image;
    const std::string out = dir.file("out");
    harness::ChildSetup setup{.time_limit = 60};
    bool refused_to_this_user = false;
    int fifo = -1;
    switch (c.target) {
    case Target::kLinkToImage:
        harness::write_text(dir.file("old.efw"), "old");
        ASSERT_EQ(symlink("old.efw", out.c_str()), 0);
        break;
    case Target::kLinkChain:
        ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
        harness::write_text(dir.file("sub/old.efw"), "old");
        ASSERT_EQ(symlink("sub/old.efw", dir.file("hop").c_str()), 0);
        ASSERT_EQ(symlink(dir.file("hop").c_str(), out.c_str()), 0);
        break;
    case Target::kLinkToNull:
        ASSERT_EQ(symlink("/dev/null", out.c_str()), 0);
        break;
    case Target::kLinkToFull:
        ASSERT_EQ(symlink("/dev/full", out.c_str()), 0);
        break;
    case Target::kFifo:
        ASSERT_EQ(mkfifo(out.c_str(), 0644), 0);
        // Open before the run: the converter's open, which waits for a reader as the
        // shell's does, returns at once. The image fits the pipe's buffer.
        fifo = open(out.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fifo, 0);
        fcntl(fifo, F_SETPIPE_SZ, 1 << 20); // room for a large record, where this user may
        ASSERT_LT(image.size(), static_cast<std::size_t>(fcntl(fifo, F_GETPIPE_SZ)));
        break;
    case Target::kImageMode0604:
        harness::write_text(out, "old");
        ASSERT_EQ(chmod(out.c_str(), 0604), 0);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(out.c_str(), static_cast<uid_t>(-1), harness::kNobody), 0);
        }
        break;
    case Target::kWriteProtected:
    case Target::kWriteProtectedForThisUser:
        harness::write_text(out, "old");
        ASSERT_EQ(chmod(out.c_str(), 0444), 0);
        // The directory lets anyone replace a file in it: only the file's own mode can
        // keep it.
        ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);
        if (c.target == Target::kWriteProtected && geteuid() == 0) {
            if (!reachable_by_anyone(dir.path))
                GTEST_SKIP() << "the scratch directory lies out of the unprivileged user's reach";
            setup.uid = harness::kNobody;
        }
        // As cp: root may write to any file, so for root the image is replaced.
        refused_to_this_user = c.target == Target::kWriteProtected || geteuid() != 0;
        break;
    }
    auto expected = tree(dir.path);
    const char* image_in = refused_to_this_user && c.target == Target::kWriteProtectedForThisUser
                               ? nullptr
                               : c.image_in;
    if (image_in != nullptr) {
        std::string& entry = expected[image_in];
        entry = entry.substr(0, entry.find(':') + 1) + std::string(image.begin(), image.end());
    }

    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-q", "-o", out, dir.file("app.out")});
    const auto r = run_in(dir, setup, args);
    const bool refused = c.target == Target::kWriteProtectedForThisUser && refused_to_this_user;
    EXPECT_EQ(r.status, refused ? 1 : c.status) << r.err;
    const std::string err = refused ? "the image is write-protected; nothing was replaced" : c.err;
    EXPECT_EQ(r.err, err.empty() ? "" : "coff2efw: error: " + out + ": " + err + "\n");
    // Links, modes, groups and other files as they were, no temporary left behind.
    EXPECT_EQ(tree(dir.path), expected);
    if (fifo >= 0) {
        std::string got(image.size() + 1, '\0');
        const ssize_t n = read(fifo, got.data(), got.size());
        close(fifo);
        // A run that fails from its layout sends nothing down the FIFO.
        EXPECT_EQ(got.substr(0, n > 0 ? static_cast<std::size_t>(n) : 0),
                  c.status == 0 ? std::string(image.begin(), image.end()) : "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutputFaults, OutputTargets,
    testing::Values(TargetCase{"link_to_an_image", Target::kLinkToImage, 0, "", "old.efw"},
                    TargetCase{"chain_of_links_into_another_directory", Target::kLinkChain, 0, "",
                               "sub/old.efw"},
                    TargetCase{"link_to_the_null_device", Target::kLinkToNull, 0, ""},
                    TargetCase{"link_to_the_full_device", Target::kLinkToFull, 1,
                               "cannot write the image: No space left on device"},
                    TargetCase{"fifo_with_a_reader", Target::kFifo, 0, ""},
                    TargetCase{"fifo_taking_a_record_copied_in_the_kernel",
                               Target::kFifo,
                               0,
                               "",
                               nullptr,
                               {},
                               3 * kKernelCopyFrom + 1},
                    TargetCase{"fifo_and_addresses_past_32_bits",
                               Target::kFifo,
                               1,
                               "image offset 0x800 lies past the 32-bit address range from base "
                               "0xfffff800",
                               nullptr,
                               {"-O", "ihex", "--base", "0xFFFFF800"}},
                    TargetCase{"image_keeps_its_mode_and_group", Target::kImageMode0604, 0, "",
                               "out"},
                    TargetCase{"write_protected_image", Target::kWriteProtected, 1,
                               "the image is write-protected; nothing was replaced"},
                    TargetCase{"write_protected_image_as_cp_sees_it",
                               Target::kWriteProtectedForThisUser, 0, "", "out"}),
    [](const auto& p) { return std::string(p.param.label); });

} // namespace
