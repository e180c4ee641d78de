// The options every program of the tool answers the same way.
#pragma once

#include <cstring>

inline bool is_help_argument(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
           std::strcmp(arg, "/?") == 0;
}

inline bool is_version_argument(const char* arg) {
    return std::strcmp(arg, "--version") == 0;
}
