#include "run/image_diff.h"

#include "base/failure.h"
#include "base/json_writer.h"
#include "image/image_input.h"
#include "image/image_reader.h"
#include "image/rom_image.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace {

// Keys in the order the documentation lists them.
using Json = nlohmann::ordered_json;

// The data of two records pass through these, piece by piece.
unsigned char g_OldPiece[kImageReadPiece];
unsigned char g_NewPiece[kImageReadPiece];

// What the matching needs of a record: 16 bytes, where the data stay in the file.
struct RecordHead {
    std::uint64_t offset;
    std::uint32_t count;
    std::uint32_t dest;
};

class Heads final : public ImageVisitor {
  public:
    explicit Heads(std::vector<RecordHead>& heads) : heads_(heads) {}
    void record(unsigned, const LoadRecord& rec, std::uint64_t) override {
        heads_.push_back({rec.offset, rec.count, rec.dest});
    }

  private:
    std::vector<RecordHead>& heads_;
};

constexpr std::size_t kNone = ~std::size_t{0};

struct Side {
    ImageFile image;
    std::vector<RecordHead> heads;
    std::vector<std::size_t> match; // the other side's index, or kNone

    // The structure is checked from the headers alone; the data are read once, forward
    // where the records keep their order, by the comparison and the CRC-32 behind it.
    Side(const std::string& path, std::uint32_t base) : image{open(path, base)} {
        Heads visitor(heads);
        walk_image_structure(image, visitor);
        match.assign(heads.size(), kNone);
    }

    static InputFile open(const std::string& path, std::uint32_t base) {
        return open_image(path, base);
    }
};

// Where two destinations carry more than one record, the matching took them in order.
struct Ambiguity {
    std::uint32_t dest;
    std::size_t old_count;
    std::size_t new_count;
};

// Records with one destination on both sides are matched in their order; what remains is
// matched where it keeps its place in the chain (a record given a new destination).
std::vector<Ambiguity> match_records(Side& a, Side& b) {
    const auto by_dest = [](const Side& s) {
        std::vector<std::size_t> order(s.heads.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            order[k] = k;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            return s.heads[x].dest < s.heads[y].dest;
        });
        return order;
    };
    const std::vector<std::size_t> oa = by_dest(a);
    const std::vector<std::size_t> ob = by_dest(b);
    std::vector<Ambiguity> ambiguous;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < oa.size() && j < ob.size()) {
        const std::uint32_t da = a.heads[oa[i]].dest;
        const std::uint32_t db = b.heads[ob[j]].dest;
        if (da != db) {
            (da < db ? i : j)++;
            continue;
        }
        std::size_t ei = i;
        std::size_t ej = j;
        while (ei < oa.size() && a.heads[oa[ei]].dest == da)
            ++ei;
        while (ej < ob.size() && b.heads[ob[ej]].dest == da)
            ++ej;
        if (ei - i > 1 || ej - j > 1)
            ambiguous.push_back({da, ei - i, ej - j});
        for (std::size_t k = 0; k < ei - i && k < ej - j; ++k) {
            a.match[oa[i + k]] = ob[j + k];
            b.match[ob[j + k]] = oa[i + k];
        }
        i = ei;
        j = ej;
    }
    for (std::size_t k = 0; k < a.heads.size() && k < b.heads.size(); ++k) {
        if (a.match[k] == kNone && b.match[k] == kNone) {
            a.match[k] = k;
            b.match[k] = k;
        }
    }
    return ambiguous;
}

// Marks the matched records whose order changed: all but a longest run that keeps its
// order on both sides (a longest increasing subsequence of the new indices).
std::vector<bool> moved_records(const Side& a) {
    std::vector<std::size_t> tails; // index into `a` of the smallest tail of each length
    std::vector<std::size_t> previous(a.heads.size(), kNone);
    for (std::size_t k = 0; k < a.heads.size(); ++k) {
        if (a.match[k] == kNone)
            continue;
        const auto at =
            std::lower_bound(tails.begin(), tails.end(), a.match[k],
                             [&](std::size_t t, std::size_t v) { return a.match[t] < v; });
        if (at != tails.begin())
            previous[k] = *(at - 1);
        if (at == tails.end())
            tails.push_back(k);
        else
            *at = k;
    }
    std::vector<bool> moved(a.heads.size(), true);
    for (std::size_t k = tails.empty() ? kNone : tails.back(); k != kNone; k = previous[k])
        moved[k] = false;
    return moved;
}

struct DataDiff {
    std::uint64_t differing = 0;
    std::uint64_t first = 0; // data byte of the first difference
    unsigned char was = 0, now = 0;
};

// The bytes two records share in length, compared piece by piece.
DataDiff compare_data(Side& a, const RecordHead& ra, Side& b, const RecordHead& rb) {
    DataDiff d;
    const std::uint64_t common = std::min(ra.count, rb.count);
    for (std::uint64_t done = 0; done < common;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(common - done, sizeof g_OldPiece));
        read_image_at(a.image, ra.offset + kRecordHeaderSize + done, g_OldPiece, piece);
        read_image_at(b.image, rb.offset + kRecordHeaderSize + done, g_NewPiece, piece);
        for (std::size_t k = 0; k < piece; ++k) {
            if (g_OldPiece[k] == g_NewPiece[k])
                continue;
            if (d.differing++ == 0) {
                d.first = done + k;
                d.was = g_OldPiece[k];
                d.now = g_NewPiece[k];
            }
        }
        done += piece;
    }
    return d;
}

// Writes each finding as a line, or as JSON.
class Report {
  public:
    Report(std::FILE* out, bool json, const std::string& old_path, const std::string& new_path)
        : out_(out), json_(out), as_json_(json), old_(old_path), new_(new_path) {}

    void begin() {
        if (as_json_)
            json_.begin_object();
    }

    void boot(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& runs) {
        if (as_json_) {
            json_.begin_array("boot_units_changed");
            for (const auto& r : runs)
                json_.value(nullptr, Json{{"first", r.first}, {"last", r.second}});
            json_.end_array();
            return;
        }
        if (runs.empty())
            return;
        std::uint32_t units = 0;
        std::string text;
        for (const auto& r : runs) {
            text += (text.empty() ? "" : ", ") + hex(r.first);
            if (r.second != r.first)
                text += " to " + hex(r.second);
            units += r.second - r.first + 1;
        }
        std::fprintf(out_, "boot region: unit%s %s changed (%s of %s)\n", units == 1 ? "" : "s",
                     text.c_str(), hex(units).c_str(), hex(kBootCapacity).c_str());
    }

    void entry(std::uint32_t was, std::uint32_t now) {
        if (as_json_)
            json_.value("entry", Json{{"old", was}, {"new", now}});
        else if (was != now)
            std::fprintf(out_, "entry: %s, now %s\n", hex(was).c_str(), hex(now).c_str());
    }

    void ambiguities(const std::vector<Ambiguity>& list) {
        if (as_json_)
            json_.begin_array("ambiguous");
        for (const Ambiguity& m : list) {
            if (as_json_) {
                json_.value(nullptr, Json{{"address", m.dest},
                                          {"old_records", m.old_count},
                                          {"new_records", m.new_count}});
            } else {
                std::fprintf(out_,
                             "note: destination %s has %zu records in %s and %zu in %s: "
                             "matched in their order\n",
                             hex(m.dest).c_str(), m.old_count, old_.c_str(), m.new_count,
                             new_.c_str());
            }
        }
        if (as_json_) {
            json_.end_array();
            json_.begin_array("records");
        }
    }

    // One record's change: `kinds` joined by "and"; `ra`/`rb` null for added/removed.
    void record(const std::vector<const char*>& kinds, std::size_t ia, const RecordHead* ra,
                std::size_t ib, const RecordHead* rb, const DataDiff& d) {
        ++changes_;
        for (const char* kind : kinds)
            count(kind);
        if (as_json_) {
            Json j;
            j["kinds"] = kinds;
            if (ra != nullptr)
                j["old"] = head_json(ia, *ra);
            if (rb != nullptr)
                j["new"] = head_json(ib, *rb);
            if (ra != nullptr && rb != nullptr) {
                j["differing_bytes"] = d.differing;
                if (d.differing > 0)
                    j["first_difference"] = d.first;
            }
            json_.value(nullptr, j);
            return;
        }
        std::string line;
        for (const char* kind : kinds)
            line += (line.empty() ? "" : " and ") + std::string(kind);
        const RecordHead& r = ra != nullptr ? *ra : *rb;
        line += ": record " + std::to_string(ra != nullptr ? ia : ib);
        if (ra != nullptr && rb != nullptr && ia != ib)
            line += ", now " + std::to_string(ib);
        line +=
            " (" + hex(r.count) + " bytes to " + hex(r.dest) + " at offset " + hex(r.offset) + ")";
        if (ra != nullptr && rb != nullptr) {
            if (ra->offset != rb->offset)
                line += "; offset now " + hex(rb->offset);
            if (ra->dest != rb->dest)
                line += "; destination now " + hex(rb->dest);
            if (ra->count != rb->count)
                line += "; size now " + hex(rb->count);
            if (d.differing > 0)
                line += "; " + hex(d.differing) + " bytes differ, the first at data byte " +
                        hex(d.first) + ": " + hex(d.was) + ", now " + hex(d.now);
        }
        std::fprintf(out_, "%s\n", line.c_str());
    }

    // Ends the report with the totals; true when anything differed.
    bool finish(Side& a, Side& b, bool boot_or_entry) {
        image_crc32(a.image);
        image_crc32(b.image);
        const bool differ = boot_or_entry || changes_ > 0 || a.image.in.size != b.image.in.size ||
                            a.image.crc != b.image.crc;
        if (as_json_) {
            json_.end_array();
            json_.value("old", totals(old_, a));
            json_.value("new", totals(new_, b));
            json_.value("same", !differ);
            json_.end_object();
            json_.finish();
            return differ;
        }
        // The fill behind the terminator is no record; a change there shows here.
        if (a.image.fill_size != 0 || b.image.fill_size != 0) {
            std::fprintf(out_, "fill: %s bytes of %s, now %s bytes of %s\n",
                         hex(a.image.fill_size).c_str(), hex(a.image.fill).c_str(),
                         hex(b.image.fill_size).c_str(), hex(b.image.fill).c_str());
        }
        std::fprintf(out_, "size: %s, now %s\n", hex(a.image.in.size).c_str(),
                     hex(b.image.in.size).c_str());
        std::fprintf(out_, "crc32: %08x, now %08x\n", a.image.crc, b.image.crc);
        if (differ) {
            std::fprintf(out_,
                         "%s %s differ: %u record%s (%u changed, %u resized, %u added, %u "
                         "removed, %u moved)\n",
                         old_.c_str(), new_.c_str(), changes_, changes_ == 1 ? "" : "s", counts_[0],
                         counts_[1], counts_[2], counts_[3], counts_[4]);
        }
        return differ;
    }

  private:
    static Json totals(const std::string& path, const Side& s) {
        Json j{{"path", path},
               {"image_size", s.image.in.size},
               {"crc32", s.image.crc},
               {"records", s.heads.size()}};
        if (s.image.fill_size != 0)
            j["fill"] = Json{{"size", s.image.fill_size}, {"byte", s.image.fill}};
        return j;
    }
    static Json head_json(std::size_t index, const RecordHead& r) {
        return Json{
            {"index", index}, {"image_offset", r.offset}, {"size", r.count}, {"address", r.dest}};
    }
    void count(std::string_view kind) {
        static constexpr const char* kKinds[] = {"changed", "resized", "added", "removed", "moved"};
        for (unsigned k = 0; k < 5; ++k)
            counts_[k] += kind == kKinds[k] ? 1U : 0U;
    }

    std::FILE* out_;
    JsonWriter json_;
    bool as_json_;
    const std::string& old_;
    const std::string& new_;
    unsigned counts_[5] = {};
    unsigned changes_ = 0;
};

// The runs of boot units that differ, as first and last unit.
std::vector<std::pair<std::uint32_t, std::uint32_t>> boot_changes(Side& a, Side& b) {
    read_image_at(a.image, 0, g_OldPiece, kBootRegionSize);
    read_image_at(b.image, 0, g_NewPiece, kBootRegionSize);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
    for (std::uint32_t u = 0; u < kBootCapacity; ++u) {
        if (g_OldPiece[2 * u] == g_NewPiece[2 * u] &&
            g_OldPiece[2 * u + 1] == g_NewPiece[2 * u + 1])
            continue;
        if (!runs.empty() && runs.back().second + 1 == u)
            runs.back().second = u;
        else
            runs.emplace_back(u, u);
    }
    return runs;
}

} // namespace

int diff_images(const std::string& old_path, const std::string& new_path, std::uint32_t base,
                bool json, std::FILE* out) {
    Side a(old_path, base);
    Side b(new_path, base);
    const std::vector<Ambiguity> ambiguous = match_records(a, b);
    const std::vector<bool> moved = moved_records(a);

    Report report(out, json, old_path, new_path);
    report.begin();
    const auto boot = boot_changes(a, b);
    report.boot(boot);
    const std::uint32_t was = read_entry_word(a.image);
    const std::uint32_t now = read_entry_word(b.image);
    report.entry(was, now);
    report.ambiguities(ambiguous);
    for (std::size_t k = 0; k < a.heads.size(); ++k) {
        const RecordHead& ra = a.heads[k];
        const std::size_t m = a.match[k];
        if (m == kNone) {
            report.record({"removed"}, k, &ra, kNone, nullptr, {});
            continue;
        }
        const RecordHead& rb = b.heads[m];
        const DataDiff d = compare_data(a, ra, b, rb);
        std::vector<const char*> kinds;
        if (moved[k])
            kinds.push_back("moved");
        if (ra.count != rb.count)
            kinds.push_back("resized");
        if (d.differing > 0 || ra.dest != rb.dest)
            kinds.push_back("changed");
        if (kinds.empty())
            continue;
        report.record(kinds, k, &ra, m, &rb, d);
    }
    for (std::size_t k = 0; k < b.heads.size(); ++k) {
        if (b.match[k] != kNone)
            continue;
        report.record({"added"}, kNone, nullptr, k, &b.heads[k], {});
    }
    return report.finish(a, b, !boot.empty() || was != now) ? 1 : 0;
}
