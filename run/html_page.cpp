#include "run/html_page.h"

#include "coff/coff_headers.h"
#include "image/rom_image.h"
#include "text/hex_text.h"
#include "text/multibyte.h"

namespace {

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

// The stretches of the axis being drawn.
struct Stretch {
    std::uint64_t start;
    std::uint64_t end;
    double x;
    double w;
};
Stretch g_Stretches[kMaxSections];

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
            len = b >= 0x80 ? utf8_shown_length(p, left) : 0;
            if (len > 0) {
                std::fwrite(p, 1, len, out);
            } else {
                const EscapedByte escaped = escaped_byte(b);
                std::fwrite(escaped.text, 1, sizeof escaped.text, out);
                len = 1;
            }
        }
        p += len;
        left -= len;
    }
}

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

void put_hex_fact(std::FILE* out, const char* term, std::uint64_t v, const char* after) {
    std::fprintf(out, "<dt>%s</dt><dd><code>", term);
    put_hex(out, v);
    std::fprintf(out, "</code>%s</dd>\n", after);
}

void put_end(std::FILE* out) {
    std::fputs("</body>\n</html>\n", out);
}

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

void AddressAxis::add(std::uint64_t start, std::uint64_t end) {
    lo_ = std::min(lo_, start);
    hi_ = std::max(hi_, end);
    if (n_ < kMaxSections)
        g_Stretches[n_] = {start, std::max(end, start + 1), 0, 0};
    ++n_;
}

void AddressAxis::finish() {
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

double AddressAxis::x(std::uint64_t a) const {
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

void AddressAxis::put_labels(std::FILE* out, unsigned y) const {
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
