// The pieces both HTML reports are drawn with: the page's head and style, its facts, the
// image as a bar to scale, and the address axis of a memory band.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

// The bar and the bands are drawn in a box this many units wide, which the page scales to
// its width: a record of less than kMinWidth units is drawn kMinWidth wide, so that it
// stays visible.
inline constexpr double kWidth = 1000;
inline constexpr double kMinWidth = 0.8;

// `bytes` as HTML text: the markup characters as references, each well-formed UTF-8
// character as it is, every other byte (control bytes, bytes that form no UTF-8) as the
// text \xHH, so that no name can break the page or hide what it holds.
void put_html_text(std::FILE* out, std::string_view bytes);

// The colour of section `index`, the same in the bar, the bands and the table.
void put_colour(std::FILE* out, unsigned index);
void put_hex(std::FILE* out, std::uint64_t v);
// The document's start, its style and its title, "`what`: `subject`".
void put_head(std::FILE* out, const char* what, std::string_view subject);
void put_fact(std::FILE* out, const char* term, std::string_view text);
void put_hex_fact(std::FILE* out, const char* term, std::uint64_t v, const char* after = "");
void put_end(std::FILE* out);

// The scale of the image bar: image offsets to units of the box.
struct Scale {
    double from;
    double per_unit;
    double x(std::uint64_t v) const { return (static_cast<double>(v) - from) * per_unit; }
    double w(std::uint64_t len) const {
        return std::max(static_cast<double>(len) * per_unit, kMinWidth);
    }
};

// One piece of the image bar, with its tooltip: put_piece opens it and its tooltip, the
// caller writes what it is, and end_piece closes it with where it lies. `fill` is a
// colour, or null for the section colour of `section`.
void put_piece(std::FILE* out, const Scale& s, std::uint64_t off, std::uint64_t len,
               const char* fill, unsigned section, const char* cls);
void end_piece(std::FILE* out, std::uint64_t off, std::uint64_t len);
// The mark under the bar that every record gets, however small: a tick in its colour.
void put_mark(std::FILE* out, const Scale& s, unsigned k, std::uint64_t off, std::uint64_t len,
              unsigned colour);
// The bar's heading, its scale, and the boot region and entry word that start every image.
void start_bar(std::FILE* out, std::uint64_t image_size, std::uint32_t boot_units);
void put_padding(std::FILE* out, const Scale& s, std::uint64_t off);
// The terminator at `terminator`, the bar's end and its legend; `records` says how the
// records are coloured.
void end_bar(std::FILE* out, const Scale& s, std::uint64_t terminator, const char* records);
// How full the ROM is, with --max-size.
void put_fullness(std::FILE* out, std::uint64_t size, std::uint64_t max_size);

// The address axis of a memory band: the stretches that sections (or records) occupy,
// each as wide as its share of the occupied bytes but never too narrow to see, and the
// gaps between them shrunk to a fixed width, so that a page whose sections lie megabytes
// apart still shows each one. Holds at most kMaxSections stretches, in one array that
// every axis shares, so one axis is drawn at a time; past that the axis is linear.
class AddressAxis {
  public:
    void add(std::uint64_t start, std::uint64_t end);
    // After the last add and before the first x.
    void finish();
    double x(std::uint64_t a) const;
    double w(std::uint64_t start, std::uint64_t end) const {
        return std::max(x(end) - x(start), kMinWidth);
    }
    // The first address of each stretch, under it, where there is room for it; and the
    // breaks between stretches.
    void put_labels(std::FILE* out, unsigned y) const;

    std::uint64_t lo() const { return lo_; }
    std::uint64_t hi() const { return hi_; }

  private:
    std::uint64_t lo_ = ~std::uint64_t{0};
    std::uint64_t hi_ = 0;
    unsigned n_ = 0;
    bool linear_ = false;
    double gap_ = 0; // between stretches
};
