# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(COFF2EFW_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${COFF2EFW_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${COFF2EFW_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${COFF2EFW_MINGW_PREFIX}-windres)

# Look for libraries and headers only in the cross environment, programs only on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${COFF2EFW_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A standalone executable: the C++ runtime, libgcc and winpthread linked in, so that the
# program runs on a machine without any MinGW DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib too (Debian: libz-mingw-w64-dev): its libz.a rather than the import library of a
# zlib1.dll that the target machine would not have.
set(ZLIB_USE_STATIC_LIBS ON)
