// The host calls behind file handling, one per operation, so that everything above them
// is written once for Windows and POSIX hosts alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The two rules for where a path's directory part ends, one per kind of path.
//
// The program's own path (argument zero; used by program_directory): the separator that
// ends its directory is the later of the last backslash, found character by character in
// `code_page`, and the last slash, on every host. Null when there is none.
const char* last_directory_separator(const char* path, int code_page);

// A path typed on the command line or put together from one (an input, a profile file, an
// output; used by input_file_names, profile_file_names and create_temporary): where its
// file name begins. On POSIX hosts that is behind its last slash in every locale, as the
// system reads it; on Windows also behind its last backslash (found character by
// character in `code_page`) or the colon of a drive ("C:app.out"). The path itself when it
// has no directory part.
const char* file_name_start(const char* path, int code_page);

// Whether the host matches file names regardless of case, as Windows does; a POSIX
// host's names are bytes.
#ifdef _WIN32
inline constexpr bool kNamesIgnoreCase = true;
#else
inline constexpr bool kNamesIgnoreCase = false;
#endif

// Opens the null device onto each of descriptors 0, 1 and 2 that is closed. Called first
// thing, before any file is opened: a program started with standard output closed would
// otherwise be handed descriptor 1 for the next file it opens, and the listing would be
// written into that file. False with errno set when the null device cannot be opened.
bool fill_closed_standard_descriptors();

// Whether standard output was closed when the program started, before
// fill_closed_standard_descriptors gave it the null device: what the run must write
// there has nowhere to go.
bool standard_output_was_closed();

// What the host knows of a file. Two statuses with the same device and index are the
// same file, whatever the paths by which they were reached.
struct FileStatus {
    std::uint64_t size = 0;
    bool regular = false;
    bool directory = false;
    std::uint64_t device = 0; // device, or the volume's serial number on Windows
    std::uint64_t index = 0;  // inode, or the file index on Windows
    std::uint32_t mode = 0;   // permission bits (POSIX; 0 on Windows)
    std::uint32_t owner = 0;  // user and group ids (POSIX)
    std::uint32_t group = 0;
};

inline bool same_file(const FileStatus& a, const FileStatus& b) {
    return a.device == b.device && a.index == b.index;
}

// Whether `status` is the null device, which any number of outputs may share.
bool is_null_device(const FileStatus& status);

// Status of an open stream; false with errno set when the host cannot tell.
bool file_status(std::FILE* fp, FileStatus& status);

// Status of the file at `path`, or with `follow_links` false of a link there itself (which
// is what a rename onto `path` replaces). False with errno set (ENOENT when there is none).
bool path_status(const std::string& path, FileStatus& status, bool follow_links);

// Stops the C library from locking `fp` around every read and write. The programs run in
// one thread and make thousands of small reads and writes on short runs, where each
// lock and unlock is an atomic operation that costs as much as the write itself. The
// streams the functions below open are set so already; main() sets the standard ones.
// Nothing where the C library offers no such switch.
void use_without_locking(std::FILE* fp);

// Opens `path` for binary reading without waiting for a writer when it is a FIFO or for a
// device to become ready, so that the caller can look at what it opened before reading.
// Null with errno set.
std::FILE* open_for_reading(const std::string& path);

// Opens the regular file at `path` for binary reading, as open_for_reading does, and fills
// `status` with what it is once open. Anything else is refused before a byte is read: null
// with errno EISDIR for a directory, with errno 0 for a FIFO, a device or a socket, and
// with errno set when there is nothing to open or the host cannot tell.
std::FILE* open_regular_input(const std::string& path, FileStatus& status);

// Moves the stream to an absolute offset.
bool seek_absolute(std::FILE* fp, std::uint64_t offset);

// Renames `from` over `to`, replacing an existing file in one step.
bool replace_file(const std::string& from, const std::string& to);

// Removes the file at `path`; false with errno set.
bool remove_file(const std::string& path);

// Gives the file at `existing` the second name `new_name`, which must not exist yet.
// False with errno set, where the file system has no such links among others.
bool link_file(const std::string& existing, const std::string& new_name);

// What stands where an image is to go, as far as writing it is concerned.
enum class OutputKind : unsigned char {
    kNew,          // nothing: the image becomes a new file
    kRegular,      // a file, replaced by a temporary renamed over it
    kStream,       // a device, a FIFO or a socket: opened and written straight through
    kDirectory,    // no place for an image
    kDanglingLink, // a link whose target does not exist
};

struct OutputTarget {
    OutputKind kind = OutputKind::kNew;
    // The name a replacement renames onto: the path itself or, when the path is a link,
    // the file the link finally names, so that the link stays a link. For a dangling
    // link, what the last link of its chain names.
    std::string file;
    FileStatus status;            // of the existing file, links followed
    bool write_protected = false; // an existing file this user may not write to
    // For a new file, what it will be: its directory's status and its name. `directory`
    // stays zero where the directory cannot be looked at.
    FileStatus directory;
    std::string name;
};

// Whether two outputs lead to one file: an existing file reached by two paths, or a new
// name in one directory, compared as the file system compares names (regardless of case
// on Windows). The null device and what the host cannot identify lead nowhere in common.
bool same_destination(const OutputTarget& a, const OutputTarget& b);

// Looks at `path` without opening anything that could notice being opened. False with
// errno set when the host cannot tell (a loop of links, a directory that cannot be
// searched, a path longer than the host takes).
bool examine_output(const std::string& path, OutputTarget& target);

// Opens an existing device, FIFO or socket for binary writing as a shell's redirection
// would: a FIFO waits for its reader. Nothing is created or truncated. Null with errno
// set; with errno 0 when the name turned out to be a file of the disk after all.
std::FILE* open_stream_output(const std::string& path);

// How a copy inside the kernel ended.
enum class KernelCopy : unsigned char {
    kDone,
    kUnavailable, // nothing was copied: the host or the output cannot take it this way
    kInputEnded,  // the input holds fewer bytes than asked for now
    kReadFailed,  // errno says why
    kWriteFailed, // errno says why
};

// Copies `len` bytes from offset `from` of the regular file that `in` reads to `out` at
// its position, through a pipe inside the kernel: one copy of the bytes at any alignment,
// where a read and a write make two. `out` is flushed first; `in`'s stream and position
// are left as they were. `copied` receives the bytes that reached `out`. After
// kUnavailable the caller copies the bytes itself.
KernelCopy copy_in_kernel(std::FILE* in, std::uint64_t from, std::FILE* out, std::uint64_t len,
                          std::uint64_t& copied);

// Whether `fp` is an interactive terminal (a console on Windows).
bool is_terminal(std::FILE* fp);

// The null device, opened for writing: what a dry run writes its image to, so that every
// check of the writing runs and nothing lands anywhere. Null with errno set.
std::FILE* open_null_output();

// Makes a standard stream carry bytes unchanged: on Windows it is in text mode, which
// would turn every 0x0A of an image into 0x0D 0x0A. Nothing on POSIX hosts.
void use_binary_mode(std::FILE* fp);

// A new stream reading from the start of the file that standard input is, which the
// caller owns and may close without closing standard input. Null with errno set.
std::FILE* reopen_standard_input();

// A file for reading and writing that the host removes once it is closed, in the
// system's directory for temporary files (TMPDIR, else /tmp, on POSIX hosts). Null with
// errno set.
std::FILE* create_scratch_file();

// The system's text for an errno value.
std::string error_text(int error);

// The text for the failure of the call just made (a write, a flush, an open), which on
// Windows the C runtime does not always leave in errno (a full disk could leave an
// earlier call's ENOENT there): the system's own error code is asked first.
std::string last_error_text();

} // namespace platform
