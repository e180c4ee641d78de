// The one bounded reader every input goes through: the object the converter reads and
// the image efwdump reads back. Every read is checked against the file's size first
// (`off <= size && len <= size - off`, in 64 bits), so no offset or count a file declares
// can make it read outside the file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// An input stream with the facts every bounds check needs. It owns the stream: the
// stream is closed when the object goes.
struct InputFile {
    std::FILE* fp = nullptr;
    std::uint64_t size = 0; // bytes in the file
    std::uint64_t pos = 0;  // the stream's position; kUnknownPosition after a failed read
    std::string path;       // the name the user knows; a failure names it

    InputFile() = default;
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&&) = delete;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();
};

inline constexpr std::uint64_t kUnknownPosition = ~std::uint64_t{0};

// Opens a regular file for binary reading and takes its size. Anything else (a directory,
// a FIFO, a device) is refused without being read or waited for. Throws Failure, with
// FailureKind::Trouble where the file cannot be opened or read, as for every read below that
// fails on the host rather than on the file's content.
InputFile open_input(const std::string& path);

// True when `len` bytes at `off` lie inside the file.
inline bool in_file(const InputFile& in, std::uint64_t off, std::uint64_t len) {
    return off <= in.size && len <= in.size - off;
}

// Reads `len` bytes at the current position, or fails naming `what` and the offset when
// the file does not hold them all or the read fails. `what` is plain text ("section
// header 3", "section 7 (.text) data"), so a read costs no allocation: the message is
// put together only on failure.
void read_input(InputFile& in, void* dest, std::size_t len, const char* what);

// Moves the input to an absolute offset. Short gaps ahead are read through, since a seek
// throws the stream's buffer away and a walk over many small pieces would slow down.
void seek_input(InputFile& in, std::uint64_t offset);

// seek_input, then read_input.
void read_input_at(InputFile& in, std::uint64_t offset, void* dest, std::size_t len,
                   const char* what);
