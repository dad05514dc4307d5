// Names at the volume seam: UTF-8 on Linux, single-byte text on Windows.
#include "platform/name_text.h"

#include <cstring>

#include "platform/case_fold.h"
#include "platform/cp437.h"
#include "platform/utf.h"

namespace platform {
namespace {

[[maybe_unused]] unsigned char FoldLatin1(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
  return c;
}

}  // namespace

#ifdef _WIN32

bool NameFromUtf16(std::u16string_view name, std::string* out) {
  out->clear();
  for (char16_t c : name) *out += c < 0x100 && c != 0 ? static_cast<char>(c) : '?';
  return true;
}

bool NameToUtf16(std::string_view name, std::u16string* out) {
  out->clear();
  for (char c : name) *out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return true;
}

std::string NameFromOem(std::string_view oem) { return std::string(oem); }

std::string FoldNameText(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = static_cast<char>(FoldLatin1(static_cast<unsigned char>(c)));
  return folded;
}

std::size_t NameTextLength(std::string_view text) { return text.size(); }

void CutToWholeCharacters(char*) {}

#else

bool NameFromUtf16(std::u16string_view name, std::string* out) {
  if (Utf16ToUtf8(name, out)) return true;
  // The stand-in: each unpaired surrogate as U+FFFD, everything else exact.
  std::u16string patched(name);
  for (std::size_t i = 0; i < patched.size(); ++i) {
    const char16_t c = patched[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < patched.size() && patched[i + 1] >= 0xDC00 && patched[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      patched[i] = 0xFFFD;
    }
  }
  (void)Utf16ToUtf8(patched, out);
  return false;
}

bool NameToUtf16(std::string_view name, std::u16string* out) { return Utf8ToUtf16(name, out); }

std::string NameFromOem(std::string_view oem) {
  std::string out;
  for (char c : oem) AppendUtf8(Cp437ToUnicode(static_cast<std::uint8_t>(c)), &out);
  return out;
}

std::string FoldNameText(std::string_view name) { return FoldUtf8(name); }

std::size_t NameTextLength(std::string_view text) {
  std::size_t units = 0;
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) ++units;  // a lead byte or ASCII starts a character
    if (b >= 0xF0) ++units;           // four bytes: a surrogate pair
  }
  return units;
}

void CutToWholeCharacters(char* text) {
  std::size_t n = std::strlen(text);
  std::size_t start = n;  // where the last character starts
  while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 && n - start < 3) --start;
  if (start == 0) return;
  const auto lead = static_cast<unsigned char>(text[start - 1]);
  if (lead < 0x80) return;
  const std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (n - (start - 1) < want) text[start - 1] = 0;
}

#endif

bool PathSafeName(std::u16string_view name) {
  for (char16_t c : name) {
    if (c < 0x20 || c == u'\\' || c == u'/' || c == u'*' || c == u'?') return false;
  }
  return true;
}

bool SameNameText(std::string_view a, std::string_view b) {
  return a == b || FoldNameText(a) == FoldNameText(b);
}

}  // namespace platform
