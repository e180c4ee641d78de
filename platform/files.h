// File operations whose form differs between Windows and POSIX hosts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The separator that ends the directory part of the path the program was started by:
// the last backslash on Windows; on POSIX hosts the last backslash or slash, whichever
// comes later, since "/" is how such a host writes a directory. Null when there is none.
const char* last_directory_separator(const char* path, int code_page);

// Size of an open regular file. Fails (returns false with `error` set to an errno value)
// for anything that is not a regular file, such as a directory.
bool regular_file_size(std::FILE* fp, std::uint64_t& size, int& error);

// Moves the stream to an absolute offset.
bool seek_absolute(std::FILE* fp, std::uint64_t offset);

// Creates a new, empty file beside `target` (same directory, name derived from it) and
// opens it for binary writing. Returns null with errno set when that is impossible.
std::FILE* create_temporary_beside(const std::string& target, std::string& temp_path);

// Renames `from` over `to`, replacing an existing file in one step.
bool replace_file(const std::string& from, const std::string& to);

// The system's text for an errno value.
std::string error_text(int error);

} // namespace platform
