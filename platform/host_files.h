// Pieces of the host file layer that more than one file of platform/ needs; nothing
// outside platform/ includes this.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

struct OutputTarget;

// Fills in what a new file at `path` will be: its directory's status and its name.
void describe_new_file(const std::string& path, OutputTarget& target);

// Whether two names of one directory name the same file, as the host compares names:
// byte for byte on POSIX hosts, regardless of case on Windows.
bool same_name(const std::string& a, const std::string& b);

#ifdef _WIN32
// The longest path the wide functions take behind the \\?\ prefix, in UTF-16 units.
inline constexpr std::size_t kLongestPath = 32767;

// The errno value that says what a Windows error code says, for the one error text.
int errno_from_windows(DWORD error);

// `path` in UTF-16 as the ANSI code page reads it, long paths with the \\?\ prefix.
// False with errno set.
bool wide_path(const std::string& path, std::wstring& out);

// A C stream on a handle the caller opened; the handle is closed when there is none.
std::FILE* stream_on_handle(HANDLE h, int flags, const char* mode);
#else
// A stream on `fd`, used without locking; when there is none, the descriptor is closed
// and errno kept.
std::FILE* stream_on(int fd, const char* mode);
#endif

} // namespace platform
