#include "support/harness.h"

#include "base/failure.h"
#include "image/efw_sink.h"
#include "run/run_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <optional>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace harness {

std::string slurp(std::FILE* fp) {
    std::string out;
    std::rewind(fp);
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
        out.append(chunk, n);
    return out;
}

Conversion convert_bytes(const coffgen::Bytes& object) {
    Conversion result;
    std::FILE* in_fp = std::tmpfile();
    std::FILE* out_fp = std::tmpfile();
    std::FILE* console = std::tmpfile();
    if (in_fp == nullptr || out_fp == nullptr || console == nullptr)
        throw std::runtime_error("tmpfile failed");
    if (!object.empty())
        std::fwrite(object.data(), 1, object.size(), in_fp);
    std::rewind(in_fp);

    InputFile in;
    in.fp = in_fp;
    in.size = object.size();
    in.path = "input.out";
    StreamSink sink(out_fp, "output.efw");
    try {
        convert(in, sink, console);
    } catch (const Failure& f) {
        result.error = f.path + ": " + f.cause;
    }
    std::fflush(out_fp);
    const std::string image = slurp(out_fp);
    result.image.assign(image.begin(), image.end());
    result.console = slurp(console);
    std::fclose(out_fp); // the input's stream closes with `in`
    std::fclose(console);
    return result;
}

Conversion convert_ok(const coffgen::Object& object) {
    Conversion r = convert_bytes(coffgen::build(object));
    EXPECT_FALSE(r.error) << *r.error;
    return r;
}

coffgen::Object with_sections(std::vector<coffgen::Section> rest, bool opt_head) {
    coffgen::Object o;
    if (!opt_head)
        o.opt = std::nullopt;
    o.sections = coffgen::leading_sections();
    o.sections.insert(o.sections.end(), rest.begin(), rest.end());
    return o;
}

ScratchDir::ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "coff2efw-test-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path = tmpl;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    // A test may have taken write permission away; give it back so the tree goes.
    for (auto it = std::filesystem::recursive_directory_iterator(path, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path.c_str(), 0700);
    std::filesystem::remove_all(path, ec);
}

namespace {

// A copy of the executable at `exe` in a fresh directory under /tmp that every user may
// enter, removed with it.
struct ReachableCopy {
    explicit ReachableCopy(const std::string& exe) {
        char tmpl[] = "/tmp/coff2efw-exe-XXXXXX";
        if (mkdtemp(tmpl) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        dir = tmpl;
        path = dir + "/" + std::filesystem::path(exe).filename().string();
        std::filesystem::copy_file(exe, path);
        if (::chmod(dir.c_str(), 0755) != 0 || ::chmod(path.c_str(), 0755) != 0)
            throw std::runtime_error("chmod failed");
    }
    ~ReachableCopy() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    ReachableCopy(const ReachableCopy&) = delete;
    ReachableCopy& operator=(const ReachableCopy&) = delete;
    std::string dir;
    std::string path;
};

} // namespace

ProcessResult run_program(const std::string& given_exe, const std::string& argv0,
                          const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env, const ChildSetup& setup) {
    std::optional<ReachableCopy> copy;
    if (setup.uid)
        copy.emplace(given_exe);
    const std::string& exe = copy ? copy->path : given_exe;
    char out_name[] = "/tmp/coff2efw-out-XXXXXX";
    char err_name[] = "/tmp/coff2efw-err-XXXXXX";
    const int out_fd = mkstemp(out_name);
    const int err_fd = mkstemp(err_name);
    if (out_fd < 0 || err_fd < 0)
        throw std::runtime_error("mkstemp failed");

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e)
        env_strings.emplace_back(*e);
    for (const std::string& extra : env) {
        const std::string name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env_strings, [&](const std::string& s) { return s.starts_with(name); });
        env_strings.push_back(extra);
    }
    std::vector<char*> envp;
    for (std::string& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> arg_strings{argv0};
    arg_strings.insert(arg_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : arg_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    // With the reader gone before the child starts, no write to the pipe ever succeeds.
    const bool reader_gone = setup.stdout_reader_gone || setup.stdout_to == StdoutTo::ClosedPipe;
    int pipe_fds[2] = {-1, -1};
    const bool mid_run = setup.signal_mid_run != 0 || setup.shrink_mid_run;
    if ((reader_gone || mid_run) && pipe(pipe_fds) != 0)
        throw std::runtime_error("pipe failed");
    if (reader_gone) {
        close(pipe_fds[0]);
        pipe_fds[0] = -1;
    }

    int in_fds[2] = {-1, -1};
    if (setup.stdin_pipe && pipe(in_fds) != 0)
        throw std::runtime_error("pipe failed");
    int terminal = -1;
    std::string terminal_name;
    if (setup.stdout_to == StdoutTo::Terminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)
            throw std::runtime_error("no pseudo-terminal");
        terminal_name = ptsname(terminal);
    }

    const pid_t pid = fork();
    if (pid == 0) {
        if (setup.time_limit != 0)
            alarm(setup.time_limit); // stays set across execve
        for (const int sig : setup.ignored)
            std::signal(sig, SIG_IGN); // stays ignored across execve
        if (setup.signal_mid_run != 0) {
            // A signal that dumps core must leave no core file in the working directory.
            const struct rlimit no_core = {0, 0};
            if (setrlimit(RLIMIT_CORE, &no_core) != 0)
                _exit(125);
        }
        if (setup.file_size_limit) {
            if (!setup.sigxfsz_kills)
                std::signal(SIGXFSZ, SIG_IGN); // stays ignored across execve
            const struct rlimit limit = {static_cast<rlim_t>(*setup.file_size_limit),
                                         static_cast<rlim_t>(*setup.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(125);
        }
        if (setup.uid) {
            // Groups first: once the user id is dropped, nothing else may be changed.
            if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(*setup.uid)) != 0 ||
                setuid(static_cast<uid_t>(*setup.uid)) != 0)
                _exit(125);
        }
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        if (setup.stdin_pipe)
            dup2(in_fds[0], 0);
        else
            dup2(open(setup.stdin_file ? setup.stdin_file->c_str() : "/dev/null", O_RDONLY), 0);
        if (setup.stdout_to == StdoutTo::Full)
            dup2(open("/dev/full", O_WRONLY), 1);
        else if (setup.stdout_to == StdoutTo::Terminal)
            dup2(open(terminal_name.c_str(), O_WRONLY | O_NOCTTY), 1);
        else
            dup2(pipe_fds[1] >= 0 ? pipe_fds[1] : out_fd, 1);
        for (const int fd : {in_fds[0], in_fds[1], terminal}) {
            if (fd >= 0)
                close(fd);
        }
        dup2(err_fd, 2);
        for (const int fd : {pipe_fds[0], pipe_fds[1]}) {
            if (fd >= 0)
                close(fd);
        }
        for (const int fd : setup.closed)
            close(fd);
        execve(exe.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    if (pipe_fds[1] >= 0)
        close(pipe_fds[1]);
    std::string piped; // what a pipe as standard output held
    if (setup.stdin_pipe) {
        // The child reads while this writes; a reader that stops early ends the writing.
        close(in_fds[0]);
        const std::string& bytes = *setup.stdin_pipe;
        const auto old = std::signal(SIGPIPE, SIG_IGN);
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(in_fds[1], bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                break;
            at += static_cast<std::size_t>(n);
        }
        std::signal(SIGPIPE, old);
        close(in_fds[1]);
    }
    int wstatus = 0;
    bool ended = false;
    if (mid_run) {
        const int capacity = fcntl(pipe_fds[0], F_GETPIPE_SZ);
        int queued = 0;
        while (!ended && queued < capacity / 2) {
            usleep(10000);
            ended = waitpid(pid, &wstatus, WNOHANG) == pid;
            ioctl(pipe_fds[0], FIONREAD, &queued);
        }
        if (!ended && setup.shrink_mid_run &&
            truncate(setup.shrink_path.c_str(), static_cast<off_t>(*setup.shrink_mid_run)) != 0)
            throw std::runtime_error("truncate failed");
        if (!ended && setup.signal_mid_run != 0)
            kill(pid, setup.signal_mid_run);
        // A program that takes the signal and goes on needs the rest read; one it ended
        // leaves an end of file at once.
        char chunk[4096];
        ssize_t n;
        while ((n = read(pipe_fds[0], chunk, sizeof chunk)) > 0)
            piped.append(chunk, static_cast<std::size_t>(n));
    }
    if (!ended)
        waitpid(pid, &wstatus, 0);
    const bool piped_out = pipe_fds[0] >= 0;
    if (piped_out)
        close(pipe_fds[0]);
    if (terminal >= 0)
        close(terminal);

    ProcessResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
    close(out_fd);
    close(err_fd);
    result.out = piped_out ? piped : read_text(out_name);
    result.err = read_text(err_name);
    unlink(out_name);
    unlink(err_name);
    return result;
}

std::string converter_path() {
    return COFF2EFW_EXE;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string read_text(const std::string& path) {
    const coffgen::Bytes bytes = coffgen::read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

void write_text(const std::string& path, const std::string& text) {
    coffgen::write_file(path, coffgen::Bytes(text.begin(), text.end()));
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace harness
