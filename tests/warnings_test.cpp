// Objects that convert and yet lose data or were probably misread: the built program
// says so on standard error while listing, image and status stay as they were; under
// --strict the same lines are errors and an earlier image survives byte for byte.
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using harness::StdoutTo;

struct WarningCase {
    const char* label;
    Bytes object;
    std::vector<std::string> warnings; // each after "coff2efw: warning: <input>: "
    StdoutTo stdout_to = StdoutTo::Captured;
};

Bytes example_with(void (*change)(Object&)) {
    Object o = coffgen::example_object();
    change(o);
    return coffgen::build(o);
}

const std::string kWords = "counts section sizes in 16-bit words, but a load record takes "
                           "SectSize as bytes: ";
const std::string kVersion = " is not 0xc2, the version whose section headers are 48 bytes: "
                             "the section table is probably misread";

std::vector<WarningCase> rows() {
    const Bytes example = example_with([](Object&) {});
    return {
        {"example", example, {}},
        {"word_target_boot_data_only",
         example_with([](Object& o) { o.target_id = 0x98, o.sections.resize(3); }),
         {}},
        {"code_at_index_1",
         example_with([](Object& o) { std::swap(o.sections[1], o.sections[5]); }),
         {"section 1 (.text): 0x1f3 bytes are left out of the image: sections 0 to 4 never "
          "become load records"}},
        {"version_c1",
         example_with([](Object& o) { o.version = 0xC1; }),
         {"file header version 0xc1" + kVersion}},
        {"word_target_9d",
         example_with([](Object& o) { o.target_id = 0x9D; }),
         {"target 0x9d " + kWords +
          "4 records, the first of section 5 (.text), carry half of their sections' data"}},
        {"word_target_98_other_records_count_bytes",
         example_with([](Object& o) {
             o.target_id = 0x98;
             for (std::size_t i = 6; i < o.sections.size(); ++i)
                 o.sections[i].reserved = 8;
         }),
         {"target 0x98 " + kWords + "the record of section 5 (.text) carries half of its data"}},
        {"unlinked",
         example_with([](Object& o) { o.opt = std::nullopt; }),
         {"no optional header (usOptHeadSize 0): the object is probably not linked, and the "
          "image's entry word is 0"}},
        {"boot_data_at_offset_0",
         example_with([](Object& o) { o.sections[2].file_ptr = 0; }),
         {"section 2 (.boot_L): data offset 0: the boot region holds the file's first 0x25 "
          "bytes, from its file header on, not section data"}},
        {"zeros_4k",
         Bytes(4096, 0),
         {"file header version 0x0" + kVersion,
          "no optional header (usOptHeadSize 0): the object is probably not linked, and the "
          "image's entry word is 0",
          "the image holds no section data: no boot section has bytes and no section from "
          "index 5 on makes a load record"}},
        {"stdout_full",
         example,
         {"standard output: the listing is incomplete: No space left on device"},
         StdoutTo::Full},
        {"stdout_closed_pipe",
         example,
         {"standard output: the listing is incomplete: Broken pipe"},
         StdoutTo::ClosedPipe},
    };
}

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, ToldOnStandardErrorAndFatalUnderStrict) {
    const WarningCase& c = GetParam();
    const harness::Conversion plain = harness::convert_bytes(c.object); // no warnings sink
    ASSERT_FALSE(plain.error) << *plain.error;
    const Bytes old_image = {0x0B, 0x1D};
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "--strict" : "default");
        harness::ScratchDir dir;
        coffgen::write_file(dir.file("app.out"), c.object);
        harness::write_text(dir.file("config.ini"), harness::kAppConfig);
        coffgen::write_file(dir.file("VELTARA-app.efw"), old_image);

        const auto r = harness::run_program(harness::converter_path(), dir.file("coff2efw"),
                                            strict ? std::vector<std::string>{"--strict"}
                                                   : std::vector<std::string>{},
                                            "/", {}, {.stdout_to = c.stdout_to});
        std::string err;
        for (const std::string& w : c.warnings)
            err += (strict ? "coff2efw: error: " : "coff2efw: warning: ") + dir.file("app.out") +
                   ": " + w + "\n";
        EXPECT_EQ(r.err, err);
        if (c.stdout_to == StdoutTo::Captured) {
            EXPECT_EQ(r.out, plain.console);
        }
        const bool refused = strict && !c.warnings.empty();
        EXPECT_EQ(r.status, refused ? 1 : 0);
        EXPECT_EQ(coffgen::read_file(dir.file("VELTARA-app.efw")),
                  refused ? old_image : plain.image);
        EXPECT_EQ(harness::list_dir(dir.path),
                  (std::vector<std::string>{"VELTARA-app.efw", "app.out", "config.ini"}));
    }
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Warnings, testing::ValuesIn(rows()),
                         [](const auto& p) { return std::string(p.param.label); });

} // namespace
