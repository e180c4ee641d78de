// Conditions under which a conversion succeeds and yet the image is probably not what the
// user meant: data left out, headers probably misread, a listing cut short. The rules
// behind them are what the target's loader and stored images rely on, so they are told,
// not refused. Each warning has a name, as a compiler's have, by which the command line
// silences it or makes it an error; an error keeps the run from writing anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class WarningName : unsigned char {
    LeftOut,
    Version,
    WordTarget,
    Unlinked,
    BootOffset0,
    EmptyImage,
    Listing,
    OptHeader,
    Overlap,
};
inline constexpr std::size_t kWarningNameCount = 9;

// The names as the command line spells them (-Wno-left-out), in the order of WarningName.
inline constexpr const char* kWarningNames[kWarningNameCount] = {
    "left-out",    "version", "word-target", "unlinked", "boot-offset-0",
    "empty-image", "listing", "opt-header",  "overlap",
};

inline const char* warning_name(WarningName name) {
    return kWarningNames[static_cast<std::size_t>(name)];
}

// Warnings that are errors until an option says otherwise: the image they describe is
// plainly wrong for the loader (a word target's records carry half of each section), so
// only -Wno-error=NAME or -Wno-NAME lets such an image be written.
inline constexpr bool kErrorByDefault[kWarningNameCount] = {
    false, false, true, false, false, false, false, false, false,
};

// What the command line made of one warning. As in the compilers, -Wno-NAME and -WNAME
// turn it off and on, -Werror=NAME turns it on as an error and -Wno-error=NAME keeps it a
// warning under -Werror, or where it is an error by default; of two such options the
// later wins.
struct WarningSetting {
    bool enabled = true;
    enum : unsigned char { AsStrict, Error, NoError } error = AsStrict;
};

struct Warnings {
    // The program's reporter, which words and prints the line; `as_error` when the
    // settings make this one an error. The text comes straight from the caller's buffers:
    // a warning costs no allocation.
    void (*report)(void* context, const char* path, const char* what, const char* name,
                   bool as_error) = nullptr;
    void* context = nullptr;
    bool strict = false; // -Werror, --strict: every warning not set otherwise is an error
    // -w: no warning is given, as in the compilers, but one that is an error by its own
    // setting (-Werror=NAME, or an error by default) is still given as one.
    bool silenced = false;
    WarningSetting settings[kWarningNameCount];
    unsigned count = 0;  // warnings given so far, errors included
    unsigned errors = 0; // of them, those given as errors
};

inline bool is_enabled(const Warnings& warnings, WarningName name) {
    return warnings.settings[static_cast<std::size_t>(name)].enabled;
}

// An error by its own setting, whatever -Werror and -w say.
inline bool is_error_by_name(const Warnings& warnings, WarningName name) {
    const auto i = static_cast<std::size_t>(name);
    const WarningSetting& s = warnings.settings[i];
    return s.error == WarningSetting::Error ||
           (s.error == WarningSetting::AsStrict && kErrorByDefault[i]);
}

inline bool is_error(const Warnings& warnings, WarningName name) {
    const WarningSetting& s = warnings.settings[static_cast<std::size_t>(name)];
    return is_error_by_name(warnings, name) ||
           (s.error == WarningSetting::AsStrict && warnings.strict);
}

inline void warn(Warnings& warnings, WarningName name, const char* path, const char* what) {
    if (!is_enabled(warnings, name) || (warnings.silenced && !is_error_by_name(warnings, name)))
        return;
    const bool as_error = is_error(warnings, name);
    if (warnings.report != nullptr)
        warnings.report(warnings.context, path, what, warning_name(name), as_error);
    ++warnings.count;
    if (as_error)
        ++warnings.errors;
}

// True when a warning given as an error keeps the image from being written.
inline bool warnings_refuse_image(const Warnings* warnings) {
    return warnings != nullptr && warnings->errors > 0;
}

// Applies one warning option, given without its leading "-W": "error", "no-error",
// "NAME", "no-NAME", "error=NAME" or "no-error=NAME". False, with `warnings` unchanged,
// when it names no warning.
bool apply_warning_option(Warnings& warnings, std::string_view option);

// "left-out, version, ...": the names, for a usage text or a usage error.
std::string warning_name_list();
