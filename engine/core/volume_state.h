// Whether a volume may be worked on: its dirty bit before any move, and whether it is
// still there when a call on it fails.
#pragma once

#include <cstdint>
#include <string>

#include "core/volume_table.h"

namespace vexa {

// Whether `error` from a call on a volume or on one of its files says the volume itself
// went away (a USB disk pulled, a dismount), not that one file failed.
bool IsVolumeGoneError(std::uint32_t error);

// After a call on volume `v` failed: asks the volume whether it is still mounted and,
// when it is gone, raises the work context's volume-gone flag, which ends the pass
// over the volume. `error` is the failed call's code when it had one (0 otherwise).
// Returns the flag. The running worker only.
bool NoteIfVolumeGone(const VolumeRecord& v, std::uint32_t error = 0);

// What the user is told when volume `letter` went away during a pass.
std::string VolumeGoneText(char letter);

// Whether `fileSystem` (as GetVolumeInformation names it) numbers its clusters from 2:
// FAT, FAT12, FAT16, FAT32 and exFAT. Their map cells are shifted by those two.
bool IsFatVariant(const std::string& fileSystem);
// Whether the engine defragments volumes of `fileSystem`: NTFS and the FAT variants.
// Others (ReFS, UDF, names it does not know) are analysed and listed, never moved on.
bool IsDefragmentedFileSystem(const std::string& fileSystem);

// Why no file of volume `v` may be moved now, as the user is told it ("C: needs a disk
// check (chkdsk) before it can be defragmented"), or empty when moves may go on: a file
// system the engine does not know, or a set dirty bit, which means the bitmap may call
// clusters free that files still own.
std::string ReasonNotToMove(const VolumeRecord& v, char letter);

}  // namespace vexa
