#include "run/file_names.h"

#include "base/failure.h"
#include "base/input_file.h"
#include "platform/files.h"
#include "platform/mbstring.h"
#include "platform/profile.h"

#include <cstring>

std::string program_directory(const char* argv0, int code_page) {
    if (argv0 == nullptr)
        return {};
    const char* sep = platform::last_directory_separator(argv0, code_page);
    if (sep == nullptr)
        return {};
    return std::string(argv0, static_cast<std::size_t>(sep - argv0) + 1);
}

void replace_out_with_efw(std::string& path, int code_page) {
    std::size_t from = 0;
    while (const char* hit = platform::path_strstr(path.c_str() + from, ".out", code_page)) {
        const auto at = static_cast<std::size_t>(hit - path.c_str());
        path.replace(at, 4, ".efw");
        from = at + 4;
    }
}

FileNames form_file_names(std::string_view program_dir, std::string_view configured_name,
                          int code_page) {
    const std::string dir(program_dir);
    const std::string name(configured_name.substr(0, kMaxConfiguredName));
    FileNames names{dir + kConfigFileName, dir + name, dir + kOutputPrefix + name};
    replace_out_with_efw(names.output, code_page);
    return names;
}

namespace {

std::string configured_name(const std::string& config) {
    char value[kMaxConfiguredName + 1];
    const platform::ProfileResult read = platform::read_profile_string(
        kConfigSection, kConfigKey, kDefaultInputName, value, sizeof value, config.c_str());
    if (read.status == platform::ProfileStatus::kNotRegular)
        fail(config, "not a regular file");
    if (read.status == platform::ProfileStatus::kError)
        fail(config, "cannot read: " + platform::error_text(read.error));
    return std::string(value, read.length);
}

// The code page for names put together from text searched in `known` and from `text`:
// the host's as soon as either needs it.
int code_page_with(int known, std::string_view text) {
    return known != platform::kSingleByte ? known : platform::code_page_for_text(text);
}

} // namespace

FileNames resolve_file_names(const char* argv0) {
    // The host's code page is looked up only for names that need it.
    const int dir_code_page = platform::code_page_for_text(argv0 == nullptr ? "" : argv0);
    const std::string dir = program_directory(argv0, dir_code_page);
    const std::string name = configured_name(dir + kConfigFileName);
    return form_file_names(dir, name, code_page_with(dir_code_page, name));
}

FileNames input_file_names(const std::string& input, int code_page) {
    const char* name = platform::file_name_start(input.c_str(), code_page);
    std::string file = name;
    replace_out_with_efw(file, code_page);
    const std::string dir(input.c_str(), name);
    return FileNames{"", input, dir + kOutputPrefix + file};
}

FileNames profile_file_names(const std::string& config, std::string_view configured_name,
                             int code_page) {
    const std::string dir(config.c_str(), platform::file_name_start(config.c_str(), code_page));
    FileNames names = form_file_names(dir, configured_name, code_page);
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
    if (choice.input != nullptr) {
        names = input_file_names(choice.input, platform::code_page_for_text(choice.input));
    } else if (choice.config != nullptr) {
        open_input(choice.config); // names the file when it cannot be read, closes it again
        const std::string name = configured_name(choice.config);
        names = profile_file_names(
            choice.config, name, code_page_with(platform::code_page_for_text(choice.config), name));
    } else {
        names = resolve_file_names(argv0);
    }
    if (choice.output != nullptr)
        names.output = choice.output;
    else if (choice.extension != nullptr)
        use_extension(names.output, choice.extension);
    return names;
}
