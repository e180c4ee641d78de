#include "run/html_report.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/coff_headers.h"
#include "image/rom_image.h"
#include "image/section_fate.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/html_page.h"
#include "run/section_table.h"

#include <algorithm>
#include <cerrno>

namespace {

// Sections of one page that overlap stand in lanes one above the other; past the last
// lane they share it, drawn see-through.
constexpr unsigned kLanes = 6;

// The warnings kept in the scratch file: each a length-prefixed path, text and name and a
// byte that says whether it counted as an error.
bool read_field(std::FILE* in, std::string& field) {
    std::uint32_t len = 0;
    if (std::fread(&len, sizeof len, 1, in) != 1)
        return false;
    field.resize(len);
    return len == 0 || std::fread(field.data(), 1, len, in) == len;
}

void put_warnings(std::FILE* out, const ReportWarnings* warnings) {
    std::fputs("<h3>Warnings</h3>\n", out);
    std::FILE* in = warnings != nullptr ? warnings->scratch() : nullptr;
    if (in == nullptr || std::fflush(in) != 0 || std::fseek(in, 0, SEEK_SET) != 0) {
        std::fputs("<p>None.</p>\n", out);
        return;
    }
    std::string path, what, name;
    unsigned count = 0;
    int as_error = 0;
    while (read_field(in, path) && read_field(in, what) && read_field(in, name) &&
           (as_error = std::fgetc(in)) != EOF) {
        std::fputs(count++ == 0 ? "<ul class=\"warnings\">\n<li>" : "<li>", out);
        std::fputs(as_error != 0 ? "<span class=\"err\">error</span> " : "warning ", out);
        std::fputs("<code>[-W", out);
        if (as_error != 0)
            std::fputs("error=", out);
        put_html_text(out, name);
        std::fputs("]</code> <code>", out);
        put_html_text(out, path);
        std::fputs("</code>: ", out);
        put_html_text(out, what);
        std::fputs("</li>\n", out);
    }
    std::fputs(count == 0 ? "<p>None.</p>\n" : "</ul>\n", out);
}
// The sections in the order of page and address, and the lane each stands in.
std::uint16_t g_Order[kMaxSections];
unsigned char g_Lane[kMaxSections];
bool g_Overlaps[kMaxSections];

std::uint64_t section_end(const SectHead& s) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.VirtAddr)) +
           (s.SectSize > 0 ? static_cast<std::uint64_t>(s.SectSize) : 0);
}

void put_section_name(std::FILE* out, unsigned index) {
    const SectHead& s = g_SectTable[index];
    std::string_view name = long_name_text(s);
    if (name.empty())
        name = sect_name_text(s);
    if (name.empty())
        std::fputs("(unnamed)", out);
    else
        put_html_text(out, name);
}

// The name of section `index` written inside a box `w` units wide at (x, y), when it fits
// there whole; text that does not fit is left to the tooltip.
void put_inner_label(std::FILE* out, double x, unsigned y, double w, unsigned index) {
    const SectHead& s = g_SectTable[index];
    std::string_view name = long_name_text(s);
    if (name.empty())
        name = sect_name_text(s);
    if (name.empty() || static_cast<double>(name.size()) * 6.2 + 6 > w)
        return;
    std::fprintf(out, "<text class=\"in\" x=\"%.2f\" y=\"%u\">", x + 3, y);
    put_html_text(out, name);
    std::fputs("</text>\n", out);
}

// One band of page memory: the sections [from, to) of g_Order, which share a page.
void put_band(std::FILE* out, const ImageLayout& layout, unsigned from, unsigned to) {
    const std::uint16_t page = g_SectTable[g_Order[from]].MemPage;
    std::uint64_t lane_end[kLanes] = {};
    unsigned lanes = 1, overlaps = 0;
    std::uint64_t reach = 0;
    unsigned reach_holder = g_Order[from];
    for (unsigned n = from; n < to; ++n) {
        const unsigned i = g_Order[n];
        const SectHead& s = g_SectTable[i];
        const std::uint64_t start = static_cast<std::uint32_t>(s.VirtAddr);
        const std::uint64_t end = section_end(s);
        unsigned lane = 0;
        while (lane < kLanes - 1 && lane_end[lane] > start)
            ++lane;
        g_Lane[i] = static_cast<unsigned char>(lane);
        lane_end[lane] = std::max(lane_end[lane], end);
        lanes = std::max(lanes, lane + 1);
        g_Overlaps[i] = n > from && start < reach;
        if (g_Overlaps[i]) {
            g_Overlaps[reach_holder] = true;
            ++overlaps;
        }
        if (end > reach) {
            reach = end;
            reach_holder = i;
        }
    }
    AddressAxis axis;
    for (unsigned n = from; n < to; ++n)
        axis.add(static_cast<std::uint32_t>(g_SectTable[g_Order[n]].VirtAddr),
                 section_end(g_SectTable[g_Order[n]]));
    axis.finish();
    std::fprintf(out, "<h3>Page %u: <code>", unsigned{page});
    put_hex(out, axis.lo());
    std::fputs("</code> to <code>", out);
    put_hex(out, axis.hi());
    std::fprintf(out, "</code>, %u sections", to - from);
    if (overlaps > 0)
        std::fprintf(out, ", <span class=\"err\">%u overlapping</span>", overlaps);
    const unsigned height = 16 * lanes + 4;
    std::fprintf(out,
                 "</h3>\n<svg class=\"band\" viewBox=\"0 0 1000 %u\" role=\"img\" "
                 "aria-label=\"page %u\">\n<rect x=\"0\" y=\"0\" width=\"1000\" "
                 "height=\"%u\" fill=\"#fafafa\" stroke=\"#ccc\"/>\n",
                 height + 16, unsigned{page}, height);
    axis.put_labels(out, height);
    for (unsigned n = from; n < to; ++n) {
        const unsigned i = g_Order[n];
        const SectHead& sect = g_SectTable[i];
        const std::uint64_t start = static_cast<std::uint32_t>(sect.VirtAddr);
        const SectionFate fate = section_fate(layout, i);
        const bool in_image = fate.kind == SectionUse::Record || fate.kind == SectionUse::Boot;
        std::fprintf(out,
                     "<rect class=\"%s\" x=\"%.2f\" y=\"%u\" width=\"%.2f\" height=\"14\" "
                     "fill-opacity=\"0.8\" fill=\"",
                     section_use_name(fate.kind), axis.x(start), 2 + 16 * unsigned{g_Lane[i]},
                     axis.w(start, section_end(sect)));
        if (in_image)
            put_colour(out, i);
        else
            std::fputs(fate.kind == SectionUse::LeftOut ? "#ffb74d" : "#fff", out);
        std::fprintf(out, "\" stroke=\"%s\" stroke-width=\"%s\"%s><title>section %u (",
                     g_Overlaps[i] ? "#c62828" : "#666", g_Overlaps[i] ? "1.5" : "0.5",
                     in_image ? "" : " stroke-dasharray=\"3 2\"", i);
        put_section_name(out, i);
        std::fputs("): ", out);
        put_hex(out, start);
        std::fprintf(out, ", %s, %s%s</title></rect>\n", section_size_text(i).text,
                     fate_text(fate).text, g_Overlaps[i] ? "; overlaps another section" : "");
        put_inner_label(out, axis.x(start), 12 + 16 * unsigned{g_Lane[i]},
                        axis.w(start, section_end(sect)), i);
    }
    std::fputs("</svg>\n", out);
}

void put_memory(std::FILE* out, const ImageLayout& layout) {
    std::fputs("<h2 id=\"memory\">The target's memory</h2>\n<p class=\"legend\"><span><i "
               "style=\"background:hsl(137,60%,55%)\"></i>in the image, in its colour</span>"
               "<span><i style=\"background:#ffb74d\"></i>left out</span><span><i "
               "style=\"background:#fff\"></i>not loaded</span><span><i style=\"border:2px "
               "solid #c62828\"></i>overlaps</span></p>\n",
               out);
    const unsigned n = g_FileHead.usNumSect;
    if (n == 0) {
        std::fputs("<p>No sections.</p>\n", out);
        return;
    }
    for (unsigned i = 0; i < n; ++i)
        g_Order[i] = static_cast<std::uint16_t>(i);
    std::sort(g_Order, g_Order + n, [](unsigned a, unsigned b) {
        const SectHead& x = g_SectTable[a];
        const SectHead& y = g_SectTable[b];
        if (x.MemPage != y.MemPage)
            return x.MemPage < y.MemPage;
        const auto xa = static_cast<std::uint32_t>(x.VirtAddr);
        const auto ya = static_cast<std::uint32_t>(y.VirtAddr);
        return xa != ya ? xa < ya : a < b;
    });
    unsigned from = 0;
    for (unsigned k = 1; k <= n; ++k) {
        if (k == n || g_SectTable[g_Order[k]].MemPage != g_SectTable[g_Order[from]].MemPage) {
            put_band(out, layout, from, k);
            from = k;
        }
    }
}

void put_section_table(std::FILE* out, const ImageLayout& layout) {
    std::fputs("<h2 id=\"sections\">Sections</h2>\n<table>\n<thead><tr><th></th><th>index</th>"
               "<th>name</th><th>page</th><th>run</th><th>load</th><th>size</th><th>fate</th>"
               "</tr></thead>\n<tbody>\n",
               out);
    for (unsigned i = 0; i < g_FileHead.usNumSect; ++i) {
        const SectHead& s = g_SectTable[i];
        const SectionFate fate = section_fate(layout, i);
        const bool in_image = fate.kind == SectionUse::Record || fate.kind == SectionUse::Boot;
        std::fprintf(out,
                     "<tr id=\"s%u\" class=\"%s\"><td class=\"sw\"><span style=\"background:", i,
                     section_use_name(fate.kind));
        if (in_image)
            put_colour(out, i);
        else
            std::fputs(fate.kind == SectionUse::LeftOut ? "#ffb74d" : "#fff", out);
        std::fprintf(out, "\"></span></td><td class=\"n\">%u</td><td class=\"name\">", i);
        put_section_name(out, i);
        std::fprintf(out,
                     "</td><td class=\"n\">%u</td><td class=\"a\">0x%08x</td>"
                     "<td class=\"a\">0x%08x</td><td class=\"a\">%s</td><td>",
                     unsigned{s.MemPage}, static_cast<std::uint32_t>(s.VirtAddr),
                     static_cast<std::uint32_t>(s.PhyAddr), section_size_text(i).text);
        put_html_text(out, fate_text(fate).text);
        std::fputs("</td></tr>\n", out);
    }
    const SectionTotals t = section_totals(layout);
    std::fputs("</tbody>\n</table>\n<p>Image ", out);
    put_hex(out, t.image_size);
    std::fprintf(out, " bytes, %u records, ", t.records);
    put_hex(out, t.bytes_in_image);
    std::fputs(" bytes of data in the image, ", out);
    put_hex(out, t.bytes_left_out);
    std::fputs(" bytes of data left out.</p>\n", out);
}
void put_field(std::FILE* scratch, std::string_view text) {
    const auto len = static_cast<std::uint32_t>(text.size());
    std::fwrite(&len, sizeof len, 1, scratch);
    std::fwrite(text.data(), 1, text.size(), scratch);
}

} // namespace

ReportWarnings::ReportWarnings(Warnings* warnings) {
    if (warnings == nullptr)
        return;
    scratch_ = platform::create_scratch_file();
    if (scratch_ == nullptr)
        fail("the report",
             "cannot make a scratch file for its warnings: " + platform::error_text(errno));
    warnings_ = warnings;
    report_ = warnings->report;
    context_ = warnings->context;
    warnings->report = tell;
    warnings->context = this;
}

ReportWarnings::~ReportWarnings() {
    if (warnings_ != nullptr) {
        warnings_->report = report_;
        warnings_->context = context_;
    }
    if (scratch_ != nullptr)
        std::fclose(scratch_);
}

void ReportWarnings::tell(void* self, const char* path, const char* what, const char* name,
                          bool as_error) {
    auto* me = static_cast<ReportWarnings*>(self);
    put_field(me->scratch_, path);
    put_field(me->scratch_, what);
    put_field(me->scratch_, name);
    std::fputc(as_error ? 1 : 0, me->scratch_);
    if (me->report_ != nullptr)
        me->report_(me->context_, path, what, name, as_error);
}

void write_run_report(std::FILE* out, const RunFacts& facts, const ImageLayout& layout,
                      const ReportWarnings* warnings) {
    put_head(out, "coff2efw report",
             platform::file_name_start(facts.names.input.c_str(),
                                       platform::code_page_for_text(facts.names.input)));
    std::fputs("<h2 id=\"run\">The run</h2>\n<dl>\n", out);
    put_fact(out, "input", facts.names.input);
    put_fact(out, "output", facts.names.output);
    put_fact(out, "format", format_name(facts.format));
    put_hex_fact(out, "target", g_FileHead.usTargId, is_word_target() ? " (sizes in words)" : "");
    put_hex_fact(out, "image size", layout.image_size, " bytes");
    std::fprintf(out, "<dt>CRC-32</dt><dd><code>0x%08x</code></dd>\n", facts.crc32);
    put_hex_fact(out, "entry point", static_cast<std::uint32_t>(g_OptHead.lEntryPoint));
    std::fprintf(out, "<dt>sections</dt><dd>%u</dd>\n<dt>records</dt><dd>%u</dd>\n",
                 unsigned{g_FileHead.usNumSect}, layout.record_count);
    std::fputs("</dl>\n", out);
    if (facts.max_size != ~std::uint64_t{0})
        put_fullness(out, layout.image_size, facts.max_size);
    put_warnings(out, warnings);

    start_bar(out, layout.image_size, static_cast<std::uint32_t>(layout.boot_bytes));
    const Scale s{0, kWidth / static_cast<double>(layout.image_size)};
    for (unsigned k = 0; k < layout.record_count; ++k) {
        const RecordPlace& rec = layout.records[k];
        if (rec.pad_before)
            put_padding(out, s, rec.offset - 1);
        const std::uint64_t len = record_data_end(rec) - rec.offset;
        put_piece(out, s, rec.offset, len, nullptr, rec.usSection, "record");
        std::fprintf(out, "record %u, section %u (", k, unsigned{rec.usSection});
        put_section_name(out, rec.usSection);
        std::fprintf(out, ") to 0x%x page %u", rec.ulDest,
                     unsigned{g_SectTable[rec.usSection].MemPage});
        end_piece(out, rec.offset, len);
        put_inner_label(out, s.x(rec.offset), 37, s.w(len), rec.usSection);
    }
    for (unsigned k = 0; k < layout.record_count; ++k) {
        const RecordPlace& rec = layout.records[k];
        put_mark(out, s, k, rec.offset, record_data_end(rec) - rec.offset, rec.usSection);
    }
    if (layout.pad_before_terminator)
        put_padding(out, s, layout.terminator_offset - 1);
    end_bar(out, s, layout.terminator_offset, "records in their section's colour");
    put_memory(out, layout);
    put_section_table(out, layout);
    put_end(out);
}
