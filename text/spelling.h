// Misspelt names: which of the known ones a user probably meant.
#pragma once

#include <string_view>

// Keeps `name` in `best` when `typed` could be a misspelling of it and it is nearer to
// `typed` than what `best` holds; `best` starts empty, and stays so when no name is near.
void consider_spelling(std::string_view typed, std::string_view name, std::string_view& best);
