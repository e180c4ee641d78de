// Running conversions from tests: in-process on byte buffers, or as the built program in
// a scratch directory with a chosen argument zero.
#pragma once

#include "tools/coff_builder.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace harness {

struct Conversion {
    coffgen::Bytes image;             // what the output stream received
    std::string console;              // what the listing and progress lines printed
    std::optional<std::string> error; // the failure's message, when the run failed
};

// The configuration most runs start with.
inline const std::string kAppConfig = "[CONFIG]\nCOFF_FILE=app.out\n";

// An object with the five leading sections that never become records, then `rest`;
// with an optional header unless `opt_head` is false.
coffgen::Object with_sections(std::vector<coffgen::Section> rest, bool opt_head = true);

// Everything in a stream, from its start.
std::string slurp(std::FILE* fp);

// Runs the conversion on `object` through the converter's own stream-level procedure.
Conversion convert_bytes(const coffgen::Bytes& object);

// The same for an object description, with a test failure when the conversion fails.
Conversion convert_ok(const coffgen::Object& object);

// A fresh directory, removed with everything in it at the end of the scope.
struct ScratchDir {
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path; // no trailing slash
    std::string file(const std::string& name) const { return path + "/" + name; }
};

struct ProcessResult {
    int status = -1; // exit status, or -1 when the process did not exit normally
    int signal = 0;  // the signal that ended it, when one did
    std::string out;
    std::string err;
};

// The started process's standard output: read back into ProcessResult::out, the full
// device (writes fail with ENOSPC), a pipe nobody reads (EPIPE, or SIGPIPE) or a
// terminal (a pseudo-terminal whose output is thrown away).
enum class StdoutTo { Captured, Full, ClosedPipe, Terminal };

// Conditions the started process runs under that a test cannot arrange from outside.
struct ChildSetup {
    StdoutTo stdout_to = StdoutTo::Captured;
    // Run as this user and group id (with no supplementary groups); needs root.
    std::optional<unsigned> uid;
    // The most bytes any file may grow to (RLIMIT_FSIZE), with SIGXFSZ ignored so that an
    // oversized write fails with EFBIG instead of killing the process.
    std::optional<std::uint64_t> file_size_limit;
    bool sigxfsz_kills = false; // SIGXFSZ at its default instead: the write ends the process
    // Of descriptors 0, 1 and 2, those the program starts without.
    std::vector<int> closed;
    // Standard output a pipe instead of a file: one whose reader is gone before the program
    // starts, so that every write fails with EPIPE, or with `signal_mid_run` one that
    // nobody reads. Once that holds half of what it can, the program is mid-run and about
    // to block, and it is sent the signal.
    bool stdout_reader_gone = false;
    int signal_mid_run = 0;
    // Or, at that moment, the file at `shrink_path` is cut to `shrink_mid_run` bytes.
    std::optional<std::uint64_t> shrink_mid_run;
    std::string shrink_path;
    // Signals the program starts with ignored, as nohup leaves SIGHUP.
    std::vector<int> ignored;
    unsigned time_limit = 0; // seconds, after which SIGALRM ends a program that hangs
    // Standard input: the file at this path, or these bytes through a pipe; without
    // either the null device.
    std::optional<std::string> stdin_file;
    std::optional<std::string> stdin_pipe;
};

// The user id that owns nothing, for runs that must lack root's rights.
inline constexpr unsigned kNobody = 65534;

// Starts `exe` with the given argument zero and further arguments in `cwd`, with the
// environment of the test plus `env` ("NAME=value" entries), and waits for it. A setup
// the child cannot apply ends it with status 125. With `setup.uid`, what runs is a copy
// of `exe` in a fresh directory that user can reach, as the build tree may lie in one
// only its owner can enter. A program ended by `setup.signal_mid_run` dumps no core, and
// the rest of its output is still read.
ProcessResult run_program(const std::string& exe, const std::string& argv0,
                          const std::vector<std::string>& args, const std::string& cwd,
                          const std::vector<std::string>& env = {}, const ChildSetup& setup = {});

// The converter built with this test suite.
std::string converter_path();

bool file_exists(const std::string& path);
std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& text);

// Names of the entries in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

} // namespace harness
