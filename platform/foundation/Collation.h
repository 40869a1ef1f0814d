#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The order of the system's file browser for names: by the user's language (the root order of
// Unicode's collation when the locale is "C" or "POSIX"), without regard to case, with every run
// of digits compared by its value ("file 2" before "file 10"); accents count. Texts are UTF-8.
// Thread-safe.

// Negative, 0 or positive as `a` sorts before, with or after `b`; "a" and "A" compare equal.
int finderCompare(std::string_view a, std::string_view b);

// Sorts names in that order; names that compare equal are ordered by their bytes, so the result
// does not depend on the input order.
void sortInFinderOrder(std::vector<std::string>& names);

// The positions of `names` in that order (ties by bytes), for callers that keep more than the names
// beside them; one sort key per name, all in one buffer.
std::vector<std::size_t> finderOrder(const std::vector<std::string_view>& names);

} // namespace platform
