// The folder walk both passes share: the analysis and the defragmentation worker each
// drive it with their own per-file step and the few rules in which they differ.
//
// The walk lists a folder with the directory search ("C:\*" at the root, "C:\Data\*"
// below), notes each entry's name in the work context for the status call, passes over
// names starting with ".", counts every folder and file in the work context, descends
// into folders the rules allow and hands every eligible file to the pass. Name-surrogate
// reparse points (junctions, symbolic links, mount points) are counted, never followed
// nor handed over. It checks the
// stop flag on entering each folder and before each entry; a stop seen anywhere ends the
// whole walk, which then reports that it was stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/machine.h"
#include "settings/exclusion_lists.h"

namespace vexa {

// A directory search, closed on every way out of its scope (a failure thrown by a pass
// included).
class Search {
 public:
  Search(platform::Machine& machine, platform::Handle handle) : machine_(machine), handle_(handle) {}
  ~Search() {
    if (handle_ != platform::kInvalidHandle) machine_.FindClose(handle_);
  }
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;
  platform::Handle Get() const { return handle_; }

 private:
  platform::Machine& machine_;
  platform::Handle handle_;
};

// Longest full path (folder prefix + entry name) the walk forms, in characters as
// Windows counts them (platform::NameTextLength: UTF-8 names on Linux are not cut
// shorter than the same names on Windows); longer entries are passed over.
inline constexpr std::size_t kMaxWalkPath = 999;

// A file the walk hands to its pass. The path is valid for the call only.
struct WalkedFile {
  const std::string& path;   // full path, at most kMaxWalkPath characters
  std::uint64_t size;        // bytes, from the directory entry
  std::uint32_t attributes;  // attribute word of the directory entry
  bool system;               // the pass's "system32" rule holds for the file
};

// Where the two passes differ.
struct WalkRules {
  enum class FolderMatch {
    kWholeNameNoCase,        // a folder entry equal to the name, in any letter case
    kContainedCaseSensitive  // a folder entry contained in the name, case-sensitively
  };
  enum class SystemRule {
    kFolderPathNoCase,  // the holding folder's full path contains "system32", any case
    kFilePathExact      // the file's own full path contains "system32", case-sensitively
  };
  FolderMatch folderMatch = FolderMatch::kWholeNameNoCase;
  SystemRule systemRule = SystemRule::kFolderPathNoCase;
  // Read-only files are passed over too (sparse files always are; sparse folders only
  // with this). Read-only folders are entered either way.
  bool passOverReadOnly = true;
  // Over-long entries are counted before they are passed over; otherwise they are
  // passed over uncounted.
  bool countOverlongEntries = true;
  // Files of at most this many bytes are counted but not handed over (0: every file).
  std::uint64_t smallFileBytes = 0;
  // Called when a folder cannot be searched, so the pass can ask whether its volume is
  // still there; the walk ends as soon as the work context says the volume is gone.
  std::function<void()> searchFailed;
};

using WalkFileStep = std::function<void(const WalkedFile&)>;

// Optional: files the Options lists exclude, by their own name or by a folder above
// them, go here instead of being passed over silently. Excluded folders are then
// searched as well (neither counted nor named in the status), and their files handed
// over whatever their names; sparse files and names starting with "." still are not.
struct ExcludedFileStep {
  WalkFileStep step;
};

// Walks the volume `letterText` ("C") of `machine` from its root, handing each eligible
// file to `step`. `exclusions` is the set the pass took for this volume; it must
// outlive the call. Returns false when the walk ended on a stop request (not when it
// ended because the volume went away: the work context's volumeGone says that). Counts and the
// current name go to the work context. The running worker only.
[[nodiscard]] bool WalkVolume(platform::Machine& machine, const std::string& letterText,
                              const ExclusionLists& exclusions, const WalkRules& rules,
                              const WalkFileStep& step, const ExcludedFileStep& excluded = {});

}  // namespace vexa
