// measure_peak REPORT PROGRAM ARGV0 [ARGS...]: runs PROGRAM with the given argument zero
// and arguments, writes its peak resident size in KiB to REPORT and exits with its status.
//
// A test cannot take this figure from its own child: Linux counts into a child's peak the
// pages it shares with its parent between fork and exec, so a test process holding a
// large object would be measured instead of the converter. Forked from this small
// process, the program's own peak shows.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: measure_peak REPORT PROGRAM ARGV0 [ARGS...]\n");
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0)
        return 2;
    if (pid == 0) {
        execv(argv[2], argv + 3);
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 2;
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr || std::fprintf(report, "%ld\n", usage.ru_maxrss) < 0 ||
        std::fclose(report) != 0)
        return 2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
