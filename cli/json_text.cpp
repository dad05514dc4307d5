// JSON string and number texts.
#include "json_text.h"

#include <cstdio>

namespace cli {
namespace {

// Length of the valid UTF-8 sequence at `i`, or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  std::uint32_t min = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  std::uint32_t code = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    char escape[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c >= 0x80) {
      const std::size_t n = Utf8Length(text, i);
      if (n > 0) {
        out.append(text, i, n);
        i += n;
        continue;
      }
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string JsonNumberOrString(const std::string& text) {
  std::size_t digitsFrom = !text.empty() && text[0] == '-' ? 1 : 0;
  bool number = text.size() > digitsFrom && text.size() - digitsFrom <= 18;
  for (std::size_t i = digitsFrom; number && i < text.size(); ++i) number = text[i] >= '0' && text[i] <= '9';
  // No leading zeros, so the number reads back as the same text.
  if (number && text.size() - digitsFrom > 1 && text[digitsFrom] == '0') number = false;
  return number ? text : JsonString(text);
}

}  // namespace cli
