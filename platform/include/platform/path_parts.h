// Splitting volume paths into their names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The names of `path`, split at '\' and '/', empty names dropped: "C:\A\\b" gives
// {"C:", "A", "b"}. A caller that has a drive prefix strips it first.
std::vector<std::string> PathComponents(std::string_view path);

}  // namespace platform
