// Single-byte text helpers shared by the engine: case-insensitive comparison and search,
// trimming, and the decimal formats the engine's texts use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vexa {

// Whole texts equal, ASCII letters compared without case.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Whether `text` contains `part`, ASCII letters compared without case (StrStrIA).
bool ContainsNoCase(std::string_view text, std::string_view part);
// `text` with every leading and trailing character found in `chars` removed (StrTrimA).
std::string_view TrimChars(std::string_view text, std::string_view chars);
// Decimal texts: "%d", "%I32u" and "%I64u" as the engine formats them.
std::string FormatSigned(std::int64_t value);
std::string FormatUnsigned(std::uint64_t value);
// Copies `text` into a fixed field of `size` bytes, cut to size - 1 and NUL-terminated.
void CopyToField(char* field, std::size_t size, std::string_view text);

}  // namespace vexa
