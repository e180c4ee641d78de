// The output side failing under the built program: a file system that stops taking bytes
// part-way through the image, and a directory the user may not write to. Either way the
// run ends with status 1 and one line, and the image from an earlier run survives.
#include "image/image_passes.h"
#include "run/run_sequence.h"
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <filesystem>
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

// An object whose image is `data_bytes` of load records and a little more.
Bytes object_with_data(std::size_t data_bytes) {
    Object o;
    o.sections = coffgen::leading_sections();
    for (Section& s : o.sections)
        s.flags = 0x10; // copy sections: no warning stands before the error line
    std::uint8_t seed = 1;
    for (std::size_t left = data_bytes; left > 0;) {
        const std::size_t n = left < 30000 ? left : 30000;
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

harness::ProcessResult run_in(const ScratchDir& dir, const harness::ChildSetup& setup) {
    return harness::run_program(dir.file("coff2efw"), dir.file("coff2efw"), {}, "/", {}, setup);
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
};

class PartialWrites : public testing::TestWithParam<PartialWrite> {};

TEST_P(PartialWrites, FailTheRunAndKeepTheOldImage) {
    const PartialWrite& c = GetParam();
    const Bytes old_image = harness::convert_bytes(coffgen::build(coffgen::example_object())).image;
    const Bytes object = object_with_data(c.data_bytes);
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
        PartialWrite{"cut_inside_the_boot_region", 20000, 1024, "cannot write the image"},
        PartialWrite{"cut_at_the_final_flush", 20000, 4096, "cannot write the image"},
        PartialWrite{"cut_in_a_nearly_full_buffer", kBuf - 4096, kBuf - 8192,
                     "cannot write the image"},
        PartialWrite{"cut_after_one_full_buffer", 3 * kBuf, kBuf,
                     "cannot write at image offset 0x"},
        PartialWrite{"cut_inside_the_second_buffer", 3 * kBuf, kBuf + kBuf / 2,
                     "cannot write at image offset 0x"},
        PartialWrite{"cut_one_byte_short", 3 * kBuf, -1, "cannot write"},
        PartialWrite{"cut_inside_a_copy_piece", 4 * kCopyBufferSize,
                     2 * kCopyBufferSize + kCopyBufferSize / 2, "cannot write at image offset 0x"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(OutputFaults, DirectoryWithoutWritePermission) {
    ScratchDir dir;
    lay_out(dir, coffgen::build(coffgen::example_object()));
    const Bytes old_image = harness::convert_bytes(coffgen::build(coffgen::example_object())).image;
    coffgen::write_file(dir.file(kOutput), old_image);
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

} // namespace
