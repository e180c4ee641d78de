// Where the configuration, the input and the output of a run are: all beside the
// executable, as the directory part of argument zero names it.
#pragma once

#include <string>
#include <string_view>

inline constexpr const char* kConfigFileName = "config.ini";
inline constexpr const char* kConfigSection = "CONFIG";
inline constexpr const char* kConfigKey = "COFF_FILE";
inline constexpr const char* kDefaultInputName = "ZOV-KARN.efw";
inline constexpr const char* kOutputPrefix = "VELTARA-";
inline constexpr std::size_t kMaxConfiguredName = 255;

struct FileNames {
    std::string config;
    std::string input;
    std::string output;
};

// Argument zero up to and including its last directory separator; empty when it has none
// or is absent (null).
std::string program_directory(const char* argv0, int code_page);

// Replaces every ".out" by ".efw", scanning from the start and on past each replacement,
// matching only on character boundaries of the code page.
void replace_out_with_efw(std::string& path, int code_page);

// The three paths for a program directory and a configured input name.
FileNames form_file_names(std::string_view program_dir, std::string_view configured_name,
                          int code_page);

// The three paths of this run: the program directory from argument zero, the input name
// from the configuration file beside the executable. Only a configuration that does not
// exist gives the default name; one that exists but cannot be read fails the run.
FileNames resolve_file_names(const char* argv0);
