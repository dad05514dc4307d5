// The volume table: one record per volume slot (C to Z map to slots 0 to 23), built
// when the engine starts and torn down when it stops.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "analysis/cell_file_lists.h"
#include "analysis/cluster_map.h"
#include "platform/machine.h"

namespace vexa {

inline constexpr int kVolumeSlots = 26;

// Slot of a drive letter: C/c to Z/z are 0 to 23, any other character 0.
int SlotOfLetter(char letter);

struct VolumeRecord {
  std::string letterText;  // "C"; empty when the volume could not be opened
  platform::Handle volume = platform::kInvalidHandle;
  std::uint32_t bytesPerCluster = 0;
  std::uint64_t usedClusters = 0;  // as reported at load
  std::uint64_t freeClusters = 0;  // as reported at load
  std::uint64_t clustersPerCell = 0;
  std::string fileSystem;       // "NTFS", "FAT32", ...
  std::string totalSizeText;    // "74.5 GB"
  std::string usedSizeText;
  std::string fragmentationText;  // set by the analysis, read by the defragmentation report
  bool solidState = false;  // its disk reported no seek penalty (asked once, at load)
  std::unique_ptr<ClusterMap> cells;     // only for fixed volumes found at load
  std::unique_ptr<CellFileLists> lists;  // with the cells

  bool IsOpen() const { return volume != platform::kInvalidHandle; }
};

// The engine's volume table (engine-global). Written at start-up and shut-down; in
// between only cells, lists and fragmentationText change, from the running worker.
extern VolumeRecord gVolumes[kVolumeSlots];
// Fixed volumes found at load, whether or not they could be opened.
extern int gVolumeCount;

// The volume of slot s when it is open, else null.
VolumeRecord* OpenVolumeOfSlot(int s);

// The size text of a byte count: GiB cut (not rounded) after one decimal, " GB".
std::string SizeText(std::uint64_t bytes);

// Builds the table: enumerates C to Z on the engine's machine, opens each fixed
// volume, reads its bitmap, fixes its cell geometry and restores its cells from
// "diskdata" (created zero-filled when missing). Loading thread only.
void LoadVolumeTable();
// Saves every slot's cells to "diskdata", then empties the table and closes the
// volume handles. Loading thread only, after the last export has returned.
void SaveAndCloseVolumeTable();

// Saves every slot's cells to "diskdata" and leaves the table as it is. Returns whether
// the file could be written. When no job runs.
bool SaveVolumeMaps();

// Closes every open volume and empties the table without saving anything: what a
// failed start-up leaves behind.
void DropVolumeTable();

}  // namespace vexa
