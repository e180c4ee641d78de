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

enum class Shape {
    Mixed,      // data_bytes of section data in sections of mixed sizes
    Even,       // data_bytes of section data in `sections` sections of one size
    SmallMixed, // 2048 sections of 1 to 500 bytes
    Small301,   // 2048 sections of 301 bytes each
    Firmware,   // shaped like a linked firmware object of about 180 KB
    StartUp,    // no input: `--version` against `cp --version`
};

struct Case {
    const char* label;
    Shape shape;
    std::uint64_t data_bytes; // Mixed and Even
    int reps;                 // odd, so the median is one measured run
    bool in_quick;
    std::size_t sections = 0; // Even: the sections after the five leading ones
};

const Case kCases[] = {
    {"start-up (--version)", Shape::StartUp, 0, 101, true},
    {"firmware 180 KB", Shape::Firmware, 0, 101, true},
    {"2048 x 301 B", Shape::Small301, 0, 51, true},
    {"1 MiB", Shape::Mixed, 1 * kMiB, 21, true},
    {"16 MiB", Shape::Mixed, 16 * kMiB, 11, false},
    {"256 MiB", Shape::Mixed, 256 * kMiB, 9, false},
    {"2048 sections", Shape::SmallMixed, 0, 21, true},
    {"16 MiB in 4 sections", Shape::Even, 16 * kMiB, 21, false, 4},
    {"256 MiB in 64 sections", Shape::Even, 256 * kMiB, 9, false, 64},
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

constexpr std::int32_t kCode = 0x20;
constexpr std::int32_t kData = 0x40;
constexpr std::int32_t kBss = 0x80;
constexpr std::int32_t kDummy = 0x01;
constexpr std::int32_t kCopy = 0x10;

// What a linked firmware object for the target holds: start-up code and the boot section
// among the leading sections, one large code section, RAM functions loaded in one place
// and run in another, constant and lookup tables, uninitialised and stack sections
// without data, a table kept in the target's ROM (a dummy section: a size, no data), a
// copy section with data, some twenty peripheral register frames on the data page, and
// an unnamed section. The sizes are odd as a linker leaves them; about 180 KB in all.
coffgen::Object firmware_object() {
    using coffgen::pattern;
    using coffgen::Section;
    coffgen::Object o;
    o.opt = coffgen::OptFields{.code_size = 0x20F53,
                               .data_size = 0x6E5D,
                               .bss_size = 0x2A3C,
                               .entry = 0x3F4A12,
                               .code_addr = 0x3E8000,
                               .data_addr = 0x3F0000};
    o.sym_ptr = 0x2C3F0;
    o.num_syms = 1873;
    std::uint8_t seed = 1;
    auto with_data = [&seed](const char* name, std::size_t n, std::int32_t flags, std::int32_t phy,
                             std::int32_t virt) {
        return Section{
            .name = name, .data = pattern(n, seed++), .phy = phy, .virt = virt, .flags = flags};
    };
    auto no_data = [](const char* name, std::int32_t size, std::int32_t flags, std::int32_t addr,
                      std::uint16_t page) {
        return Section{.name = name,
                       .phy = addr,
                       .virt = addr,
                       .flags = flags,
                       .size = size,
                       .mem_page = page};
    };
    o.sections = {
        with_data("codestrt", 4, kCode, 0x3F7FF6, 0x3F7FF6),
        with_data(".boot_L", 502, kCode, 0x0, 0x0),
        with_data(".cinit", 2318, kData, 0x3F5000, 0x3F5000),
        no_data(".pinit", 0, kData, 0x3F5910, 0),
        with_data(".switch", 88, kData, 0x3F5910, 0x3F5910),
        with_data(".text", 130213, kCode, 0x3E8000, 0x3E8000),
        with_data("ramfuncs", 4363, kCode, 0x3F3000, 0x8000),
        with_data(".econst", 21877, kData, 0x3F0000, 0x3F0000),
        no_data("IQmathTb", 0xB50, kDummy, 0x3FE000, 0),
        with_data("IQmath", 2107, kCode, 0x3F4000, 0x3F4000),
        with_data(".reset", 2, kCopy, 0x3FFFC0, 0x3FFFC0),
        no_data(".ebss", 0x1A3C, kBss, 0x9000, 1),
        no_data(".stack", 0x400, kBss, 0x400, 1),
        no_data(".esysmem", 0x400, kBss, 0xB000, 1),
        with_data(".data", 1131, kData, 0xA000, 0xA000),
        with_data("csmpwds", 16, kData, 0x3F7FF8, 0x3F7FF8),
        with_data("csm_rsvd", 152, kData, 0x3F7F80, 0x3F7F80),
        with_data("FpuTbls", 9001, kData, 0x3F6000, 0x3F6000),
        with_data("FlashTbl", 6144, kData, 0x3F1000, 0x3F1000),
        with_data(".sconst", 1, kData, 0x3F5A00, 0x3F5A00),
    };
    // Peripheral register frames: names and sizes, placed one after another on page 1.
    static const struct {
        const char* name;
        std::int32_t size;
    } kFrames[] = {
        {"PieVect", 0x100}, {"DevEmu", 0xD0},   {"FlashReg", 0x8},  {"CsmRegs", 0x10},
        {"AdcRslt", 0x10},  {"CpuTim0", 0x8},   {"PieCtrl", 0x1A},  {"DmaRegs", 0xE0},
        {"McbspA", 0x25},   {"ECanA", 0x34},    {"ECanAMb", 0x100}, {"EPwm1", 0x22},
        {"EQep1", 0x40},    {"GpioCtrl", 0x2E}, {"GpioData", 0x20}, {"SysCtrl", 0x20},
        {"SciA", 0x10},     {"AdcRegs", 0x1E},  {"I2caRegs", 0x22},
    };
    std::int32_t addr = 0x0880;
    for (const auto& f : kFrames) {
        o.sections.push_back(no_data(f.name, f.size, kBss, addr, 1));
        addr += (f.size + 0x3F) & ~0x3F;
    }
    o.sections.push_back(with_data("", 33, kData, 0xC000, 0xC000));
    return o;
}

coffgen::Object make_object(const Case& c) {
    if (c.shape == Shape::Firmware)
        return firmware_object();
    coffgen::Object o;
    o.opt = coffgen::OptFields{.entry = 0x3F0040};
    if (c.shape == Shape::Small301) {
        // The full table at one size: every header, row and record costs its fixed share.
        for (std::size_t i = 0; i < 2048; ++i) {
            o.sections.push_back(data_section(301, i));
            if (i == 2)
                o.sections.back().name = ".boot_L";
        }
        return o;
    }
    o.sections = coffgen::leading_sections();
    o.sections.push_back({.name = ".boot_L", .data = coffgen::pattern(37, 0x30)});
    if (c.shape == Shape::SmallMixed) {
        for (std::size_t i = o.sections.size(); i < 2048; ++i)
            o.sections.push_back(data_section(1 + (i * 37) % 500, i));
    } else if (c.shape == Shape::Even) {
        for (std::size_t k = 0; k < c.sections; ++k)
            o.sections.push_back(
                data_section(static_cast<std::size_t>(c.data_bytes / c.sections), k));
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
        const coffgen::Section& s = o.sections[i];
        if (s.name == ".boot_L")
            continue;
        size += size % 2;
        const std::int32_t n = s.size.value_or(static_cast<std::int32_t>(s.data.size()));
        const bool has_data = s.file_ptr.value_or(s.data.empty() ? 0 : 1) != 0;
        if (n > 0 && has_data && (s.flags & (kDummy | kCopy)) == 0)
            size += 8 + static_cast<std::uint64_t>(n);
    }
    return size + 8;
}

struct Paths {
    std::string self;      // this program, which also makes the inputs
    std::string converter; // the converter under test
    std::string baseline;  // a second converter run beside it, or empty
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
// /dev/null, standard output into `out_path` and standard error into `err_path` (when
// given: warnings are part of a run, and a terminal must not time them), and waits for
// it; a failure report carries the start of what the child wrote there. A forked child starts
// with its parent's resident pages, which its peak includes: this runner keeps itself
// small (the inputs are made by a child of their own) so that the floor stays near 1 MiB.
// With `out_path` null, standard output is a pipe that is read and thrown away while the
// child runs, as a build log's reader would.
Run run_child(const char* path, const std::vector<std::string>& args,
              const char* out_path = "/dev/null", const char* err_path = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int pipe_fds[2] = {-1, -1};
    if (out_path == nullptr && pipe(pipe_fds) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    const double start = now();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        const int in_fd = open("/dev/null", O_RDONLY);
        const int out_fd =
            out_path == nullptr ? pipe_fds[1] : open(out_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out_path == nullptr)
            close(pipe_fds[0]);
        if (in_fd < 0 || out_fd < 0 || dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0)
            _exit(126);
        if (err_path != nullptr) {
            const int err_fd = open(err_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err_fd < 0 || dup2(err_fd, 2) < 0)
                _exit(126);
        }
        execvp(path, argv.data());
        std::fprintf(stderr, "coff2efw_bench: cannot start %s: %s\n", path, std::strerror(errno));
        _exit(127);
    }
    if (out_path == nullptr) {
        close(pipe_fds[1]);
        char sink[1 << 16];
        for (;;) {
            const ssize_t n = read(pipe_fds[0], sink, sizeof sink);
            if (n == 0 || (n < 0 && errno != EINTR))
                break;
        }
        close(pipe_fds[0]);
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string said;
        if (err_path != nullptr) {
            if (std::FILE* fp = std::fopen(err_path, "r")) {
                char text[512];
                said.assign(text, std::fread(text, 1, sizeof text, fp));
                std::fclose(fp);
            }
        }
        throw std::runtime_error(args[0] + " exited with status " +
                                 std::to_string(WEXITSTATUS(status)) +
                                 (said.empty() ? "" : ":\n" + said));
    }
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

// Other work on the machine moves every number; the load says how much there was. It is
// printed before and after the runs, since a long run can start quiet and end busy.
double load_average() {
    double load = -1;
    if (std::FILE* fp = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(fp, "%lf", &load) != 1)
            load = -1;
        std::fclose(fp);
    }
    return load;
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
    std::printf("Host: %ld CPUs online, %s; scratch directory on %s; load average %.2f\n",
                sysconf(_SC_NPROCESSORS_ONLN), cpu.c_str(), filesystem_name(dir), load_average());
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
