// Placeholder replacement in report texts.
#include "report/placeholder.h"

namespace vexa::report {

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  if (placeholder.empty()) return;
  std::string_view source(text);
  std::size_t found = source.find(placeholder);
  if (found == std::string_view::npos) return;

  std::string result;
  result.reserve(text.size() + value.size());
  std::size_t from = 0;
  while (found != std::string_view::npos) {
    result.append(source.substr(from, found - from));
    result.append(value);
    from = found + placeholder.size();
    found = source.find(placeholder, from);
  }
  result.append(source.substr(from));
  text = std::move(result);
}

}  // namespace vexa::report
