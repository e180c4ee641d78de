// Pieces of the host file layer that more than one file of platform/ needs; nothing
// outside platform/ includes this.
#pragma once

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

#ifdef _WIN32
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
