#include "bench/bench_runs.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace

Run run_child(const char* path, const std::vector<std::string>& args, const char* out_path,
              const char* err_path) {
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

namespace {

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

} // namespace

double load_average() {
    double load = -1;
    if (std::FILE* fp = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(fp, "%lf", &load) != 1)
            load = -1;
        std::fclose(fp);
    }
    return load;
}

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
