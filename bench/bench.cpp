// Times the converter against `cp` copying the same input into the same directory. A
// conversion is at heart a copy, so `cp` is the limit it is measured against. Inputs are made with
// the test-support object builder in a scratch directory; the runs are interleaved (the order
// alternating between repetitions) and each case reports the median wall time of each, their
// ratios, the throughput and the peak resident memory of each child.
//
//   coff2efw_bench CONVERTER WORK_DIR [--quick]
//
// Everything is written into a fresh directory made inside WORK_DIR (about 1 GiB at the
// peak) and removed at the end.
// --quick runs the small cases once each, to check the benchmark itself works. Linux:
// children are started with fork/exec and reaped with wait4 for their rusage (ru_maxrss
// in KiB), and the host line reads /proc.
#include "tools/coff_builder.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1024 * 1024;

struct Case {
    const char* label;
    std::uint64_t data_bytes; // section data in load records (mixed sizes)
    bool many_small;          // 2048 small sections instead
    int reps;                 // odd, so the median is one measured run
    bool in_quick;
};

const Case kCases[] = {
    {"1 MiB", 1 * kMiB, false, 21, true},
    {"16 MiB", 16 * kMiB, false, 11, false},
    {"256 MiB", 256 * kMiB, false, 9, false},
    {"2048 sections", 0, true, 21, true},
};

// Sizes the sections of the large inputs cycle through: around the copy buffer's piece
// size, odd ones, a single byte and some large ones.
const std::uint32_t kMixedSizes[] = {777,    10000, 10001,   65537,  1,       9999,
                                     262147, 12345, 1048573, 333333, 4194319, 2097169};

const char* const kNames[] = {".text", ".data", ".econst", ".ramfunc", ".cinit2"};

coffgen::Section data_section(std::size_t n, std::size_t index) {
    coffgen::Section s;
    s.name = kNames[index % 5];
    s.data = coffgen::pattern(n, static_cast<std::uint8_t>(index));
    s.phy = s.virt = static_cast<std::int32_t>(0x100000 + 0x1000 * index);
    s.flags = index % 2 == 0 ? 0x20 : 0x40;
    return s;
}

coffgen::Object make_object(const Case& c) {
    coffgen::Object o;
    o.opt = coffgen::OptFields{.entry = 0x3F0040};
    o.sections = coffgen::leading_sections();
    o.sections.push_back({.name = ".boot_L", .data = coffgen::pattern(37, 0x30)});
    if (c.many_small) {
        // Fills the section table: every header, row and record costs its fixed share.
        for (std::size_t i = o.sections.size(); i < 2048; ++i)
            o.sections.push_back(data_section(1 + (i * 37) % 500, i));
    } else {
        std::uint64_t left = c.data_bytes;
        for (std::size_t k = 0; left > 0; ++k) {
            const std::uint64_t n =
                std::min<std::uint64_t>(left, kMixedSizes[k % std::size(kMixedSizes)]);
            o.sections.push_back(data_section(static_cast<std::size_t>(n), k));
            left -= n;
        }
    }
    return o;
}

// What a correct run writes: boot region, entry word, one aligned record per loadable
// section, terminator. Checked after every run so that a failing converter cannot pass
// for a fast one.
std::uint64_t expected_image_size(const coffgen::Object& o) {
    std::uint64_t size = 0x800 + 4;
    for (std::size_t i = 5; i < o.sections.size(); ++i) {
        if (o.sections[i].name == ".boot_L")
            continue;
        size += size % 2;
        size += 8 + o.sections[i].data.size();
    }
    return size + 8;
}

struct Paths {
    std::string self;      // this program, which also makes the inputs
    std::string converter; // the converter under test
    fs::path dir;          // scratch directory for inputs and outputs
};

struct Run {
    double seconds;
    long max_rss_kib;
};

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Starts `path` (looked up in PATH when it has no slash) with `args`, standard input on
// /dev/null and standard output into `out_path`, and waits for it. A forked child starts
// with its parent's resident pages, which its peak includes: this runner keeps itself
// small (the inputs are made by a child of their own) so that the floor stays near 1 MiB.
Run run_child(const char* path, const std::vector<std::string>& args,
              const char* out_path = "/dev/null") {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const double start = now();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd = open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in_fd < 0 || out_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0)
            _exit(126);
        execvp(path, argv.data());
        std::fprintf(stderr, "coff2efw_bench: cannot start %s: %s\n", path, std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
    }
    const double seconds = now() - start;
    if (WIFSIGNALED(status))
        throw std::runtime_error(args[0] + " killed by signal " + std::to_string(WTERMSIG(status)));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " exited with status " +
                                 std::to_string(WEXITSTATUS(status)));
    return {seconds, usage.ru_maxrss};
}

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
    std::snprintf(buf, sizeof buf, "%.1f ms", s * 1e3);
    return buf;
}

std::string format_mib(double bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MiB", bytes / static_cast<double>(kMiB));
    return buf;
}

std::string read_text(const fs::path& path) {
    const coffgen::Bytes bytes = coffgen::read_file(path.string());
    return std::string(bytes.begin(), bytes.end());
}

// Writes the input of case `index` to `path` and prints the size its image must have and
// its section count.
int make_input(std::size_t index, const std::string& path) {
    if (index >= std::size(kCases))
        throw std::out_of_range("no input number " + std::to_string(index));
    const coffgen::Object object = make_object(kCases[index]);
    coffgen::write_file(path, coffgen::build(object));
    std::printf("%llu %zu\n", static_cast<unsigned long long>(expected_image_size(object)),
                object.sections.size());
    return 0;
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

void bench_case(std::size_t index, const Paths& paths, int reps) {
    const Case& c = kCases[index];
    const fs::path input = paths.dir / "bench.out";
    const fs::path image = paths.dir / "VELTARA-bench.efw";
    const fs::path copy = paths.dir / "bench.copy";
    const Input made = generate(paths, index, input);
    const std::string ini = "[CONFIG]\nCOFF_FILE=bench.out\n";
    coffgen::write_file((paths.dir / "config.ini").string(),
                        coffgen::Bytes(ini.begin(), ini.end()));
    const auto input_bytes = static_cast<double>(fs::file_size(input));

    // The converter finds its config.ini and writes its image in the directory of its
    // argument zero, so it is started under a name inside the scratch directory.
    const std::vector<std::string> conv_args{(paths.dir / "coff2efw").string()};
    const std::vector<std::string> cp_args{"cp", input.string(), copy.string()};

    std::vector<double> conv_times, cp_times;
    long conv_rss = 0, cp_rss = 0;
    for (int r = 0; r < reps; ++r) {
        for (int k = 0; k < 2; ++k) {
            const bool conv_turn = (k == 0) == (r % 2 == 0);
            // Each run writes a new file; leftovers from the last one go untimed, and
            // sync() keeps their write-back out of the next measurement.
            remove_if_present(image);
            remove_if_present(copy);
            sync();
            if (conv_turn) {
                const Run run = run_child(paths.converter.c_str(), conv_args);
                if (fs::file_size(image) != made.image_size) {
                    throw std::runtime_error("image of " + std::string(c.label) + " has " +
                                             std::to_string(fs::file_size(image)) +
                                             " bytes, expected " + std::to_string(made.image_size));
                }
                conv_times.push_back(run.seconds);
                conv_rss = std::max(conv_rss, run.max_rss_kib);
            } else {
                const Run run = run_child("cp", cp_args);
                cp_times.push_back(run.seconds);
                cp_rss = std::max(cp_rss, run.max_rss_kib);
            }
        }
    }
    remove_if_present(image);
    remove_if_present(copy);
    remove_if_present(input);

    const double conv = median(conv_times);
    const double cpy = median(cp_times);
    const double mib = input_bytes / static_cast<double>(kMiB);
    std::printf("| %s | %s | %zu | %d | %s | %s | %.2f | %.0f | %.0f | %s | %s |\n", c.label,
                format_mib(input_bytes).c_str(), made.sections, reps, format_time(conv).c_str(),
                format_time(cpy).c_str(), conv / cpy, mib / conv, mib / cpy,
                format_mib(static_cast<double>(conv_rss) * 1024).c_str(),
                format_mib(static_cast<double>(cp_rss) * 1024).c_str());
    std::fflush(stdout);
}

const char* filesystem_name(const fs::path& dir) {
    struct statfs st;
    if (statfs(dir.c_str(), &st) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(st.f_type)) {
    case 0xEF53:
        return "ext2/3/4";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x01021994:
        return "tmpfs";
    case 0x794C7630:
        return "overlayfs";
    default:
        return "other";
    }
}

// The machine, so that a pasted table says where it was measured.
void print_host(const fs::path& dir) {
    std::string cpu = "unknown CPU";
    if (std::FILE* fp = std::fopen("/proc/cpuinfo", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, fp) != nullptr) {
            const char* colon = std::strchr(line, ':');
            if (std::strncmp(line, "model name", 10) == 0 && colon != nullptr) {
                cpu = colon + 1;
                cpu.erase(0, cpu.find_first_not_of(' '));
                cpu.erase(cpu.find_last_not_of("\n ") + 1);
                break;
            }
        }
        std::fclose(fp);
    }
    // Other work on the machine moves every number; the load says how much there was.
    double load = -1;
    if (std::FILE* fp = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(fp, "%lf", &load) != 1)
            load = -1;
        std::fclose(fp);
    }
    std::printf("Host: %ld CPUs online, %s; scratch directory on %s; load average %.2f\n",
                sysconf(_SC_NPROCESSORS_ONLN), cpu.c_str(), filesystem_name(dir), load);
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
    if (argc < 3) {
        std::fprintf(stderr, "usage: coff2efw_bench CONVERTER WORK_DIR [--quick]\n");
        return 2;
    }
    Paths paths;
    paths.self = fs::canonical("/proc/self/exe").string();
    paths.converter = fs::absolute(argv[1]).string();
    const bool quick = argc > 3 && std::strcmp(argv[3], "--quick") == 0;
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
                    "cache.\nPeak RSS is the largest over the runs; "
                    "`true` started the same way peaks at %.1f MiB.\n\n",
                    static_cast<double>(floor_kib) / 1024);
        std::printf("| input | file | sections | runs | coff2efw | cp | ratio | coff2efw MiB/s | "
                    "cp MiB/s | coff2efw peak | cp peak |\n");
        std::printf("|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
        std::fflush(stdout);
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            if (!quick || kCases[i].in_quick)
                bench_case(i, paths, quick ? 1 : kCases[i].reps);
        }
        fs::remove_all(paths.dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "coff2efw_bench: %s\n", e.what());
        std::error_code ec;
        fs::remove_all(paths.dir, ec);
        return 1;
    }
    return 0;
}
