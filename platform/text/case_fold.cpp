// Unicode simple case folding over a sorted table of the folding pairs.
#include "platform/case_fold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/utf.h"

namespace platform {
namespace {

struct FoldPair {
  std::uint32_t from;
  std::uint32_t to;
};

constexpr FoldPair kFolds[] = {
#include "case_fold_table.inc"
};

}  // namespace

char32_t SimpleCaseFold(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
  const auto it = std::lower_bound(std::begin(kFolds), std::end(kFolds), static_cast<std::uint32_t>(c),
                                   [](const FoldPair& p, std::uint32_t v) { return p.from < v; });
  return it != std::end(kFolds) && it->from == c ? static_cast<char32_t>(it->to) : c;
}

char32_t SimpleUpperCase(char32_t c) {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 32 : c;
  for (const FoldPair& p : kFolds) {
    // Capital sharp s is folding's only way back to U+00DF; it is not its upper case.
    if (p.to == c && p.from != c && p.from != 0x1E9E) return p.from;
  }
  return c;
}

bool HasUpperCase(char32_t c) { return SimpleUpperCase(c) != c; }

std::string FoldUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    char32_t c;
    if (NextCodePoint(text, &at, &c)) {
      AppendUtf8(SimpleCaseFold(c), &out);
    } else {
      out += text[at++];
    }
  }
  return out;
}

}  // namespace platform
