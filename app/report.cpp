#include "app/report.h"

#include "base/failure.h"
#include "platform/files.h"
#include "text/hex_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

namespace {

// Prints `text` made printable, then `tail` as it is, as one line on standard error in one
// write, so that a line never mixes with another program's.
void print_line(std::string_view text, std::string_view tail = {}) {
    std::string line = printable_line(text);
    line += tail;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

} // namespace

void report_error(const Reporter& reporter, const std::string& what) {
    // Whatever the run listed comes first, where both streams go to one terminal.
    std::fflush(stdout);
    print_line(std::string(reporter.program) + ": error: " + what);
}

void report_note(const Reporter& reporter, const std::string& what) {
    std::fflush(stdout);
    print_line(std::string(reporter.program) + ": note: " + what);
}

void report_warning(const Reporter& reporter, const char* path, const char* what, const char* name,
                    bool as_error) {
    print_line(std::string(reporter.program) + (as_error ? ": error: " : ": warning: ") + path +
                   ": " + what,
               std::string(as_error ? " [-Werror=" : " [-W") + name + "]");
}

int report_usage_error(const Reporter& reporter, const std::string& what) {
    print_line(std::string(reporter.program) + ": error: " + what);
    std::fprintf(stderr, "Try '%s --help'.\n", reporter.program);
    return 2;
}

bool looks_like_windows_option(const char* arg) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (arg == nullptr || arg[0] != '/' || !letter(arg[1]))
        return false;
    return arg[2] == '\0' || (letter(arg[2]) && arg[3] == '\0');
}

namespace {

// The hint goes only where the open failed for want of the file: a file named /q that
// exists is converted or refused like any other, and POSIX paths keep their meaning.
bool wants_option_hint(const Reporter& reporter, const Failure& failure) {
    if (reporter.operand == nullptr || failure.path != reporter.operand ||
        !looks_like_windows_option(reporter.operand) || failure.cause.rfind("cannot open:", 0) != 0)
        return false;
    platform::FileStatus status;
    return !platform::path_status(failure.path, status, false) && errno == ENOENT;
}

int failure_status(const Reporter& reporter, FailureKind kind) {
    return kind == FailureKind::Trouble ? reporter.trouble_status : reporter.content_status;
}

} // namespace

int report_failure(const Reporter& reporter, const Failure& failure) {
    std::string line = failure.path.empty() ? failure.cause : failure.path + ": " + failure.cause;
    if (wants_option_hint(reporter, failure))
        line += std::string(" (options start with '-'; try '") + reporter.program + " --help')";
    report_error(reporter, line);
    return failure_status(reporter, failure.kind);
}

int report_escaped(const Reporter& reporter) {
    const std::string subject = reporter.subject.empty() ? "" : reporter.subject + ": ";
    try {
        throw;
    } catch (const Failure& failure) {
        return report_failure(reporter, failure);
    } catch (const std::bad_alloc&) {
        report_error(reporter, subject + "out of memory");
    } catch (const std::exception& e) {
        report_error(reporter, subject + e.what());
    } catch (...) {
        report_error(reporter, subject + "unexpected failure");
    }
    return reporter.trouble_status;
}

int close_standard_output(const Reporter& reporter, int status) {
    // A write may have failed anywhere in the run. The final flush then either fails again
    // with the reason or, when the failed write took the buffer with it, leaves its errno.
    bool lost = std::fflush(stdout) != 0;
    int err = errno;
    lost = lost || std::ferror(stdout) != 0;
    if (std::fclose(stdout) != 0 && !lost) {
        lost = true;
        err = errno;
    }
    if (!lost)
        return status;
    std::fprintf(stderr, "%s: error: standard output: %s\n", reporter.program,
                 err != 0 ? platform::error_text(err).c_str() : "a write failed");
    return status != 0 ? status : 1;
}
