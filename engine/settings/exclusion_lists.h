// The excluded-folder and excluded-file lists, and how the walks match names against them.
//
// The folder list starts with the eight built-in names, followed by the user's folder
// entries. The file list holds the user's file entries and type entries in file order;
// each entry remembers which section it came from, because the two kinds match
// differently:
//   - a folder entry excludes a folder whose whole name equals it;
//   - a file entry excludes a file whose whole name, or whose name without its last
//     extension, equals it ("readme" excludes readme.txt and readme);
//   - a type entry excludes every file whose last extension equals it, the entry
//     written with or without its leading dot ("exe" and ".exe" exclude setup.exe).
// Every comparison ignores the case of ASCII letters. An empty entry excludes nothing.
//
// A list set is immutable once built: a rewrite builds a new set and publishes it
// (exclusions.h), so a walk that holds a set keeps reading the entries it started with.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vexa {

// Longest entry in bytes; longer entries are cut to this length.
inline constexpr std::size_t kMaxExclusionEntry = 255;

// Folders that are never walked, in list order (positions 1 to 8 of the folder list).
inline constexpr std::array<std::string_view, 8> kBuiltInExcludedFolders = {
    "System Volume Information", "RECYCLER", "dllcache", "Help",
    "cache",                     "Fonts",    "Installer", "Local Settings"};

enum class FileEntryKind { kName, kType };

struct FileExclusion {
  std::string name;    // at most kMaxExclusionEntry bytes, may be empty
  FileEntryKind kind;  // kName from the [file] section, kType from [type]

  bool operator==(const FileExclusion&) const = default;
};

struct ExclusionLists {
  std::vector<std::string> folders;   // the built-in names first, then [folder] entries
  std::vector<FileExclusion> files;   // [file] and [type] entries in the order read

  // Built-in names only, as when there is no preset file.
  static ExclusionLists WithBuiltIns();
  // Appends an entry, cut to kMaxExclusionEntry bytes.
  void AddFolder(std::string_view name);
  void AddFile(std::string_view name, FileEntryKind kind);
};

// `text` cut at its first NUL byte and then to kMaxExclusionEntry bytes: the entry as
// a 256-byte zero-terminated buffer holds it.
std::string_view CutExclusionEntry(std::string_view text);

// Whether a folder named `name` (the folder's own name, no path) is excluded.
// Pure; any thread.
bool IsFolderExcluded(const ExclusionLists& lists, std::string_view name);
// Whether a file named `name` (no path) is excluded by a file or type entry.
// Pure; any thread.
bool IsFileExcluded(const ExclusionLists& lists, std::string_view name);

}  // namespace vexa
