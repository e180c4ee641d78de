#include "run/html_report.h"

#include "base/output_file.h"
#include "image/image_input.h"
#include "image/image_reader.h"
#include "image/rom_image.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "run/html_page.h"

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
