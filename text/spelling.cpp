#include "text/spelling.h"

#include <algorithm>

namespace {

// The restricted edit distance between two names (insertions, deletions, changes and
// swaps of neighbours), as the compilers measure a misspelling.
std::size_t edit_distance(std::string_view a, std::string_view b) {
    constexpr std::size_t kLongest = 64; // longer than any name; longer text is no typo
    if (a.size() >= kLongest || b.size() >= kLongest)
        return kLongest;
    std::size_t d[kLongest + 1][kLongest + 1];
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

// Whether `typed` is near enough to `name` to be taken for a misspelling of it: about a
// third of the longer one's letters may differ, and always one where both are of about
// the same length, but never for one-letter names.
bool near_enough(std::string_view typed, std::string_view name) {
    const std::size_t longer = std::max(typed.size(), name.size());
    const std::size_t shorter = std::min(typed.size(), name.size());
    if (longer <= 1 || shorter == 0)
        return false;
    const std::size_t cutoff =
        longer - shorter <= 1 ? std::max<std::size_t>(longer / 3, 1) : (longer + 2) / 3;
    return edit_distance(typed, name) <= cutoff;
}

} // namespace

void consider_spelling(std::string_view typed, std::string_view name, std::string_view& best) {
    if (!near_enough(typed, name))
        return;
    if (best.empty() || edit_distance(typed, name) < edit_distance(typed, best))
        best = name;
}
