// Splitting volume paths into their names.
#include "platform/path_parts.h"

namespace platform {

std::vector<std::string> PathComponents(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool NameReachable(std::string_view name) {
  constexpr std::string_view kBreaking("\\/\0", 3);
  return !name.empty() && name != "." && name != ".." && name.find_first_of(kBreaking) == std::string_view::npos;
}

}  // namespace platform
