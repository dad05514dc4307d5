// Why a FAT or exFAT volume could not be opened, or why it was opened read-only.
#pragma once

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
  kNotFound,               // no such file or device
  kAccessDenied,           // the file or device cannot be opened at all
  kMounted,                // a block device that is mounted (or held by another program)
  kBadBootSector,          // not a FAT file system: boot sector or BPB values are invalid
  kTruncated,              // the image is shorter than the file system it holds
  kReadError,              // reading the boot sector, the FAT or a folder failed
};

// True when the status leaves a volume that answers (read-only or not).
constexpr bool FatOpened(FatOpenStatus status) {
  return status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyInconsistent ||
         status == FatOpenStatus::kReadOnlyLayout || status == FatOpenStatus::kReadOnlyNoWriteAccess ||
         status == FatOpenStatus::kReadOnlyExfatInconsistent || status == FatOpenStatus::kReadOnlyBootChecksum ||
         status == FatOpenStatus::kReadOnlyTexfat || status == FatOpenStatus::kReadOnlyUnknownEntries;
}

// A short English text for the status, for front ends to show ("mounted block device", ...).
// Returns a pointer to static storage; never null.
const char* FatOpenStatusText(FatOpenStatus status);

}  // namespace platform::fat
