// The run, or an image alone, as one self-contained HTML page: the image to scale as a
// bar, the target's memory one band per page, the section table with each section's fate,
// the run's facts and warnings. Inline CSS and SVG only: it needs no script, no network
// and no font of its own, and prints on paper. The page is written as it is put together,
// so its memory does not grow with the object; every name and path in it is escaped.
#pragma once

#include "base/output_file.h"
#include "base/warnings.h"
#include "image/image_format.h"
#include "image/image_layout.h"
#include "run/file_names.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Keeps the run's warnings, as they are told, in a scratch file for the report (a run of
// 2048 sections may tell one for each), while they go on to the program's reporter as
// before. Does nothing with a null `warnings`. Throws Failure when no scratch file can be
// made.
class ReportWarnings {
  public:
    explicit ReportWarnings(Warnings* warnings);
    ~ReportWarnings();
    ReportWarnings(const ReportWarnings&) = delete;
    ReportWarnings& operator=(const ReportWarnings&) = delete;

    std::FILE* scratch() const { return scratch_; }

  private:
    static void tell(void* self, const char* path, const char* what, const char* name,
                     bool as_error);
    Warnings* warnings_ = nullptr;
    void (*report_)(void*, const char*, const char*, const char*, bool) = nullptr;
    void* context_ = nullptr;
    std::FILE* scratch_ = nullptr;
};

// What the report says of the run beside the layout and the section table.
struct RunFacts {
    const FileNames& names;
    ImageFormat format;
    std::uint32_t crc32;
    std::uint64_t max_size; // ~0 for none
};

// The report of the conversion just run, from the header records, g_SectTable and
// `layout`; the warnings are read back from `warnings` (null for none).
void write_run_report(std::FILE* out, const RunFacts& facts, const ImageLayout& layout,
                      const ReportWarnings* warnings);

// The report of the image at `image_path` alone, from its records: no section names and no
// pages, which only the object knew. The image is checked as efwdump checks it; a
// malformed one is thrown as Failure.
void write_image_report(std::FILE* out, const std::string& image_path);

// efwdump --report: write_image_report into `report_path`, put in place only when
// complete. Throws Failure.
void write_image_report_file(const std::string& report_path, const std::string& image_path);
