// Building the exclusion lists and matching folder and file names against them.
#include "settings/exclusion_lists.h"

#include "core/text.h"

namespace vexa {
namespace {

bool FileEntryMatches(const FileExclusion& entry, std::string_view name) {
  if (entry.name.empty()) return false;
  const std::size_t dot = name.rfind('.');
  if (entry.kind == FileEntryKind::kType) {
    std::string_view type = entry.name;
    if (type.front() == '.') type.remove_prefix(1);
    if (type.empty() || dot == std::string_view::npos) return false;
    return EqualsNoCase(name.substr(dot + 1), type);
  }
  if (EqualsNoCase(name, entry.name)) return true;
  return dot != std::string_view::npos && EqualsNoCase(name.substr(0, dot), entry.name);
}

}  // namespace

ExclusionLists ExclusionLists::WithBuiltIns() {
  ExclusionLists lists;
  lists.folders.assign(kBuiltInExcludedFolders.begin(), kBuiltInExcludedFolders.end());
  return lists;
}

void ExclusionLists::AddFolder(std::string_view name) { folders.emplace_back(CutExclusionEntry(name)); }

void ExclusionLists::AddFile(std::string_view name, FileEntryKind kind) {
  files.push_back(FileExclusion{std::string(CutExclusionEntry(name)), kind});
}

std::string_view CutExclusionEntry(std::string_view text) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  return text.substr(0, kMaxExclusionEntry);
}

bool IsFolderExcluded(const ExclusionLists& lists, std::string_view name) {
  if (name.empty()) return false;
  for (const std::string& entry : lists.folders) {
    if (EqualsNoCase(name, entry)) return true;
  }
  return false;
}

bool IsFileExcluded(const ExclusionLists& lists, std::string_view name) {
  if (name.empty()) return false;
  for (const FileExclusion& entry : lists.files) {
    if (FileEntryMatches(entry, name)) return true;
  }
  return false;
}

}  // namespace vexa
