// The host calls behind file handling, one per operation, so that everything above them
// is written once for Windows and POSIX hosts alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The separator that ends the directory part of the path the program was started by:
// the last backslash on Windows; on POSIX hosts the last backslash or slash, whichever
// comes later, since "/" is how such a host writes a directory. Null when there is none.
const char* last_directory_separator(const char* path, int code_page);

// Where the file name begins in a path typed on the command line (an input, a profile
// file): behind its last slash, on Windows also behind its last backslash or the colon of
// a drive ("C:app.out"), since that is how the host's own programs read such a path. The
// path itself when it has no directory part.
const char* file_name_start(const char* path, int code_page);

// What the host knows of an open file.
struct FileStatus {
    std::uint64_t size = 0;
    bool regular = false;
    bool directory = false;
};

// Status of an open stream; false with errno set when the host cannot tell.
bool file_status(std::FILE* fp, FileStatus& status);

// Moves the stream to an absolute offset.
bool seek_absolute(std::FILE* fp, std::uint64_t offset);

// Creates `path`, which must not exist yet, and opens it for binary writing; the stream
// is not inherited by child processes. Null with errno set (EEXIST when the name is
// taken) otherwise.
std::FILE* create_new_file(const std::string& path);

// A stream open for binary reading and writing on a new file in the system's temporary
// directory that nobody else can name and that goes when the stream is closed, however
// the process ends. Null with errno set otherwise.
std::FILE* open_scratch_file();

// The process's id, for names that must not collide with another run's.
unsigned long process_id();

// Renames `from` over `to`, replacing an existing file in one step.
bool replace_file(const std::string& from, const std::string& to);

// Lets a write to a closed pipe fail with EPIPE instead of ending the process, so that a
// listing piped into a reader that stops early does not cost the image. Windows has no
// such signal.
void ignore_broken_pipe();

// The system's text for an errno value.
std::string error_text(int error);

} // namespace platform
