// Times the converter against `cp` copying the same input into the same directory. A
// conversion is at heart a copy, so `cp` is the limit it is measured against. Inputs are made with
// the object builder (tools/) in a scratch directory; the runs are interleaved (the order
// rotating between repetitions) and each case reports the median wall time of each, their
// ratios, the throughput and the peak resident memory of each child.
//
//   coff2efw_bench CONVERTER WORK_DIR [--quick] [--runs N] [--baseline CONVERTER2]
//                  [--only TEXT] [--fresh]
//
// Everything is written into a fresh directory made inside WORK_DIR (about 1 GiB at the
// peak) and removed at the end.
// --quick runs the small cases once each, to check the benchmark itself works.
// --runs N runs every case N times (odd, so the median is one measured run) instead of
// its own count; on a busy machine more runs steady the medians.
// --baseline adds a second converter (an older build, say) to the same interleaved runs,
// so that a before/after comparison shares one machine state.
// --only TEXT runs only the cases whose label contains TEXT.
// --fresh measures as a build does: every run writes a fresh output (the last one removed
// and the disk synced, untimed) and the listing goes into a pipe that this runner drains,
// as into a build log, instead of /dev/null, where the C library buffers it in large
// pieces and the kernel discards it.
// Linux: children are started with fork/exec and reaped with wait4 for their rusage
// (ru_maxrss in KiB), and the host line reads /proc.
#include "bench/bench_inputs.h"
#include "bench/bench_runs.h"
#include "tools/coff_builder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Paths {
    std::string self;      // this program, which also makes the inputs
    std::string converter; // the converter under test
    std::string baseline;  // a second converter run beside it, or empty
    fs::path dir;          // scratch directory for inputs and outputs
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2;
}

void remove_if_present(const fs::path& p) {
    std::error_code ec;
    fs::remove(p, ec);
}

std::string format_time(double s) {
    char buf[32];
    // Start-up runs take about a millisecond, where a tenth says little.
    std::snprintf(buf, sizeof buf, s < 0.01 ? "%.2f ms" : "%.1f ms", s * 1e3);
    return buf;
}

std::string format_mib(double bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / static_cast<double>(kMiB));
    return buf;
}

// Input sizes: small objects in KiB, where a tenth of a MiB says little.
std::string format_size(double bytes) {
    if (bytes >= static_cast<double>(kMiB))
        return format_mib(bytes);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f KiB", bytes / 1024);
    return buf;
}

std::string read_text(const fs::path& path) {
    const coffgen::Bytes bytes = coffgen::read_file(path.string());
    return std::string(bytes.begin(), bytes.end());
}

struct Input {
    std::uint64_t image_size;
    std::size_t sections;
};

Input generate(const Paths& paths, std::size_t index, const fs::path& input) {
    const fs::path facts = paths.dir / "facts.txt";
    run_child(paths.self.c_str(), {paths.self, "--make", std::to_string(index), input.string()},
              facts.c_str());
    unsigned long long size = 0;
    std::size_t sections = 0;
    if (std::sscanf(read_text(facts).c_str(), "%llu %zu", &size, &sections) != 2)
        throw std::runtime_error("the input generator printed nothing usable");
    remove_if_present(facts);
    return {size, sections};
}

// One program of a case: how it is started and what it measured.
struct Contender {
    const char* path;
    std::vector<std::string> args;
    bool makes_image;
    std::vector<double> times;
    long max_rss_kib = 0;
};

void bench_case(std::size_t index, const Paths& paths, int reps, bool fresh) {
    const Case& c = kCases[index];
    const bool start_up = c.shape == Shape::StartUp;
    const fs::path input = paths.dir / "bench.out";
    const fs::path image = paths.dir / "VELTARA-bench.efw";
    const fs::path copy = paths.dir / "bench.copy";
    Input made{0, 0};
    double input_bytes = 0;
    if (!start_up) {
        made = generate(paths, index, input);
        const std::string ini = "[CONFIG]\nCOFF_FILE=bench.out\n";
        coffgen::write_file((paths.dir / "config.ini").string(),
                            coffgen::Bytes(ini.begin(), ini.end()));
        input_bytes = static_cast<double>(fs::file_size(input));
    }

    // The converter finds its config.ini and writes its image in the directory of its
    // argument zero, so it is started under a name inside the scratch directory.
    const std::string errors = (paths.dir / "errors.txt").string();
    const std::string conv_name = (paths.dir / "coff2efw").string();
    std::vector<std::string> conv_args{conv_name};
    std::vector<std::string> cp_args{"cp", input.string(), copy.string()};
    if (start_up) {
        conv_args.push_back("--version");
        cp_args = {"cp", "--version"};
    }
    std::vector<Contender> progs;
    progs.push_back({paths.converter.c_str(), conv_args, !start_up, {}});
    if (!paths.baseline.empty())
        progs.push_back({paths.baseline.c_str(), conv_args, !start_up, {}});
    progs.push_back({"cp", cp_args, false, {}});

    for (int r = 0; r < reps; ++r) {
        for (std::size_t k = 0; k < progs.size(); ++k) {
            // Each repetition starts with the next program, so that none always runs
            // right after the generator or the same neighbour.
            Contender& p = progs[(k + static_cast<std::size_t>(r)) % progs.size()];
            // Each run writes a new file; leftovers from the last one go untimed, and
            // sync() keeps their write-back out of the next measurement.
            if (!start_up) {
                remove_if_present(image);
                remove_if_present(copy);
                sync();
            }
            const Run run =
                run_child(p.path, p.args, fresh ? nullptr : "/dev/null", errors.c_str());
            if (p.makes_image && fs::file_size(image) != made.image_size) {
                throw std::runtime_error(std::string(p.path) + ": image of " + c.label + " has " +
                                         std::to_string(fs::file_size(image)) +
                                         " bytes, expected " + std::to_string(made.image_size));
            }
            p.times.push_back(run.seconds);
            p.max_rss_kib = std::max(p.max_rss_kib, run.max_rss_kib);
        }
    }
    remove_if_present(image);
    remove_if_present(copy);
    remove_if_present(input);
    remove_if_present(errors);

    const double cpy = median(progs.back().times);
    const double mib = input_bytes / static_cast<double>(kMiB);
    std::printf("| %s | %s | %s | %d |", c.label, start_up ? "-" : format_size(input_bytes).c_str(),
                start_up ? "-" : std::to_string(made.sections).c_str(), reps);
    for (const Contender& p : progs)
        std::printf(" %s |", format_time(median(p.times)).c_str());
    for (std::size_t k = 0; k + 1 < progs.size(); ++k)
        std::printf(" %.2f |", median(progs[k].times) / cpy);
    if (progs.size() == 3)
        std::printf(" %.2f |", median(progs[0].times) / median(progs[1].times));
    for (const Contender& p : progs) {
        if (start_up)
            std::printf(" - |");
        else
            std::printf(" %.0f |", mib / median(p.times));
    }
    for (const Contender& p : progs)
        std::printf(" %s |", format_mib(static_cast<double>(p.max_rss_kib) * 1024).c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void print_table_head(bool with_baseline) {
    if (with_baseline) {
        std::printf("| input | file | sections | runs | coff2efw | baseline | cp | ratio | "
                    "baseline ratio | coff2efw / baseline | coff2efw MiB/s | baseline MiB/s | "
                    "cp MiB/s | coff2efw peak | baseline peak | cp peak |\n");
        std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
    } else {
        std::printf("| input | file | sections | runs | coff2efw | cp | ratio | coff2efw MiB/s | "
                    "cp MiB/s | coff2efw peak | cp peak |\n");
        std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--make") == 0) {
        try {
            return make_input(std::stoul(argv[2]), argv[3]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "coff2efw_bench: %s\n", e.what());
            return 1;
        }
    }
    const char* const usage =
        "usage: coff2efw_bench CONVERTER WORK_DIR [--quick] [--runs N] [--baseline CONVERTER2]\n"
        "                      [--only TEXT] [--fresh]\n";
    if (argc < 3) {
        std::fputs(usage, stderr);
        return 2;
    }
    Paths paths;
    paths.self = fs::canonical("/proc/self/exe").string();
    paths.converter = fs::absolute(argv[1]).string();
    bool quick = false;
    bool fresh = false;
    int runs = 0;
    const char* only = "";
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--fresh") == 0) {
            fresh = true;
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
            if (runs < 1 || runs % 2 == 0) {
                std::fprintf(stderr, "coff2efw_bench: --runs takes an odd count\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc) {
            paths.baseline = fs::absolute(argv[++i]).string();
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    // A directory of its own, so that removing it can never take anything else along.
    std::string scratch = (fs::absolute(argv[2]) / "coff2efw-bench-XXXXXX").string();
    fs::create_directories(fs::absolute(argv[2]));
    if (mkdtemp(scratch.data()) == nullptr) {
        std::fprintf(stderr, "coff2efw_bench: cannot create %s: %s\n", scratch.c_str(),
                     std::strerror(errno));
        return 1;
    }
    paths.dir = scratch;
    try {
        print_host(paths.dir);
        // What a child of this runner shows as its peak before it does anything.
        const long floor_kib = run_child("true", {"true"}).max_rss_kib;
        std::printf("Median wall time of interleaved runs; the inputs are warm in the page "
                    "cache; the listing goes %s.\nPeak RSS is the largest over the runs; "
                    "`true` started the same way peaks at %.1f MiB.\n\n",
                    fresh ? "into a pipe" : "to /dev/null", static_cast<double>(floor_kib) / 1024);
        print_table_head(!paths.baseline.empty());
        std::fflush(stdout);
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            if ((!quick || kCases[i].in_quick) && std::strstr(kCases[i].label, only) != nullptr)
                bench_case(i, paths, quick ? 1 : runs > 0 ? runs : kCases[i].reps, fresh);
        }
        std::printf("\nLoad average at the end: %.2f\n", load_average());
        fs::remove_all(paths.dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "coff2efw_bench: %s\n", e.what());
        std::error_code ec;
        fs::remove_all(paths.dir, ec);
        return 1;
    }
    return 0;
}
