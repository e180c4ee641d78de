#include "base/warnings.h"

namespace {

// The index of the warning spelled `name`, or kWarningNameCount when none is.
std::size_t name_index(std::string_view name) {
    std::size_t i = 0;
    while (i < kWarningNameCount && name != kWarningNames[i])
        ++i;
    return i;
}

bool starts_with(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

} // namespace

bool apply_warning_option(Warnings& warnings, std::string_view option) {
    if (option == "error" || option == "no-error") {
        warnings.strict = option == "error";
        return true;
    }
    const bool off = starts_with(option, "no-");
    const bool error = starts_with(option, "error=");
    const std::size_t i = name_index(option);
    if (i == kWarningNameCount)
        return false;
    WarningSetting& s = warnings.settings[i];
    if (error) {
        // -Werror=NAME also turns the warning on; -Wno-error=NAME leaves that as it is.
        s.error = off ? WarningSetting::NoError : WarningSetting::Error;
        if (!off)
            s.enabled = true;
    } else {
        s.enabled = !off;
    }
    return true;
}

std::string warning_name_list() {
    std::string list;
    for (const char* name : kWarningNames) {
        if (!list.empty())
            list += ", ";
        list += name;
    }
    return list;
}
