// Where the configuration, the input and the output of a run are: by default all beside
// the executable, as the directory part of argument zero names it; otherwise where the
// command line says.
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
    std::string config; // empty when no configuration file is read
    std::string input;
    std::string output;
};

// What the command line names for a run; null where it names nothing.
struct NameChoice {
    const char* input = nullptr;  // the object to convert, instead of a configured one
    const char* config = nullptr; // the profile file, instead of config.ini beside the executable
    const char* output = nullptr; // the image's path, taken as given
    // What a derived output name ends in instead of ".efw" (".hex" for Intel HEX); null
    // for ".efw" itself.
    const char* extension = nullptr;
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

// The paths for an input named on the command line: the image goes beside it as
// "VELTARA-" and its file name, with every ".out" of the file name (not of the
// directory, which stays as given) replaced by ".efw". No configuration is read.
FileNames input_file_names(const std::string& input, int code_page);

// The paths for a profile file named on the command line: its directory takes the place
// of the program directory, under every rule of form_file_names.
FileNames profile_file_names(const std::string& config, std::string_view configured_name,
                             int code_page);

// Ends a derived output name in `extension`: in place of a final ".efw", or after the
// name when it has none ("VELTARA-app.obj" gives "VELTARA-app.obj.hex").
void use_extension(std::string& output, std::string_view extension);

// The three paths of this run as the command line chooses them; `choice.output` replaces
// whichever output the other names lead to, which otherwise ends in `choice.extension`. A profile
// file named on the command line must exist: falling back to the default name would convert a file
// nobody named. Throws Failure.
FileNames resolve_file_names(const char* argv0, const NameChoice& choice);
