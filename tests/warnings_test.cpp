// Objects that convert and yet lose data or were probably misread: the built program
// says so on standard error, each line ending in the warning's name, while listing, image
// and status stay as they were; a warning the options silence is not told, and one they
// make an error keeps an earlier image byte for byte.
#include "support/harness.h"
#include "tools/coff_builder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using coffgen::Bytes;
using coffgen::Object;
using coffgen::Section;
using harness::StdoutTo;

struct Told {
    std::string name; // the warning's name, as -W spells it
    std::string text; // after "coff2efw: warning: <input>: ", before " [-WNAME]"
};

struct WarningCase {
    const char* label;
    Bytes object;
    std::vector<Told> warnings;
    StdoutTo stdout_to = StdoutTo::Captured;
    std::vector<std::string> env; // "NAME=value" for the run, beside the suite's LC_ALL=C
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
const std::string kLeftOut =
    " are left out of the image: sections 0 to 4 never become load records";
const Told kUnlinked = {"unlinked", "no optional header (usOptHeadSize 0): the object is probably "
                                    "not linked, and the image's entry word is 0"};

// The shape of a linked object of target 0x9d as real ones come: a symbol table, and in
// the string table behind it symbol names and the section names longer than eight bytes.
Bytes long_names_9d() {
    Object o = coffgen::example_object();
    o.target_id = 0x9D;
    o.num_syms = 57;
    o.strings = {"_c_int00", "_an_interrupt_service_routine_with_a_long_name"};
    o.sections[0] = {.name = "codestart", .data = coffgen::pattern(4, 1), .virt = 0x3F7FF6};
    o.sections[5].name = "ramfuncs_run";
    o.sections[9].name = "DataBufferSect";
    return coffgen::build(o);
}

std::vector<WarningCase> rows() {
    const Bytes example = example_with([](Object&) {});
    return {
        {"example", example, {}},
        {"word_target_boot_data_only",
         example_with([](Object& o) { o.target_id = 0x98, o.sections.resize(3); }),
         {}},
        {"code_at_index_1",
         example_with([](Object& o) { std::swap(o.sections[1], o.sections[5]); }),
         {{"left-out", "section 1 (.text): 0x1f3 bytes" + kLeftOut}}},
        {"version_c1",
         example_with([](Object& o) { o.version = 0xC1; }),
         {{"version", "file header version 0xc1" + kVersion}}},
        {"word_target_9d",
         example_with([](Object& o) { o.target_id = 0x9D; }),
         {{"word-target",
           "target 0x9d " + kWords +
               "4 records, the first of section 5 (.text), carry half of their sections' data"}}},
        {"word_target_98_other_records_count_bytes",
         example_with([](Object& o) {
             o.target_id = 0x98;
             for (std::size_t i = 6; i < o.sections.size(); ++i)
                 o.sections[i].reserved = 8;
         }),
         {{"word-target",
           "target 0x98 " + kWords + "the record of section 5 (.text) carries half of its data"}}},
        // The section's size counts words there, so what is lost is twice SectSize in bytes.
        {"word_target_98_left_out_in_words",
         example_with([](Object& o) {
             o.target_id = 0x98;
             std::swap(o.sections[1], o.sections[5]);
         }),
         {{"left-out", "section 1 (.text): 0x1f3 words (0x3e6 bytes)" + kLeftOut},
          {"word-target", "target 0x98 " + kWords +
                              "3 records, the first of section 6 (.data), carry half of their "
                              "sections' data"}}},
        // No record at all: the target's warning still comes, for the left-out data.
        {"word_target_98_without_records",
         example_with([](Object& o) {
             o.target_id = 0x98;
             o.sections.resize(5);
             o.sections[4].flags = 0x40;
         }),
         {{"left-out", "section 4 (.econst): 0xa words (0x14 bytes)" + kLeftOut},
          {"word-target", "target 0x98 " + kWords +
                              "no record is written, but the left-out section 4 (.econst) would "
                              "carry half of its data"}}},
        {"long_names_target_9d",
         long_names_9d(),
         {{"left-out", "section 0 (codestart): 0x4 words (0x8 bytes)" + kLeftOut},
          {"word-target",
           "target 0x9d " + kWords +
               "4 records, the first of section 5 (ramfuncs_run), carry half of their sections' "
               "data"}}},
        {"unlinked", example_with([](Object& o) { o.opt = std::nullopt; }), {kUnlinked}},
        {"optional_header_of_36_bytes",
         example_with([](Object& o) { o.opt_size = 36; }),
         {{"opt-header", "usOptHeadSize is 36, not 28: the optional header is read as 28 bytes "
                         "and the section table from offset 0x32, so both are probably misread"}}},
        {"boot_data_at_offset_0",
         example_with([](Object& o) { o.sections[2].file_ptr = 0; }),
         {{"boot-offset-0", "section 2 (.boot_L): data offset 0: the boot region holds the "
                            "file's first 0x25 bytes, from its file header on, not section "
                            "data"}}},
        // .data's last three bytes land on .text's last three.
        {"records_overlap",
         example_with([](Object& o) { o.sections[6].virt = 0x3F01F0; }),
         {{"overlap", "records 0 and 1 overlap on page 0 at 0x3f01f0 to 0x3f01f2: section 5 "
                      "(.text) is overwritten there by section 6 (.data) when the target loads "
                      "the image"}}},
        {"same_ranges_on_other_pages",
         example_with([](Object& o) {
             o.sections[6].virt = 0x3F01F0;
             o.sections[6].mem_page = 1;
         }),
         {}},
        {"records_touch_without_overlap",
         example_with([](Object& o) { o.sections[6].virt = 0x3F01F3; }),
         {}},
        {"control_bytes_in_a_name",
         example_with([](Object& o) {
             std::swap(o.sections[1], o.sections[5]);
             o.sections[1].name = "a\nb\x1b[2J";
         }),
         {{"left-out", "section 1 (a\\x0ab\\x1b[2J): 0x1f3 bytes" + kLeftOut}}},
        // Bytes that form no text where the console shows them, and do in UTF-8.
        {"name_not_text_in_ascii",
         example_with([](Object& o) {
             std::swap(o.sections[1], o.sections[5]);
             o.sections[1].name = "\xc3\xa9t\xe9";
         }),
         {{"left-out", "section 1 (\\xc3\\xa9t\\xe9): 0x1f3 bytes" + kLeftOut}}},
        {"name_partly_text_in_utf8",
         example_with([](Object& o) {
             std::swap(o.sections[1], o.sections[5]);
             o.sections[1].name = "\xc3\xa9t\xe9";
         }),
         {{"left-out", "section 1 (\xc3\xa9t\\xe9): 0x1f3 bytes" + kLeftOut}},
         StdoutTo::Captured,
         {"LC_ALL=C.UTF-8"}},
        {"zeros_4k",
         Bytes(4096, 0),
         {{"version", "file header version 0x0" + kVersion},
          kUnlinked,
          {"empty-image", "the image holds no section data: no boot section has bytes and no "
                          "section from index 5 on makes a load record"}}},
        {"stdout_full",
         example,
         {{"listing", "standard output: the listing is incomplete: No space left on device"}},
         StdoutTo::Full},
        {"stdout_closed_pipe",
         example,
         {{"listing", "standard output: the listing is incomplete: Broken pipe"}},
         StdoutTo::ClosedPipe},
    };
}

// What a command line makes of a warning; Default is what it is given as when no option
// names it: word-target an error, the others warnings.
enum class Fate { Warned, Silent, Error, Default };

Fate fate_of(Fate fate, const std::string& name) {
    if (fate != Fate::Default)
        return fate;
    return name == "word-target" ? Fate::Error : Fate::Warned;
}

struct Mode {
    std::vector<std::string> args;
    std::string name; // the warning the arguments single out, or none
    Fate named;       // of that warning
    Fate others;      // of every other one
};

// Each line plain, as --strict and -Werror make it, and for each warning of the row the
// options that single it out, alone and after one another, where the later wins; -w
// silences all but word-target, an error by its own setting.
std::vector<Mode> modes(const WarningCase& c) {
    std::vector<Mode> out = {{{}, "", Fate::Default, Fate::Default},
                             {{"--strict"}, "", Fate::Error, Fate::Error},
                             {{"-Werror"}, "", Fate::Error, Fate::Error},
                             {{"-w"}, "word-target", Fate::Error, Fate::Silent}};
    std::vector<std::string> names;
    for (const Told& w : c.warnings) {
        if (std::find(names.begin(), names.end(), w.name) == names.end())
            names.push_back(w.name);
    }
    for (const std::string& n : names) {
        const std::vector<Mode> more = {
            {{"-Wno-" + n}, n, Fate::Silent, Fate::Default},
            {{"-Werror=" + n}, n, Fate::Error, Fate::Default},
            {{"--strict", "-Wno-" + n}, n, Fate::Silent, Fate::Error},
            {{"-Werror=" + n, "-Wno-" + n}, n, Fate::Silent, Fate::Default},
            {{"-Wno-" + n, "-Werror=" + n}, n, Fate::Error, Fate::Default},
            {{"-Werror", "-Wno-error=" + n}, n, Fate::Warned, Fate::Error},
            {{"-Wno-" + n, "-W" + n}, n, Fate::Default, Fate::Default},
            {{"-Wno-error=" + n}, n, Fate::Warned, Fate::Default},
        };
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

class Warnings : public testing::TestWithParam<WarningCase> {};

TEST_P(Warnings, ToldOnStandardErrorByNameAndFatalAsErrors) {
    const WarningCase& c = GetParam();
    const harness::Conversion plain = harness::convert_bytes(c.object); // no warnings sink
    ASSERT_FALSE(plain.error) << *plain.error;
    const Bytes old_image = {0x0B, 0x1D};
    for (const Mode& mode : modes(c)) {
        std::string line;
        for (const std::string& a : mode.args)
            line += " " + a;
        SCOPED_TRACE("coff2efw" + line);
        harness::ScratchDir dir;
        coffgen::write_file(dir.file("app.out"), c.object);
        harness::write_text(dir.file("config.ini"), harness::kAppConfig);
        coffgen::write_file(dir.file("VELTARA-app.efw"), old_image);

        const auto r = harness::run_program(harness::converter_path(), dir.file("coff2efw"),
                                            mode.args, "/", c.env, {.stdout_to = c.stdout_to});
        // Options without an input: the note names what config.ini made the run convert.
        std::string err = mode.args.empty() ? ""
                                            : "coff2efw: note: no input given: converting " +
                                                  dir.file("app.out") + ", named by " +
                                                  dir.file("config.ini") + "\n";
        bool refused = false;
        for (const Told& w : c.warnings) {
            const Fate fate = fate_of(w.name == mode.name ? mode.named : mode.others, w.name);
            if (fate == Fate::Silent)
                continue;
            refused = refused || fate == Fate::Error;
            err += (fate == Fate::Error ? "coff2efw: error: " : "coff2efw: warning: ") +
                   dir.file("app.out") + ": " + w.text +
                   (fate == Fate::Error ? " [-Werror=" : " [-W") + w.name + "]\n";
        }
        EXPECT_EQ(r.err, err);
        if (c.stdout_to == StdoutTo::Captured && c.env.empty()) { // the banner follows the locale
            // A refused run writes no image, so it lists none of the lines that say where
            // the entry word and the records went.
            EXPECT_EQ(r.out, refused ? plain.console.substr(0, plain.console.find("Entry Point"))
                                     : plain.console);
        }
        EXPECT_EQ(r.status, refused ? 1 : 0);
        EXPECT_EQ(coffgen::read_file(dir.file("VELTARA-app.efw")),
                  refused ? old_image : plain.image);
        EXPECT_EQ(harness::list_dir(dir.path),
                  (std::vector<std::string>{"VELTARA-app.efw", "app.out", "config.ini"}));
    }
}

// With the listing fully buffered into a pipe, each warning still follows the listing's
// lines before it, as a build log that takes both streams shows them.
TEST(WarningOrder, FollowsTheListingLinesBeforeItThroughAPipe) {
    harness::ScratchDir dir;
    coffgen::write_file(dir.file("app.out"), coffgen::build(harness::with_sections({})));
    const std::string command = "'" + harness::converter_path() + "' '" + dir.file("app.out") +
                                "' -o '" + dir.file("app.efw") + "' 2>&1 | cat";
    const auto r = harness::run_program("/bin/sh", "sh", {"-c", command}, "/");
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE("section " + std::to_string(k));
        const auto row = r.out.find("\n" + std::to_string(k) + "\t\t");
        const auto told =
            r.out.find("warning: " + dir.file("app.out") + ": section " + std::to_string(k) + " (");
        const auto next_row = r.out.find("\n" + std::to_string(k + 1) + "\t\t");
        ASSERT_NE(row, std::string::npos) << r.out;
        ASSERT_NE(told, std::string::npos) << r.out;
        EXPECT_LT(row, told);
        EXPECT_LT(told, next_row);
    }
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, Warnings, testing::ValuesIn(rows()),
                         [](const auto& p) { return std::string(p.param.label); });

} // namespace
