#include "run/html_report.h"

#include "base/failure.h"
#include "base/output_file.h"
#include "coff/coff_headers.h"
#include "image/image_input.h"
#include "image/image_reader.h"
#include "image/rom_image.h"
#include "image/section_fate.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/section_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The bar and the bands are drawn in a box this many units wide, which the page scales to
// its width: a record of less than kMinWidth units is drawn kMinWidth wide, so that it
// stays visible.
constexpr double kWidth = 1000;
constexpr double kMinWidth = 0.8;

// Sections of one page that overlap stand in lanes one above the other; past the last
// lane they share it, drawn see-through.
constexpr unsigned kLanes = 6;

constexpr const char* kStyle = R"(<style>
body{font:14px/1.4 system-ui,sans-serif;margin:1.5em;color:#222;background:#fff}
h1{font-size:1.4em;margin:0 0 .5em}h2{font-size:1.15em;margin:1.4em 0 .4em;border-bottom:1px solid #ccc}
h3{font-size:1em;margin:.8em 0 .2em}
dl{display:grid;grid-template-columns:max-content auto;gap:.1em 1em;margin:0}dt{font-weight:600}dd{margin:0}
code,td.n,td.a{font-family:ui-monospace,monospace}
svg{display:block;width:100%;height:auto}
.bar text,.band text{font:11px sans-serif;fill:#333}.bar text.in,.band text.in{font-size:10px;fill:#111}.gap{stroke:#bbb;stroke-dasharray:2 2}
table{border-collapse:collapse;width:100%}th,td{padding:.15em .5em;text-align:left;border-bottom:1px solid #eee;vertical-align:top}
th{background:#f3f3f3}td.sw{width:1em}td.sw span{display:inline-block;width:1em;height:1em;border:1px solid #888}
tr.left-out td{background:#fff3e0}tr.not-loaded td{color:#777}
ul.warnings{padding-left:1.2em}ul.warnings li{margin:.2em 0}.err{color:#b00020;font-weight:600}
.legend span{display:inline-block;margin-right:1.2em}.legend i{display:inline-block;width:1em;height:.8em;margin-right:.3em;border:1px solid #666;vertical-align:middle}
.meter{display:flex;align-items:center;gap:1em}.meter svg{width:60%}
@media print{body{margin:0;font-size:10pt;print-color-adjust:exact;-webkit-print-color-adjust:exact}h2{break-after:avoid}tr{break-inside:avoid}}
</style>
)";

// The colour of section `index`, the same in the bar, the bands and the table.
void put_colour(std::FILE* out, unsigned index) {
    std::fprintf(out, "hsl(%u,60%%,%u%%)", (index * 137) % 360, 48 + (index * 7) % 20);
}

void put_hex(std::FILE* out, std::uint64_t v) {
    std::fprintf(out, "0x%llx", static_cast<unsigned long long>(v));
}

void put_head(std::FILE* out, const char* what, std::string_view subject) {
    std::fputs("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
               "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n<title>",
               out);
    std::fputs(what, out);
    std::fputs(": ", out);
    put_html_text(out, subject);
    std::fputs("</title>\n", out);
    std::fputs(kStyle, out);
    std::fputs("</head>\n<body>\n<h1>", out);
    std::fputs(what, out);
    std::fputs(": <code>", out);
    put_html_text(out, subject);
    std::fputs("</code></h1>\n", out);
}

void put_fact(std::FILE* out, const char* term, std::string_view text) {
    std::fprintf(out, "<dt>%s</dt><dd>", term);
    put_html_text(out, text);
    std::fputs("</dd>\n", out);
}

void put_hex_fact(std::FILE* out, const char* term, std::uint64_t v, const char* after = "") {
    std::fprintf(out, "<dt>%s</dt><dd><code>", term);
    put_hex(out, v);
    std::fprintf(out, "</code>%s</dd>\n", after);
}

// The scale of the image bar: image offsets to units of the box.
struct Scale {
    double from;
    double per_unit;
    double x(std::uint64_t v) const { return (static_cast<double>(v) - from) * per_unit; }
    double w(std::uint64_t len) const {
        return std::max(static_cast<double>(len) * per_unit, kMinWidth);
    }
};

// One piece of the image bar, with its tooltip; `fill` is a colour, or null for the
// section colour of `section`.
void put_piece(std::FILE* out, const Scale& s, std::uint64_t off, std::uint64_t len,
               const char* fill, unsigned section, const char* cls) {
    std::fprintf(out, "<rect class=\"%s\" x=\"%.2f\" y=\"18\" width=\"%.2f\" height=\"30\" fill=\"",
                 cls, s.x(off), s.w(len));
    if (fill != nullptr)
        std::fputs(fill, out);
    else
        put_colour(out, section);
    std::fputs("\"><title>", out);
}

void end_piece(std::FILE* out, std::uint64_t off, std::uint64_t len) {
    std::fputs(": image ", out);
    put_hex(out, off);
    std::fputs(" to ", out);
    put_hex(out, off + len);
    std::fputs(", ", out);
    put_hex(out, len);
    std::fputs(" bytes</title></rect>\n", out);
}

// The mark under the bar that every record gets, however small: a tick in its colour.
void put_mark(std::FILE* out, const Scale& s, unsigned k, std::uint64_t off, std::uint64_t len,
              unsigned colour) {
    const double centre = s.x(off) + static_cast<double>(len) * s.per_unit / 2;
    std::fprintf(out,
                 "<rect class=\"mark\" id=\"r%u\" x=\"%.2f\" y=\"52\" width=\"1.2\" "
                 "height=\"8\" fill=\"",
                 k, centre - 0.6);
    put_colour(out, colour);
    std::fprintf(out, "\"><title>record %u</title></rect>\n", k);
}

void start_bar(std::FILE* out, std::uint64_t image_size, std::uint32_t boot_units) {
    std::fputs("<h2 id=\"image\">The image, to scale</h2>\n", out);
    std::fputs("<svg class=\"bar\" viewBox=\"0 0 1000 64\" role=\"img\" "
               "aria-label=\"the image as a bar\">\n",
               out);
    std::fprintf(out,
                 "<text x=\"0\" y=\"12\">0x0</text><text x=\"1000\" y=\"12\" "
                 "text-anchor=\"end\">0x%llx</text>\n",
                 static_cast<unsigned long long>(image_size));
    const Scale s{0, kWidth / static_cast<double>(image_size)};
    put_piece(out, s, 0, kBootRegionSize, "#dfe6f0", 0, "boot-fill");
    std::fprintf(out, "boot region, %u of %u units used", boot_units, kBootCapacity);
    end_piece(out, 0, kBootRegionSize);
    if (boot_units > 0) {
        put_piece(out, s, 0, std::uint64_t{boot_units} * 2, "#2b4c7e", 0, "boot");
        std::fprintf(out, "boot bytes, %u units", boot_units);
        end_piece(out, 0, std::uint64_t{boot_units} * 2);
    }
    put_piece(out, s, kEntryWordOffset, 4, "#000", 0, "entry");
    std::fputs("entry word", out);
    end_piece(out, kEntryWordOffset, 4);
}

void put_padding(std::FILE* out, const Scale& s, std::uint64_t off) {
    put_piece(out, s, off, 1, "#bbb", 0, "pad");
    std::fputs("padding byte", out);
    end_piece(out, off, 1);
}

void end_bar(std::FILE* out, const Scale& s, std::uint64_t terminator, const char* records) {
    put_piece(out, s, terminator, kTerminatorSize, "#555", 0, "terminator");
    std::fputs("terminator", out);
    end_piece(out, terminator, kTerminatorSize);
    std::fputs("</svg>\n<p class=\"legend\"><span><i style=\"background:#2b4c7e\"></i>boot "
               "bytes</span><span><i style=\"background:#dfe6f0\"></i>boot region fill</span>"
               "<span><i style=\"background:#000\"></i>entry word</span><span><i "
               "style=\"background:#bbb\"></i>padding</span><span><i "
               "style=\"background:#555\"></i>terminator</span><span>",
               out);
    std::fputs(records, out);
    std::fputs("; a tick below marks each one</span></p>\n", out);
}

// How full the ROM is, with --max-size.
void put_fullness(std::FILE* out, std::uint64_t size, std::uint64_t max_size) {
    const double share = static_cast<double>(size) / static_cast<double>(max_size);
    const double shown = std::min(share, 1.0);
    std::fputs("<h3>ROM fullness</h3>\n<div class=\"meter\"><svg viewBox=\"0 0 1000 24\" "
               "role=\"img\" aria-label=\"ROM fullness\">",
               out);
    std::fprintf(out,
                 "<rect x=\"0\" y=\"2\" width=\"1000\" height=\"20\" fill=\"#eee\" "
                 "stroke=\"#888\"/><rect x=\"0\" y=\"2\" width=\"%.1f\" height=\"20\" "
                 "fill=\"%s\"><title>%.1f%% of --max-size</title></rect></svg>",
                 shown * kWidth, share > 0.9 ? "#c62828" : "#2e7d32", share * 100);
    std::fprintf(out, "<span><b>%.1f%%</b> of ", share * 100);
    put_hex(out, max_size);
    std::fputs(" bytes</span></div>\n", out);
}

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

// The address axis of a memory band: the stretches that sections (or records) occupy,
// each as wide as its share of the occupied bytes but never too narrow to see, and the
// gaps between them shrunk to a fixed width, so that a page whose sections lie megabytes
// apart still shows each one. Holds at most kMaxSections stretches; past that the axis
// is linear.
struct Stretch {
    std::uint64_t start;
    std::uint64_t end;
    double x;
    double w;
};
Stretch g_Stretches[kMaxSections];

class AddressAxis {
  public:
    void add(std::uint64_t start, std::uint64_t end) {
        lo_ = std::min(lo_, start);
        hi_ = std::max(hi_, end);
        if (n_ < kMaxSections)
            g_Stretches[n_] = {start, std::max(end, start + 1), 0, 0};
        ++n_;
    }

    void finish() {
        if (hi_ <= lo_)
            hi_ = lo_ + 1;
        linear_ = n_ > kMaxSections;
        if (linear_ || n_ == 0)
            return;
        std::sort(g_Stretches, g_Stretches + n_,
                  [](const Stretch& a, const Stretch& b) { return a.start < b.start; });
        unsigned m = 0;
        for (unsigned k = 0; k < n_; ++k) {
            if (m > 0 && g_Stretches[k].start <= g_Stretches[m - 1].end)
                g_Stretches[m - 1].end = std::max(g_Stretches[m - 1].end, g_Stretches[k].end);
            else
                g_Stretches[m++] = g_Stretches[k];
        }
        n_ = m;
        const double gaps = static_cast<double>(n_ - 1);
        gap_ = gaps > 0 ? std::min(12.0, 250.0 / gaps) : 0;
        const double room = kWidth - gap_ * gaps;
        const double least = std::min(room / n_ / 2, 24.0);
        double bytes = 0;
        for (unsigned k = 0; k < n_; ++k)
            bytes += static_cast<double>(g_Stretches[k].end - g_Stretches[k].start);
        double x = 0;
        for (unsigned k = 0; k < n_; ++k) {
            Stretch& st = g_Stretches[k];
            st.x = x;
            st.w = least + (room - least * n_) * static_cast<double>(st.end - st.start) / bytes;
            x += st.w + gap_;
        }
    }

    double x(std::uint64_t a) const {
        if (linear_ || n_ == 0)
            return (static_cast<double>(a) - static_cast<double>(lo_)) * kWidth /
                   static_cast<double>(hi_ - lo_);
        const Stretch* it =
            std::upper_bound(g_Stretches, g_Stretches + n_, a,
                             [](std::uint64_t v, const Stretch& st) { return v < st.start; });
        const Stretch& st = it == g_Stretches ? g_Stretches[0] : *(it - 1);
        const double into = static_cast<double>(std::min(std::max(a, st.start), st.end) - st.start);
        return st.x + into * st.w / static_cast<double>(st.end - st.start);
    }

    double w(std::uint64_t start, std::uint64_t end) const {
        return std::max(x(end) - x(start), kMinWidth);
    }

    // The first address of each stretch, under it, where there is room for it; and the
    // breaks between stretches.
    void put_labels(std::FILE* out, unsigned y) const {
        if (linear_ || n_ == 0)
            return;
        double free_from = 0;
        for (unsigned k = 0; k < n_; ++k) {
            const Stretch& st = g_Stretches[k];
            if (k > 0 && gap_ >= 4)
                std::fprintf(out,
                             "<line class=\"gap\" x1=\"%.1f\" x2=\"%.1f\" y1=\"0\" "
                             "y2=\"%u\"/>\n",
                             st.x - 3, st.x - 3, y);
            if (st.x >= free_from && st.x + 60 <= kWidth) {
                std::fprintf(out, "<text x=\"%.1f\" y=\"%u\">0x%llx</text>\n", st.x, y + 10,
                             static_cast<unsigned long long>(st.start));
                free_from = st.x + 70;
            }
        }
    }

    std::uint64_t lo() const { return lo_; }
    std::uint64_t hi() const { return hi_; }

  private:
    std::uint64_t lo_ = ~std::uint64_t{0};
    std::uint64_t hi_ = 0;
    unsigned n_ = 0;
    bool linear_ = false;
    double gap_ = 0; // between stretches
};

// The sections in the order of page and address, and the lane each stands in.
std::uint16_t g_Order[kMaxSections];
unsigned char g_Lane[kMaxSections];
bool g_Overlaps[kMaxSections];

std::uint64_t section_end(const SectHead& s) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(s.VirtAddr)) +
           (s.SectSize > 0 ? static_cast<std::uint64_t>(s.SectSize) : 0);
}

const char* use_class(SectionUse use) {
    switch (use) {
    case SectionUse::Boot:
        return "boot";
    case SectionUse::Record:
        return "record";
    case SectionUse::LeftOut:
        return "left-out";
    case SectionUse::NotLoaded:
        break;
    }
    return "not-loaded";
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
                     use_class(fate.kind), axis.x(start), 2 + 16 * unsigned{g_Lane[i]},
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
                     use_class(fate.kind));
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

void put_end(std::FILE* out) {
    std::fputs("</body>\n</html>\n", out);
}

void put_field(std::FILE* scratch, std::string_view text) {
    const auto len = static_cast<std::uint32_t>(text.size());
    std::fwrite(&len, sizeof len, 1, scratch);
    std::fwrite(text.data(), 1, text.size(), scratch);
}

} // namespace

void put_html_text(std::FILE* out, std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        std::size_t len = 1;
        const unsigned char b = p[0];
        if (b == '&') {
            std::fputs("&amp;", out);
        } else if (b == '<') {
            std::fputs("&lt;", out);
        } else if (b == '>') {
            std::fputs("&gt;", out);
        } else if (b == '"') {
            std::fputs("&quot;", out);
        } else if (b == '\'') {
            std::fputs("&#39;", out);
        } else if (b >= 0x20 && b < 0x7F) {
            std::fputc(b, out);
        } else {
            len = b >= 0x80 ? platform::utf8_sequence_length(p, left) : 0;
            if (len == 2 && b == 0xC2 && p[1] < 0xA0)
                len = 0; // a C1 control character
            if (len > 0) {
                std::fwrite(p, 1, len, out);
            } else {
                std::fprintf(out, "\\x%02x", unsigned{b});
                len = 1;
            }
        }
        p += len;
        left -= len;
    }
}

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

void write_image_report(std::FILE* out, const std::string& image_path) {
    // The first walk checks the image and finds what the drawing is scaled by: the CRC-32
    // and the destinations' reach. The next two draw the bar and the destinations as they
    // walk again over the records' headers.
    std::uint32_t crc = 0, entry = 0, units = 0, records = 0;
    std::uint64_t size = 0;
    AddressAxis axis;
    // One open image serves every walk: standard input that is a pipe can be opened once.
    ImageFile image{open_image(image_path)};
    {
        const BootSummary boot = read_boot_region(image);
        check_boot_region(image, boot);
        units = boot.units;
        entry = read_entry_word(image);
        std::uint64_t pos = kFirstRecordOffset;
        LoadRecord rec;
        while (next_record(image, pos, rec)) {
            axis.add(rec.dest, std::uint64_t{rec.dest} + rec.count);
            ++records;
        }
        crc = image_crc32(image);
        size = image.in.size;
    }
    const std::string& name = image.in.path; // "standard input" for "-"
    put_head(out, "efwdump report",
             platform::file_name_start(name.c_str(), platform::code_page_for_text(name)));
    std::fputs("<h2 id=\"run\">The image</h2>\n<dl>\n", out);
    put_fact(out, "image", name);
    put_hex_fact(out, "size", size, " bytes");
    std::fprintf(out, "<dt>CRC-32</dt><dd><code>0x%08x</code></dd>\n", crc);
    put_hex_fact(out, "entry point", entry);
    std::fprintf(out, "<dt>boot units</dt><dd>%u of %u</dd>\n<dt>records</dt><dd>%u</dd>\n", units,
                 kBootCapacity, records);
    std::fputs("</dl>\n<p>Drawn from the image alone: records carry no section names and no "
               "memory pages.</p>\n",
               out);

    start_bar(out, size, units);
    const Scale s{0, kWidth / static_cast<double>(size)};
    std::uint64_t pos = kFirstRecordOffset;
    std::uint64_t end = pos;
    LoadRecord rec;
    unsigned k = 0;
    for (; next_record(image, pos, rec); ++k) {
        if (rec.offset != end)
            put_padding(out, s, end);
        const std::uint64_t len = record_end(rec) - rec.offset;
        put_piece(out, s, rec.offset, len, nullptr, k, "record");
        std::fprintf(out, "record %u to 0x%x", k, rec.dest);
        end_piece(out, rec.offset, len);
        put_mark(out, s, k, rec.offset, len, k);
        end = pos;
    }
    if (pos != end)
        put_padding(out, s, end);
    end_bar(out, s, pos, "records each in a colour of its own");

    std::fputs("<h2 id=\"memory\">Destinations</h2>\n", out);
    if (records > 0) {
        axis.finish();
        std::fputs("<h3>Records by destination: <code>", out);
        put_hex(out, axis.lo());
        std::fputs("</code> to <code>", out);
        put_hex(out, axis.hi());
        std::fputs("</code> (pages unknown; overlaps show darker)</h3>\n<svg class=\"band\" "
                   "viewBox=\"0 0 1000 36\" role=\"img\" aria-label=\"destinations\">\n"
                   "<rect x=\"0\" y=\"0\" width=\"1000\" height=\"20\" fill=\"#fafafa\" "
                   "stroke=\"#ccc\"/>\n",
                   out);
        axis.put_labels(out, 20);
        pos = kFirstRecordOffset;
        for (k = 0; next_record(image, pos, rec); ++k) {
            std::fprintf(out,
                         "<rect class=\"record\" x=\"%.2f\" y=\"3\" width=\"%.2f\" "
                         "height=\"14\" fill-opacity=\"0.6\" fill=\"",
                         axis.x(rec.dest), axis.w(rec.dest, std::uint64_t{rec.dest} + rec.count));
            put_colour(out, k);
            std::fprintf(out, "\"><title>record %u: 0x%x, 0x%x bytes</title></rect>\n", k, rec.dest,
                         rec.count);
        }
        std::fputs("</svg>\n", out);
    } else {
        std::fputs("<p>No records.</p>\n", out);
    }
    put_end(out);
}

void write_image_report_file(const std::string& report_path, const std::string& image_path) {
    OutputSet outputs;
    OutputFile file(report_path, ".efwdump-", "the report", false);
    outputs.add(file);
    platform::FileStatus image;
    if (platform::path_status(image_path, image, true))
        outputs.refuse_to_replace(image, "the image");
    file.open();
    write_image_report(file.stream(), image_path);
    outputs.commit();
}
