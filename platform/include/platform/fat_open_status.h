// Why a FAT or exFAT volume could not be opened, or why it was opened read-only.
#pragma once

#include <cstdint>
#include <string>

namespace platform::fat {

enum class FatOpenStatus {
  kOk,                     // opened for reading and writing
  kReadOnlyInconsistent,   // the FAT or the folder tree failed validation: analysis only
  kReadOnlyLayout,         // a layout drivers disagree on (cluster count at a type boundary,
                           // FAT32 layout under 65525 clusters, FAT32 mirroring off on copy 1+)
  kReadOnlyNoWriteAccess,  // the image or device could only be opened for reading
  kReadOnlyExfatInconsistent,  // exFAT: bitmap, chains or an entry set failed validation
  kReadOnlyBootChecksum,   // exFAT: the boot region's checksum is wrong
  kReadOnlyTexfat,         // exFAT with two FATs (TexFAT): analysis only
  kReadOnlyUnknownEntries,  // exFAT folders hold entry types this tool does not know
  kReadOnlyDirty,          // FAT marked dirty (boot sector or FAT[1]) by something other
                           // than an interrupted job of ours: analysis only until fsck.fat
  kReadOnlyHardErrors,     // FAT16/32 FAT[1] records disk errors: analysis only until checked
  kReadOnlyExfatDirty,     // exFAT VolumeDirty set by something other than a job of ours
  kReadOnlyMediaFailure,   // exFAT MediaFailure set: analysis only until checked
  kNotFound,               // no such file or device
  kAccessDenied,           // the file or device cannot be opened at all
  kMounted,                // a block device that is mounted (or held by another program)
  kInUse,                  // another process has the image open for its own job
  kBadBootSector,          // not a FAT file system: boot sector or BPB values are invalid
  kTruncated,              // the image is shorter than the file system it holds
  kReadError,              // reading the boot sector, the FAT or a folder failed
  kFolder,                 // the path names a folder
  kNotImageFile,           // the path names something else that is neither a file nor a
                           // block device (a character device, a pipe, ...)
};

// True when the status leaves a volume that answers (read-only or not).
constexpr bool FatOpened(FatOpenStatus status) {
  return status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyInconsistent ||
         status == FatOpenStatus::kReadOnlyLayout || status == FatOpenStatus::kReadOnlyNoWriteAccess ||
         status == FatOpenStatus::kReadOnlyExfatInconsistent || status == FatOpenStatus::kReadOnlyBootChecksum ||
         status == FatOpenStatus::kReadOnlyTexfat || status == FatOpenStatus::kReadOnlyUnknownEntries ||
         status == FatOpenStatus::kReadOnlyDirty || status == FatOpenStatus::kReadOnlyHardErrors ||
         status == FatOpenStatus::kReadOnlyExfatDirty || status == FatOpenStatus::kReadOnlyMediaFailure;
}

// What validation found on a volume it keeps read-only as inconsistent, counted by the
// kinds fsck.fat repairs. Each count is of things found, not of clusters, unless it says so.
struct FatDamage {
  std::uint32_t lostClusters = 0;        // clusters in use in the FAT that no file or folder owns
  std::uint32_t crossLinks = 0;          // chains that run into a cluster another chain owns
  std::uint32_t brokenChains = 0;        // chains that loop back into themselves, leave the data
                                         // area, or (lost chains) run into a free or bad cluster
  std::uint32_t shortChains = 0;         // file chains that end, or run into a free cluster,
                                         // before the length their file's size calls for
  std::uint32_t differingFatCopies = 0;  // FAT copies that differ from the copy in use
  std::uint32_t folderLoops = 0;         // folders whose first cluster is that of a folder on
                                         // their own path: the tree would lead back on itself
  std::uint32_t otherProblems = 0;       // anything else: sizes, dot entries, folder depth, ...
  std::string firstOther;                // the first of the other problems, for diagnostics

  bool Any() const {
    return lostClusters != 0 || crossLinks != 0 || brokenChains != 0 || shortChains != 0 || differingFatCopies != 0 ||
           folderLoops != 0 ||
           otherProblems != 0;
  }
};

// The damage in words, the counted kinds first: "2 lost clusters, 1 cross-linked file,
// 1 chain that loops or runs out of range" (a folder sharing clusters counts as a
// cross-linked file, as fsck.fat counts it). Empty when nothing was found.
std::string FatDamageText(const FatDamage& damage);

// Where a provider keeps its volume's claim record (platform/claim_journal.h) and
// whether it gives back what an interrupted job of ours left.
struct ClaimOptions {
  std::string folder;        // the engine's working folder, ending with its separator; empty: none kept
  std::string identityPath;  // the image file or device the volume is read from (part of its identity)
  bool reclaim = false;      // at open: free the recorded clusters no file owns, clear our dirty mark
};

// What a provider found and did at open about an interrupted job of ours.
struct ReclaimResult {
  bool interrupted = false;      // a record of an interrupted job of ours was found
  std::uint64_t freedBytes = 0;  // recorded clusters no file owned, given back (in bytes)
  bool done = false;             // freed, made durable, marked clean and the record removed
};

// A short English text for the status, for front ends to show ("mounted block device", ...).
// Returns a pointer to static storage; never null.
const char* FatOpenStatusText(FatOpenStatus status);

}  // namespace platform::fat
