#include "run/file_names.h"

#include "base/failure.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "platform/profile.h"

#include <cerrno>
#include <cstring>

std::string program_directory(const char* argv0, int code_page) {
    if (argv0 == nullptr)
        return {};
    const char* sep = platform::last_directory_separator(argv0, code_page);
    if (sep == nullptr)
        return {};
    return std::string(argv0, static_cast<std::size_t>(sep - argv0) + 1);
}

void replace_out_with_efw(std::string& path, int code_page, bool any_case) {
    std::size_t from = 0;
    for (;;) {
        const char* rest = path.c_str() + from;
        const char* hit = any_case ? mb_strcasestr(rest, ".out", code_page)
                                   : platform::path_strstr(rest, ".out", code_page);
        if (hit == nullptr)
            return;
        const auto at = static_cast<std::size_t>(hit - path.c_str());
        path.replace(at, 4, ".efw");
        from = at + 4;
    }
}

namespace {

// Where the file name of a typed or formed path begins, as an index.
std::size_t name_start(const std::string& path, int code_page) {
    return static_cast<std::size_t>(platform::file_name_start(path.c_str(), code_page) -
                                    path.c_str());
}

} // namespace

FileNames form_file_names(std::string_view program_dir, std::string_view configured_name,
                          int code_page) {
    const std::string dir(program_dir);
    const std::string name(configured_name.substr(0, kMaxConfiguredName));
    FileNames names{dir + kConfigFileName, dir + name, dir + kOutputPrefix + name};
    const std::string formed = names.output;
    replace_out_with_efw(names.output, code_page);
    // The replacement keeps the length: the directories differ where their bytes do.
    names.output_directory_renamed =
        names.output.compare(0, name_start(names.output, code_page), formed, 0,
                             name_start(names.output, code_page)) != 0;
    return names;
}

namespace {

// No value of a profile can hold a line end, so this fallback tells an absent file,
// section or key from any configured name.
constexpr const char* kNoValue = "\n";

struct Configured {
    std::string name;
    bool absent = false; // no file, section or key: the default name
};

Configured configured_name(const std::string& config, bool must_exist) {
    char value[kMaxConfiguredName + 1];
    const platform::ProfileResult read = platform::parse_profile_file(
        config.c_str(), kConfigSection, kConfigKey, kNoValue, value, sizeof value);
    switch (read.status) {
    case platform::ProfileStatus::kNoFile:
        if (must_exist)
            fail(config, "cannot open: " + platform::error_text(read.error));
        break;
    case platform::ProfileStatus::kNotRegular:
        fail(config, "not a regular file");
    case platform::ProfileStatus::kError:
        fail(config, "cannot read: " + platform::error_text(read.error));
    case platform::ProfileStatus::kRead:
        break;
    }
    const std::string got(value, read.length);
    if (got == kNoValue)
        return {kDefaultInputName, true};
    // A profile saved as UTF-8 without a byte-order mark is read in the ANSI code page,
    // where its name is garbage that names no file, or fails as an invalid name.
    if (!platform::text_in_ansi_code_page(got) && utf8_beyond_ascii(got)) {
        fail(config, "the value of " + std::string(kConfigKey) +
                         " is UTF-8, not text in the ANSI code page; save the file as ANSI, or "
                         "as UTF-8 with a byte-order mark");
    }
    return {got, false};
}

// The code page for names put together from text searched in `known` and from `text`:
// the host's as soon as either needs it.
int code_page_with(int known, std::string_view text) {
    return known != kSingleByte ? known : platform::code_page_for_text(text);
}

} // namespace

void check_typed_path(const char* path) {
    if (path != nullptr && !platform::argument_held_by_code_page(path))
        fail(path, "the path holds characters that the ANSI code page cannot represent");
}

FileNames resolve_file_names(const char* argv0) {
    // The host's code page is looked up only for names that need it.
    const int dir_code_page = platform::code_page_for_text(argv0 == nullptr ? "" : argv0);
    const std::string dir = program_directory(argv0, dir_code_page);
    const Configured configured = configured_name(dir + kConfigFileName, false);
    FileNames names =
        form_file_names(dir, configured.name, code_page_with(dir_code_page, configured.name));
    names.default_input = configured.absent;
    return names;
}

FileNames input_file_names(const std::string& input, int code_page, bool any_case) {
    const std::size_t start = name_start(input, code_page);
    std::string file = input.substr(start);
    replace_out_with_efw(file, code_page, any_case);
    return FileNames{"", input, input.substr(0, start) + kOutputPrefix + file};
}

FileNames profile_file_names(const std::string& config, std::string_view configured_name,
                             int code_page) {
    FileNames names = form_file_names(config.substr(0, name_start(config, code_page)),
                                      configured_name, code_page);
    names.config = config;
    return names;
}

void use_extension(std::string& output, std::string_view extension) {
    // '.' is never the second byte of a double-byte character and none of ".efw" starts
    // one, so a final ".efw" is those four characters whatever the code page.
    constexpr std::string_view kEfw = ".efw";
    if (output.size() >= kEfw.size() &&
        output.compare(output.size() - kEfw.size(), kEfw.size(), kEfw) == 0)
        output.resize(output.size() - kEfw.size());
    output += extension;
}

FileNames resolve_file_names(const char* argv0, const NameChoice& choice) {
    FileNames names;
    check_typed_path(choice.output);
    if (choice.input != nullptr) {
        check_typed_path(choice.input);
        names = input_file_names(choice.input, platform::code_page_for_text(choice.input));
    } else if (choice.config != nullptr) {
        check_typed_path(choice.config);
        const Configured configured = configured_name(choice.config, true);
        names = profile_file_names(
            choice.config, configured.name,
            code_page_with(platform::code_page_for_text(choice.config), configured.name));
    } else {
        check_typed_path(argv0);
        names = resolve_file_names(argv0);
        platform::FileStatus status;
        if (names.default_input && choice.no_profile_hint != nullptr &&
            !platform::path_status(names.input, status, true) && errno == ENOENT) {
            // Started by a bare name, the program looked in the working directory.
            const bool bare = names.config == kConfigFileName;
            fail(names.input, "cannot open: " + platform::error_text(ENOENT) + " (no " +
                                  kConfigFileName +
                                  (bare ? " in the working directory" : " beside the program") +
                                  " named an input; " + choice.no_profile_hint + ")");
        }
        if (choice.profile_input != nullptr)
            choice.profile_input(choice.context, names);
    }
    if (choice.output != nullptr) {
        names.output = choice.output;
        names.output_directory_renamed = false;
    } else if (choice.extension != nullptr) {
        use_extension(names.output, choice.extension);
    }
    return names;
}

void check_output_directory(const FileNames& names) {
    if (!names.output_directory_renamed)
        return;
    const int code_page = platform::code_page_for_text(names.output);
    const std::string dir = names.output.substr(0, name_start(names.output, code_page));
    platform::FileStatus status;
    if (platform::path_status(dir, status, true))
        return;
    const int error = errno;
    if (error != ENOENT && error != ENOTDIR)
        return;
    fail(names.output, "cannot create a temporary file beside it: " + platform::error_text(error) +
                           " (the directory " + dir +
                           " comes from replacing every \".out\" in the whole path by \".efw\")");
}
