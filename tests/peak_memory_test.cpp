// The converter keeps everything in fixed storage: its peak resident size must not grow
// with the number of sections, the bytes of section data it copies or the size of its
// config.ini.
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using coffgen::Object;
using coffgen::Section;

// The full section table: five leading sections and 2043 load records of `each` bytes.
Object full_table(std::size_t each) {
    Object o;
    o.sections = coffgen::leading_sections();
    for (unsigned i = 5; i < 2048; ++i)
        o.sections.push_back(Section{.name = ".text",
                                     .data = coffgen::pattern(each, static_cast<std::uint8_t>(i)),
                                     .virt = static_cast<std::int32_t>(i * 0x10000)});
    return o;
}

struct Measured {
    const char* label;
    std::size_t image_size;
    long peak_rss_kib;
};

// In a sanitized build, AddressSanitizer's use-after-return detection hands every call a
// fresh frame from a large ring and so touches new pages in proportion to the number of
// calls until the ring wraps, and its quarantine keeps freed blocks back, so that memory
// grows with the number of allocations: the tool's memory, not the converter's. Options
// later in the list win.
// The allocator of a sanitized build keeps a region per size class, so a few more kinds of
// allocation cost more pages there; what grows with the input stays far above this.
constexpr long kOutputCostKib = sizeof(SANITIZER_PROBE_EXE) > 1 ? 4 * 1024 : 1024;

std::string without_call_count_memory() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (options != nullptr ? options : "") +
           ":detect_stack_use_after_return=0:quarantine_size_mb=0:thread_local_quarantine_size_kb="
           "0";
}

Measured measure(const char* label, const Object& object,
                 const std::string& config = harness::kAppConfig,
                 const std::vector<std::string>& options = {}) {
    harness::ScratchDir dir;
    harness::write_text(dir.file("config.ini"), config);
    coffgen::write_file(dir.file("app.out"), coffgen::build(object));
    const std::string peak = dir.file("peak");
    std::vector<std::string> args{peak, harness::converter_path(), dir.file("coff2efw")};
    args.insert(args.end(), options.begin(), options.end());
    for (std::string& a : args)
        a = a[0] == '@' ? dir.file(a.substr(1)) : a;
    const auto r = harness::run_program(MEASURE_PEAK_EXE, "measure_peak", args, "/",
                                        {without_call_count_memory()});
    EXPECT_EQ(r.status, 0) << label << ": " << r.err;
    Measured m{label, 0, 0};
    if (harness::file_exists(dir.file("VELTARA-app.efw")))
        m.image_size = coffgen::read_file(dir.file("VELTARA-app.efw")).size();
    if (harness::file_exists(peak))
        m.peak_rss_kib = std::stol(harness::read_text(peak));
    const bool report = std::find(options.begin(), options.end(), "--report") != options.end();
    EXPECT_EQ(harness::file_exists(dir.file("app.html")), report) << label;
    return m;
}

// 100 MB before the value: half in comment lines, half in one line.
std::string huge_config() {
    std::string text;
    const std::string comment = "; " + std::string(77, '-') + "\n";
    while (text.size() < 50'000'000)
        text += comment;
    text += "X=" + std::string(50'000'000, 'x') + "\n";
    return text + harness::kAppConfig;
}

// 64 sections whose long names all point at one name of nearly 1 MiB in the string
// table: a map that held its document would hold that name 64 times.
Object one_long_name_64_times() {
    Object o;
    o.sections = coffgen::leading_sections();
    o.string_table = true;
    o.strings = {std::string((std::size_t{1} << 20) - 16, 'n')};
    for (unsigned i = 0; i < 64; ++i)
        o.sections.push_back(Section{.name = "",
                                     .name_offset = 4,
                                     .data = coffgen::pattern(16, static_cast<std::uint8_t>(i)),
                                     .virt = static_cast<std::int32_t>(i * 0x100)});
    return o;
}

TEST(PeakMemory, TheMapCostsNoMemoryOfItsLength) {
    const Object o = one_long_name_64_times();
    const Measured without = measure("long names", o);
    const Measured with =
        measure("long names, --map", o, harness::kAppConfig, {"--map", "@m.json"});
    std::printf("peak resident size, %s: %ld KiB; %s: %ld KiB\n", without.label,
                without.peak_rss_kib, with.label, with.peak_rss_kib);
    EXPECT_GT(without.peak_rss_kib, 0);
    EXPECT_LE(with.peak_rss_kib - without.peak_rss_kib, kOutputCostKib);
}

TEST(PeakMemory, StaysFlatAsSectionsAndDataGrow) {
    const std::size_t each = 32 * 1024; // 2043 of them: about 64 MiB
    const Measured runs[] = {
        measure("example object", coffgen::example_object()),
        measure("2048 sections of 16 bytes", full_table(16)),
        measure("2048 sections of 32 KiB", full_table(each)),
        measure("example object, 100 MB config.ini", coffgen::example_object(), huge_config()),
        measure("2048 sections of 16 bytes, --report", full_table(16), harness::kAppConfig,
                {"--report", "@app.html"}),
    };
    ASSERT_EQ(runs[2].image_size, 0x804 + 2043 * (8 + each) + 8) << "not the whole data copied";
    ASSERT_EQ(runs[3].image_size, runs[0].image_size) << "the value after 100 MB was not found";

    long lowest = runs[0].peak_rss_kib;
    long highest = runs[0].peak_rss_kib;
    for (const Measured& r : runs) {
        std::printf("peak resident size, %s (%zu-byte image): %ld KiB\n", r.label, r.image_size,
                    r.peak_rss_kib);
        lowest = r.peak_rss_kib < lowest ? r.peak_rss_kib : lowest;
        highest = r.peak_rss_kib > highest ? r.peak_rss_kib : highest;
    }
    EXPECT_GT(lowest, 0);
    // Allocator and stream noise stay far below this; one buffer per section or a copy
    // of the data would not.
    EXPECT_LE(highest - lowest, 4 * 1024) << "peak resident size grows with the input";
    EXPECT_LE(runs[4].peak_rss_kib - runs[1].peak_rss_kib, kOutputCostKib)
        << "the report holds the page";
}

// An image of `count` one-byte records, each with its padding byte.
coffgen::Bytes one_byte_records(std::size_t count) {
    coffgen::Bytes image(0x804, 0);
    for (std::size_t k = 0; k < count; ++k) {
        const auto dest = static_cast<std::uint32_t>(k);
        const unsigned char rec[10] = {1,
                                       0,
                                       0,
                                       0,
                                       static_cast<unsigned char>(dest),
                                       static_cast<unsigned char>(dest >> 8),
                                       static_cast<unsigned char>(dest >> 16),
                                       0,
                                       static_cast<unsigned char>(k),
                                       0};
        image.insert(image.end(), rec, rec + sizeof rec);
    }
    image.resize(image.size() + 8, 0); // the terminator
    return image;
}

// efwdump's description of an image is written record by record: it takes the memory of
// the plain listing, whatever the number of records.
TEST(PeakMemory, EfwdumpJsonStaysAtTheListingsPeak) {
    harness::ScratchDir dir;
    coffgen::write_file(dir.file("many.efw"), one_byte_records(100'000));
    const struct {
        const char* label;
        std::vector<std::string> args;
    } runs[] = {
        {"listing", {dir.file("many.efw")}},
        {"--json", {"--json", dir.file("many.efw")}},
    };
    long peak[2] = {};
    for (std::size_t k = 0; k < 2; ++k) {
        std::vector<std::string> args = {dir.file("peak"), EFWDUMP_EXE, "efwdump"};
        args.insert(args.end(), runs[k].args.begin(), runs[k].args.end());
        const auto r = harness::run_program(MEASURE_PEAK_EXE, "measure_peak", args, "/",
                                            {without_call_count_memory()}, {});
        EXPECT_EQ(r.status, 0) << runs[k].label << ": " << r.err;
        peak[k] = std::stol(harness::read_text(dir.file("peak")));
        std::printf("peak resident size, efwdump %s, 100000 records: %ld KiB\n", runs[k].label,
                    peak[k]);
    }
    EXPECT_LE(peak[1] - peak[0], kOutputCostKib) << "--json grows with the number of records";
}

} // namespace
