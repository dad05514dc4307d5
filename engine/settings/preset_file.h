// The preset file "preset.ini": reading it into the three exclusion texts and the lists,
// and forming its bytes from the texts the Options dialog confirmed.
//
// Reading accepts any text. A line's end is LF or CR LF (the file is written with CR LF).
// A line holding "]" is cut after its first "]"; the cut lines "[folder]", "[file]" and
// "[type]" (exactly so, case-sensitive) switch the section. Every other line is an entry
// of the current section, taken as it is, an empty line as an empty entry; lines before
// the first section header are ignored. Each entry is appended, followed by ";", to its
// section's text and, cut to 255 bytes, to its list.
//
// Forming the file works on a copy of each text: spaces are removed, the rest is split
// at ";" (a piece between two ";" is an empty entry, a ";" at the end adds nothing),
// and the section is written as its header followed by one line per entry. Every line
// ends with CR LF except the last line of the file: the last type entry, or "[type]"
// itself when there is none. Byte-wise work on the texts is safe for the double-byte
// code pages too, because neither a space nor ";" is ever the second byte of a
// double-byte character.
#pragma once

#include <string>
#include <string_view>

#include "settings/exclusion_lists.h"

namespace vexa {

inline constexpr char kPresetFileName[] = "preset.ini";

// The three texts the Options dialog edits: each section's entries, each followed by ";".
struct ExclusionTexts {
  std::string folder;
  std::string file;
  std::string type;

  bool operator==(const ExclusionTexts&) const = default;
};

// Reads the preset file's content. Returns the texts, and appends the entries to
// `lists` (whose built-in names the caller has already put in place). Pure.
ExclusionTexts ParsePreset(std::string_view content, ExclusionLists& lists);

// The file bytes for the confirmed `texts`; appends the entries to `lists` (after the
// built-in names the caller has put in place). Entries longer than 255 bytes are cut,
// in the file as in the lists, so the next load finds what is in force now. Pure.
std::string FormatPreset(const ExclusionTexts& texts, ExclusionLists& lists);

}  // namespace vexa
