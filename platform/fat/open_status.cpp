// Texts for the FAT open statuses.
#include "platform/fat_open_status.h"

namespace platform::fat {
namespace {

void AddCount(std::string* text, std::uint32_t count, const char* one, const char* many) {
  if (count == 0) return;
  if (!text->empty()) *text += ", ";
  *text += std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string FatDamageText(const FatDamage& damage) {
  std::string text;
  AddCount(&text, damage.lostClusters, "lost cluster", "lost clusters");
  AddCount(&text, damage.crossLinks, "cross-linked file", "cross-linked files");
  AddCount(&text, damage.brokenChains, "chain that loops or runs out of range", "chains that loop or run out of range");
  AddCount(&text, damage.shortChains, "chain shorter than its file's size", "chains shorter than their files' sizes");
  AddCount(&text, damage.differingFatCopies, "FAT copy that differs", "FAT copies that differ");
  AddCount(&text, damage.folderLoops, "folder that leads back into its own path",
           "folders that lead back into their own path");
  if (damage.otherProblems == 1) {
    if (!text.empty()) text += ", ";
    text += damage.firstOther;
  } else if (damage.otherProblems > 1) {
    if (!text.empty()) text += ", ";
    text += damage.firstOther + " and " + std::to_string(damage.otherProblems - 1) + " more";
  }
  return text;
}

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
    case FatOpenStatus::kReadOnlyDirty:
      return "file system is marked dirty (not unmounted cleanly, or changed by a program that stopped); "
             "run fsck.fat -a on it first; opened read-only";
    case FatOpenStatus::kReadOnlyHardErrors:
      return "file system records disk errors; run fsck.fat -a on it first (and check the card); opened read-only";
    case FatOpenStatus::kReadOnlyExfatDirty:
      return "exFAT volume is marked dirty (not unmounted cleanly, or changed by a program that stopped); "
             "run fsck.exfat -p on it first; opened read-only";
    case FatOpenStatus::kReadOnlyMediaFailure:
      return "exFAT volume records media failures; run fsck.exfat on it first (and check the card); opened read-only";
    case FatOpenStatus::kNotFound:
      return "image file or device not found";
    case FatOpenStatus::kAccessDenied:
      return "access denied";
    case FatOpenStatus::kInUse:
      return "the image is in use by another process";
    case FatOpenStatus::kMounted:
      return "block device is mounted or in use";
    case FatOpenStatus::kBadBootSector:
      return "not a FAT file system (invalid boot sector)";
    case FatOpenStatus::kTruncated:
      return "image is shorter than its file system";
    case FatOpenStatus::kReadError:
      return "read error";
    case FatOpenStatus::kFolder:
      return "is a folder, not an image file or device";
    case FatOpenStatus::kNotImageFile:
      return "is not an image file or block device";
  }
  return "unknown status";
}

}  // namespace platform::fat
