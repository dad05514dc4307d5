// Texts for the FAT open statuses.
#include "platform/fat_open_status.h"

namespace platform::fat {

const char* FatOpenStatusText(FatOpenStatus status) {
  switch (status) {
    case FatOpenStatus::kOk:
      return "opened";
    case FatOpenStatus::kReadOnlyInconsistent:
      return "file system is inconsistent (run fsck.fat); opened read-only";
    case FatOpenStatus::kReadOnlyLayout:
      return "file system layout is ambiguous between FAT drivers; opened read-only";
    case FatOpenStatus::kReadOnlyNoWriteAccess:
      return "no write access; opened read-only";
    case FatOpenStatus::kReadOnlyExfatInconsistent:
      return "exFAT file system is inconsistent (run fsck.exfat); opened read-only";
    case FatOpenStatus::kReadOnlyBootChecksum:
      return "exFAT boot region checksum is wrong; opened read-only";
    case FatOpenStatus::kReadOnlyTexfat:
      return "TexFAT volume (two FATs); opened read-only";
    case FatOpenStatus::kReadOnlyUnknownEntries:
      return "exFAT folders hold entry types this tool does not know; opened read-only";
    case FatOpenStatus::kNotFound:
      return "image file or device not found";
    case FatOpenStatus::kAccessDenied:
      return "access denied";
    case FatOpenStatus::kMounted:
      return "block device is mounted or in use";
    case FatOpenStatus::kBadBootSector:
      return "not a FAT file system (invalid boot sector)";
    case FatOpenStatus::kTruncated:
      return "image is shorter than its file system";
    case FatOpenStatus::kReadError:
      return "read error";
  }
  return "unknown status";
}

}  // namespace platform::fat
