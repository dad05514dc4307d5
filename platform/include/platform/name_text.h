// How file names cross the volume seam: UTF-8 on Linux; on Windows the single-byte
// text the A-functions use (Latin-1 characters, others shown as '?').
//
// The FAT and exFAT providers store names as UTF-16 (8.3 names in code page 437) and
// hand the engine and `vexa` this text; paths given to them are read the same way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The name text of the on-disk name `name` into *out. False when it cannot be
// converted exactly (on Linux: a surrogate that is not part of a pair); *out then
// holds a stand-in with U+FFFD for each such unit.
[[nodiscard]] bool NameFromUtf16(std::u16string_view name, std::string* out);

// The on-disk form of the name text `name`. False when it is not valid name text (on
// Linux: not valid UTF-8).
[[nodiscard]] bool NameToUtf16(std::string_view name, std::u16string* out);

// The name text of the 8.3 name bytes `oem` (no padding): code page 437 on Linux, the
// bytes as they are on Windows.
std::string NameFromOem(std::string_view oem);

// `name` in the one case names are compared in: Unicode simple case folding on Linux,
// ASCII and Latin-1 letters on Windows. Two names are the same name when their folded
// forms are equal.
std::string FoldNameText(std::string_view name);

// True when the on-disk name `name` can stand in a path: it holds none of \ / * ? and
// no control character (every file system here forbids them; a damaged entry may not).
bool PathSafeName(std::u16string_view name);

// True when `a` and `b` are the same name in any case.
bool SameNameText(std::string_view a, std::string_view b);

// The length of the name text `text` in the characters Windows counts path lengths
// in: UTF-16 units on Linux, bytes on Windows.
std::size_t NameTextLength(std::string_view text);

// Drops a character cut short at the end of the zero-terminated name text `text` (a
// text cut to a fixed size may end inside one on Linux). Allocates nothing; any thread.
void CutToWholeCharacters(char* text);

}  // namespace platform
