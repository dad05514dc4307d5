// Single-byte text helpers.
#include "core/text.h"

#include <cctype>
#include <cstring>

namespace vexa {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.empty()) return true;
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (EqualsNoCase(text.substr(i, part.size()), part)) return true;
  }
  return false;
}

std::string_view TrimChars(std::string_view text, std::string_view chars) {
  while (!text.empty() && chars.find(text.front()) != std::string_view::npos) text.remove_prefix(1);
  while (!text.empty() && chars.find(text.back()) != std::string_view::npos) text.remove_suffix(1);
  return text;
}

std::string FormatSigned(std::int64_t value) { return std::to_string(value); }

std::string FormatUnsigned(std::uint64_t value) { return std::to_string(value); }

void CopyToField(char* field, std::size_t size, std::string_view text) {
  if (size == 0) return;
  const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, size - n);
}

}  // namespace vexa
