// Splitting volume paths into their names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The names of `path`, split at '\' and '/', empty names dropped: "C:\A\\b" gives
// {"C:", "A", "b"}. A caller that has a drive prefix strips it first.
std::vector<std::string> PathComponents(std::string_view path);

// Whether a path can name an entry called `name`: not empty, not "." or "..", and no
// '\', '/' or NUL in it. Any other name would lead a path to the folder itself, its
// parent or elsewhere, and a walker that follows it would go round without end.
bool NameReachable(std::string_view name);

}  // namespace platform
