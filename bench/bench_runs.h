// Children started and timed as a build starts them, and the machine they ran on (Linux).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct Run {
    double seconds;
    long max_rss_kib;
};

// Starts `path` (looked up in PATH when it has no slash) with `args`, standard input on
// /dev/null, standard output into `out_path` and standard error into `err_path` (when
// given: warnings are part of a run, and a terminal must not time them), and waits for
// it; a failure report carries the start of what the child wrote there. A forked child starts
// with its parent's resident pages, which its peak includes: this runner keeps itself
// small (the inputs are made by a child of their own) so that the floor stays near 1 MiB.
// With `out_path` null, standard output is a pipe that is read and thrown away while the
// child runs, as a build log's reader would.
Run run_child(const char* path, const std::vector<std::string>& args,
              const char* out_path = "/dev/null", const char* err_path = nullptr);

// Other work on the machine moves every number; the load says how much there was. It is
// printed before and after the runs, since a long run can start quiet and end busy.
double load_average();

// The machine, so that a pasted table says where it was measured.
void print_host(const std::filesystem::path& dir);
