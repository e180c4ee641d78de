// How each program tells its user what went wrong: one line on standard error for each
// error or warning, behind the program's name, which main() sets once. The library
// below throws its errors and never names a program.
#pragma once

#include <string>

struct Failure;

struct Reporter {
    const char* program; // "coff2efw", "efwdump"
    // The exit statuses of the two kinds of failure. coff2efw's status says only whether
    // an image was written: 1 for both. efwdump follows cmp: 2 for trouble (a file that
    // cannot be read, memory), 1 for a malformed image, or 2 for it too when the run
    // compares, since then nothing could be compared.
    int trouble_status;
    int content_status = 1;
    // The argument the user gave as the file to work on, or null: a failed open of it may
    // earn a hint.
    const char* operand = nullptr;
    // The file the run is at, once known: an error that names no file of its own (out of
    // memory) names this one.
    std::string subject{};
};

// "<program>: error: <what>".
void report_error(const Reporter& reporter, const std::string& what);

// "<program>: note: <what>": something the user did not ask to see but should know.
void report_note(const Reporter& reporter, const std::string& what);

// "<program>: warning: <path>: <what> [-W<name>]", or "error" and "[-Werror=<name>]"
// when the warning counts as one, as the compilers end a warning with the option that
// controls it.
void report_warning(const Reporter& reporter, const char* path, const char* what, const char* name,
                    bool as_error);

// A command line that cannot be read: the error, then "Try '<program> --help'.".
// Returns the status of a usage error, 2.
int report_usage_error(const Reporter& reporter, const std::string& what);

// "<program>: error: <file>: <cause>", with a hint when the file looks like an option
// written the Windows way (/q) and does not exist. Returns the run's exit status.
int report_failure(const Reporter& reporter, const Failure& failure);

// Reports the exception being handled, whatever it is, as one error line; called only
// inside a catch block. Returns the run's exit status.
int report_escaped(const Reporter& reporter);

// Runs `body`, which returns the exit status; whatever it throws becomes one error line
// and the status that goes with it.
template <typename Body> int run_reported(const Reporter& reporter, Body&& body) {
    try {
        return body();
    } catch (...) {
        return report_escaped(reporter);
    }
}

// Flushes and closes standard output, as the last thing a run writes there, and reports
// "<program>: error: standard output: <reason>" when anything written to it was lost.
// Returns `status`, or 1 in place of a 0 when the output was lost.
int close_standard_output(const Reporter& reporter, int status);

// True for an argument such as "/q" or "/xy": a slash and one or two letters, the way
// options are written on Windows.
bool looks_like_windows_option(const char* arg);
