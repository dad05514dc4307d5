// Long-name checks and 8.3 aliases for new folder entries.
#include "short_alias.h"

#include <cstring>

#include "dir_entry.h"
#include "platform/case_fold.h"
#include "platform/cp437.h"
#include "platform/name_text.h"

namespace platform::fat {
namespace {

constexpr std::size_t kMaxLongName = 255;
constexpr int kMaxTail = 999999;

bool BadLongNameChar(char c) {
  return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

// Characters an 8.3 name may hold besides A-Z and 0-9.
bool ShortNameSymbol(char c) { return c != 0 && std::strchr("!#$%&'()-@^_`{}~", c) != nullptr; }

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// One character of the basis name: upper case, or '_' (and *lossy) when 8.3 names
// cannot hold it. Off Windows a character beyond ASCII is kept when its upper case
// has an exact code page 437 form, as Windows keeps a valid OEM character; on Windows
// single-byte names carry Latin-1, which has no fixed OEM form here.
char BasisChar(char16_t c, bool* lossy) {
  if (c < 0x80) {
    const char u = UpperAscii(static_cast<char>(c));
    if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || ShortNameSymbol(u)) return u;
  } else {
#ifndef _WIN32
    const char32_t upper = c >= 0xD800 && c <= 0xDFFF ? c : SimpleUpperCase(c);
    std::uint8_t oem = 0;
    if (upper <= 0xFFFF && UnicodeToCp437(static_cast<char16_t>(upper), &oem) && oem >= 0x80) {
      return static_cast<char>(oem);
    }
#endif
  }
  *lossy = true;
  return '_';
}

}  // namespace

bool CleanLongName(const std::string& name, std::string* cleaned) {
  std::string n = name;
  while (!n.empty() && (n.back() == ' ' || n.back() == '.')) n.pop_back();
  std::u16string wide;
  if (n.empty() || !NameToUtf16(n, &wide) || wide.size() > kMaxLongName) return false;
  for (char c : n) {
    if (BadLongNameChar(c)) return false;
  }
  *cleaned = n;
  return true;
}

bool NameNewEntry(const std::string& name, const std::function<bool(const std::uint8_t*)>& taken,
                  EntryNames* out) {
  *out = EntryNames{};
  if (StoreAsShortName(name, out->shortName, &out->caseFlags) && !taken(out->shortName)) return true;
  out->caseFlags = 0;
  out->needsLongName = true;

  // The basis name, formed from the name's UTF-16 units (a surrogate pair counts as
  // two characters, each lossy, as Windows counts them).
  std::u16string wide;
  if (!NameToUtf16(name, &wide)) return false;
  bool lossy = false;
  std::size_t start = 0;
  while (start < wide.size() && (wide[start] == u'.' || wide[start] == u' ')) ++start;
  const std::size_t lastDot = wide.rfind(u'.');
  const bool hasExtension = lastDot != std::u16string::npos && lastDot >= start;
  const std::size_t baseEnd = hasExtension ? lastDot : wide.size();
  std::string base;
  std::string extension;
  bool fits = start == 0;
  for (std::size_t i = start; i < baseEnd; ++i) {
    if (wide[i] == u' ' || wide[i] == u'.') {
      fits = false;
      continue;
    }
    if (base.size() == 8) {
      fits = false;
      continue;
    }
    base += BasisChar(wide[i], &lossy);
  }
  if (hasExtension) {
    for (std::size_t i = lastDot + 1; i < wide.size(); ++i) {
      if (wide[i] == u' ') {
        fits = false;
        continue;
      }
      if (extension.size() == 3) {
        fits = false;
        continue;
      }
      extension += BasisChar(wide[i], &lossy);
    }
  }
  if (base.empty()) {
    base = "_";
    lossy = true;
  }

  auto compose = [&](const std::string& b) {
    std::memset(out->shortName, ' ', 11);
    std::memcpy(out->shortName, b.data(), b.size());
    std::memcpy(out->shortName + 8, extension.data(), extension.size());
    if (out->shortName[0] == kEntryDeleted) out->shortName[0] = kEntryKanji;
  };
  if (!lossy && fits) {
    compose(base);
    if (!taken(out->shortName)) return true;
  }
  for (int n = 1; n <= kMaxTail; ++n) {
    const std::string tail = "~" + std::to_string(n);
    compose(base.substr(0, 8 - tail.size()) + tail);
    if (!taken(out->shortName)) return true;
  }
  return false;
}

}  // namespace platform::fat
