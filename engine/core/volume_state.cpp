// The dirty-bit check before moves and the volume-gone check after failed calls.
#include "core/volume_state.h"

#include "core/engine.h"
#include "core/work_context.h"

namespace vexa {

bool IsVolumeGoneError(std::uint32_t error) {
  return error == platform::kErrorNotReady || error == platform::kErrorInvalidHandle;
}

bool NoteIfVolumeGone(const VolumeRecord& v, std::uint32_t error) {
  if (gWork.volumeGone) return true;
  // A failure of one file (locked, deleted meanwhile) says nothing about the volume:
  // only the volume's own answer decides.
  if (IsVolumeGoneError(error) || IsVolumeGoneError(gMachine->IsVolumeMounted(v.volume))) {
    gWork.volumeGone = true;
  }
  return gWork.volumeGone;
}

std::string VolumeGoneText(char letter) {
  return std::string(1, letter) + ": is no longer available (removed or dismounted): its pass ended there";
}

bool IsFatVariant(const std::string& fileSystem) {
  return fileSystem == "FAT" || fileSystem == "FAT12" || fileSystem == "FAT16" || fileSystem == "FAT32" ||
         fileSystem == "exFAT";
}

bool IsDefragmentedFileSystem(const std::string& fileSystem) {
  return fileSystem == "NTFS" || IsFatVariant(fileSystem);
}

std::string ReasonNotToMove(const VolumeRecord& v, char letter) {
  if (!IsDefragmentedFileSystem(v.fileSystem)) {
    // Its move rules are unknown here (ReFS moves differently, if at all).
    const std::string name = v.fileSystem.empty() ? std::string("an unknown") : "a " + v.fileSystem;
    return std::string(1, letter) + ": has " + name +
           " file system, which this program analyses but does not defragment";
  }
  bool dirty = false;
  const std::uint32_t error = gMachine->IsVolumeDirty(v.volume, &dirty);
  const std::string name(1, letter);
  if (IsVolumeGoneError(error)) return VolumeGoneText(letter);
  // A file system that keeps no dirty bit says so with these two; any other failure
  // leaves the volume's state unknown, and an unknown state is not moved on.
  if (error != platform::kErrorSuccess && error != platform::kErrorInvalidFunction &&
      error != platform::kErrorNotSupported) {
    return name + ": could not be checked for a pending disk check, so it was not defragmented";
  }
  if (dirty) return name + ": needs a disk check (chkdsk) before it can be defragmented";
  return {};
}

}  // namespace vexa
