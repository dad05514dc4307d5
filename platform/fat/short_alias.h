// Names of new folder entries: checking a long name, and the 8.3 name Windows stores
// for it (the basis name with a numeric tail "~n" when needed).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace platform::fat {

// `name` as Windows stores it: trailing spaces and periods removed. False when what
// is left cannot name a file (empty, "." or "..", longer than 255 characters, or with
// a control character or one of \ / : * ? " < > |).
[[nodiscard]] bool CleanLongName(const std::string& name, std::string* cleaned);

// How a new entry is named on disk.
struct EntryNames {
  std::uint8_t shortName[11];  // the 8.3 name, space padded
  std::uint8_t caseFlags = 0;  // kLowerBase | kLowerExtension when the 8.3 name alone
                               // shows the name in lower case
  bool needsLongName = false;  // LFN entries carry the name
};

// Names a new entry for the cleaned long name `name`. A name that is a valid 8.3 name
// in one case per part is stored as the 8.3 name alone (with case flags). Otherwise
// the basis name is formed (upper case; spaces and leading periods dropped; periods
// other than the last dropped; characters not allowed in 8.3 names turned into '_';
// at most 8 + 3 characters) and, when the conversion lost anything, the name did not
// fit 8.3 or the basis is taken, "~n" is put at the end of the base with the smallest
// n >= 1 that makes a free name, the base cut so it stays within 8 characters.
// `taken(name11)` says whether an 8.3 name is already used in the folder. False when
// every tail up to ~999999 is taken.
[[nodiscard]] bool NameNewEntry(const std::string& name, const std::function<bool(const std::uint8_t*)>& taken,
                                EntryNames* out);

}  // namespace platform::fat
