// Where the configuration, the input and the output of a run are: by default all beside
// the executable, as the directory part of argument zero names it; otherwise where the
// command line says.
#pragma once

#include "platform/files.h"

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
    // The input is the default name, as no profile named one; a run that cannot find it
    // says so.
    bool default_input = false;
    // Replacing ".out" in the whole path changed the output's directory: a run that cannot
    // find that directory says where it came from.
    bool output_directory_renamed = false;
};

// What the command line names for a run; null where it names nothing.
struct NameChoice {
    const char* input = nullptr;  // the object to convert, instead of a configured one
    const char* config = nullptr; // the profile file, instead of config.ini beside the executable
    const char* output = nullptr; // the image's path, taken as given
    // What a derived output name ends in instead of ".efw" (".hex" for Intel HEX); null
    // for ".efw" itself.
    const char* extension = nullptr;
    // What a run without a profile, which finds no default input, suggests instead: the
    // program's own usage ("try 'PROGRAM app.out'"). Null for none.
    const char* no_profile_hint = nullptr;
    // Told the names of a run whose input comes from config.ini beside the program (or
    // the default name), before anything is read: a run started with options but without
    // an input names what it converts. Null for none.
    void (*profile_input)(void* context, const FileNames& names) = nullptr;
    void* context = nullptr;
};

// Argument zero up to and including its last directory separator; empty when it has none
// or is absent (null).
std::string program_directory(const char* argv0, int code_page);

// Replaces every ".out" by ".efw", scanning from the start and on past each replacement,
// matching only on character boundaries of the code page; with `any_case` ".OUT" and
// ".Out" match too.
void replace_out_with_efw(std::string& path, int code_page, bool any_case = false);

// The three paths for a program directory and a configured input name.
FileNames form_file_names(std::string_view program_dir, std::string_view configured_name,
                          int code_page);

// The three paths of this run: the program directory from argument zero, the input name
// from the configuration file beside the executable. Only a configuration that does not
// exist gives the default name; one that exists but cannot be read fails the run.
// Throws Failure.
FileNames resolve_file_names(const char* argv0);

// The paths for an input named on the command line: the image goes beside it as
// "VELTARA-" and its file name, with every ".out" of the file name (not of the
// directory, which stays as given) replaced by ".efw", in any case where the host's file
// names have none (`any_case`, Windows). No configuration is read.
FileNames input_file_names(const std::string& input, int code_page,
                           bool any_case = platform::kNamesIgnoreCase);

// The paths for a profile file named on the command line: its directory takes the place
// of the program directory, under every rule of form_file_names.
FileNames profile_file_names(const std::string& config, std::string_view configured_name,
                             int code_page);

// Ends a derived output name in `extension`: in place of a final ".efw", or after the
// name when it has none ("VELTARA-app.obj" gives "VELTARA-app.obj.hex").
void use_extension(std::string& output, std::string_view extension);

// The three paths of this run as the command line chooses them; `choice.output` replaces
// whichever output the other names lead to, which otherwise ends in `choice.extension`.
// A profile file named on the command line must exist: falling back to the default name
// would convert a file nobody named. A default input that does not exist fails with
// `choice.no_profile_hint`, saying where config.ini was looked for. A path the host's
// code page cannot hold fails before anything is opened. Throws Failure.
FileNames resolve_file_names(const char* argv0, const NameChoice& choice);

// Throws Failure when `path`, typed on the command line, did not arrive as typed: on
// Windows a character the ANSI code page lacks arrives as '?' or as a look-alike
// ("ｍａｐ.json" as "map.json"), and the path would name another file. Nothing for null.
void check_typed_path(const char* path);

// Throws Failure naming the output when its directory is missing and replacing ".out"
// made it: the user typed no such name. Called once the input has opened.
void check_output_directory(const FileNames& names);
