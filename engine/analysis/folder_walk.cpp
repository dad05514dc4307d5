// The shared folder walk of the analysis and defragmentation passes.
#include "analysis/folder_walk.h"

#include <cstring>
#include <string_view>

#include "core/job_control.h"
#include "core/text.h"
#include "core/work_context.h"
#include "platform/name_text.h"

namespace vexa {
namespace {

struct Walk {
  platform::Machine& machine;
  const ExclusionLists& exclusions;
  const WalkRules& rules;
  const WalkFileStep& step;
  const ExcludedFileStep& excluded;
  bool stopped = false;

  bool FolderExcluded(const char* name) const {
    if (rules.folderMatch == WalkRules::FolderMatch::kWholeNameNoCase) return IsFolderExcluded(exclusions, name);
    const std::string_view folder(name);
    for (const auto& entry : exclusions.folders) {
      if (!entry.empty() && folder.find(entry) != std::string_view::npos) return true;
    }
    return false;
  }

  bool FileIsSystem(const std::string& path, bool folderSystem) const {
    if (rules.systemRule == WalkRules::SystemRule::kFolderPathNoCase) return folderSystem;
    return path.find("system32") != std::string::npos;
  }

  // Walks the folder whose search pattern is `pattern`; `folderSystem` is the folder's
  // own "system32" flag.
  void Folder(const std::string& pattern, bool folderSystem) {
    if (StopRequested()) {
      stopped = true;
      return;
    }
    if (gWork.volumeGone) return;
    platform::WIN32_FIND_DATAA data{};
    const Search search(machine, machine.FindFirst(pattern.c_str(), &data));
    if (search.Get() == platform::kInvalidHandle) {
      if (rules.searchFailed) rules.searchFailed();
      return;
    }
    const std::string prefix(TrimChars(pattern, "*"));
    do {
      if (StopRequested()) {
        stopped = true;
        break;
      }
      data.cFileName[sizeof data.cFileName - 1] = 0;
      gWork.currentName.Set(data.cFileName);
      if (data.cFileName[0] == '.') continue;
      Entry(prefix, data, folderSystem);
    } while (!stopped && !gWork.volumeGone && machine.FindNext(search.Get(), &data));
  }

  void Entry(const std::string& prefix, const platform::WIN32_FIND_DATAA& data, bool folderSystem) {
    const bool overlong = platform::NameTextLength(prefix) + platform::NameTextLength(data.cFileName) > kMaxWalkPath;
    if (overlong && !rules.countOverlongEntries) return;
    const std::uint32_t attributes = data.dwFileAttributes;
    const bool readOnly = (attributes & platform::kAttributeReadOnly) != 0;
    const bool sparse = (attributes & platform::kAttributeSparseFile) != 0;
    // A name surrogate (junction, directory or file symbolic link, mount point) stands
    // for an entry elsewhere: following it would see files twice, loop back to an
    // ancestor until paths reach the limit, or reach another volume's files. Counted,
    // never followed. WIN32_FIND_DATA: dwReserved0 is the reparse tag of such an entry.
    const bool surrogate = (attributes & platform::kAttributeReparsePoint) != 0 &&
                           platform::IsNameSurrogateTag(data.dwReserved0);
    if (attributes & platform::kAttributeDirectory) {
      ++gWork.scannedFolders;
      if (surrogate) return;
      // Read-only folders are always entered: on a folder the bit only marks it as
      // customised (Windows sets it on Documents, Pictures, Downloads), it protects
      // nothing inside.
      if (rules.passOverReadOnly && sparse) return;
      if (overlong) return;
      if (FolderExcluded(data.cFileName)) {
        if (excluded.step) ExcludedFolder(prefix + data.cFileName, folderSystem);
        return;
      }
      const std::string full = prefix + data.cFileName;
      const bool system = rules.systemRule == WalkRules::SystemRule::kFolderPathNoCase &&
                          ContainsNoCase(full, "system32");
      gWork.systemFile = system;
      Folder(full + "\\*", system);
      gWork.systemFile = folderSystem;
      return;
    }
    ++gWork.scannedFiles;
    if (surrogate || sparse || (rules.passOverReadOnly && readOnly)) return;
    const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (rules.smallFileBytes != 0 && size <= rules.smallFileBytes) return;
    if (overlong) return;
    const std::string full = prefix + data.cFileName;
    if (IsFileExcluded(exclusions, data.cFileName)) {
      if (excluded.step) excluded.step({full, size, attributes, FileIsSystem(full, folderSystem)});
      return;
    }
    step({full, size, attributes, FileIsSystem(full, folderSystem)});
  }

  // Hands every file under the excluded folder `folder` to the excluded step, without
  // counting anything.
  void ExcludedFolder(const std::string& folder, bool parentSystem) {
    const bool folderSystem = rules.systemRule == WalkRules::SystemRule::kFolderPathNoCase &&
                              (parentSystem || ContainsNoCase(folder, "system32"));
    platform::WIN32_FIND_DATAA data{};
    const Search search(machine, machine.FindFirst((folder + "\\*").c_str(), &data));
    if (search.Get() == platform::kInvalidHandle) return;
    do {
      if (StopRequested()) {
        stopped = true;
        break;
      }
      data.cFileName[sizeof data.cFileName - 1] = 0;
      if (data.cFileName[0] == '.') continue;
      const std::string full = folder + "\\" + data.cFileName;
      if (platform::NameTextLength(full) > kMaxWalkPath) continue;
      if ((data.dwFileAttributes & platform::kAttributeReparsePoint) != 0 &&
          platform::IsNameSurrogateTag(data.dwReserved0)) {
        continue;
      }
      if (data.dwFileAttributes & platform::kAttributeDirectory) {
        ExcludedFolder(full, folderSystem);
      } else if ((data.dwFileAttributes & platform::kAttributeSparseFile) == 0) {
        const std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        excluded.step({full, size, data.dwFileAttributes, FileIsSystem(full, folderSystem)});
      }
    } while (!stopped && !gWork.volumeGone && machine.FindNext(search.Get(), &data));
  }
};

}  // namespace

bool WalkVolume(platform::Machine& machine, const std::string& letterText, const ExclusionLists& exclusions,
                const WalkRules& rules, const WalkFileStep& step, const ExcludedFileStep& excluded) {
  Walk walk{machine, exclusions, rules, step, excluded};
  gWork.systemFile = false;
  walk.Folder(letterText + ":\\*", false);
  gWork.systemFile = false;
  return !walk.stopped;
}

}  // namespace vexa
