// Exact conversions between UTF-8 and UTF-16 (surrogate pairs included).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `text` as UTF-16 into *out. False (and *out unspecified) when `text` is not valid
// UTF-8: a stray or missing continuation byte, an overlong form, an encoded surrogate
// or a code point above U+10FFFF.
[[nodiscard]] bool Utf8ToUtf16(std::string_view text, std::u16string* out);

// `text` as UTF-8 into *out. False (and *out unspecified) when `text` holds a
// surrogate that is not part of a high-low pair.
[[nodiscard]] bool Utf16ToUtf8(std::u16string_view text, std::string* out);

// True when `text` is valid UTF-8 (as Utf8ToUtf16 takes it).
bool IsValidUtf8(std::string_view text);

// The code point at text[*at], advancing *at past it; false (with *at unchanged) when
// no valid UTF-8 sequence starts there.
[[nodiscard]] bool NextCodePoint(std::string_view text, std::size_t* at, char32_t* out);

// Appends the UTF-8 form of `c` (at most U+10FFFF, not a surrogate) to *out.
void AppendUtf8(char32_t c, std::string* out);

}  // namespace platform
