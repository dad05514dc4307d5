// What a volume's own marks and our claim records say before a job: space an interrupted
// job of ours left is given back (write jobs), and clusters in use by no file are counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/volume_map.h"

namespace cli {

// Clusters a volume marks in use that no file, folder or system structure owns.
struct LostSpace {
  bool known = false;      // the volume could be read
  bool exfat = false;
  bool ours = false;       // an interrupted job of ours left a claim record for the volume
  std::uint64_t clusters = 0;
  std::uint64_t bytes = 0;
};

// For each letter of `letters` that `map` serves: when a claim record of an interrupted
// job of ours is found in `engineFolder`, frees the recorded clusters no file owns,
// clears that job's dirty mark and removes the record. Appends a line per volume to
// *lines ("C: reclaimed 4.10 GiB left by an interrupted job"), and to *problems a line
// per volume where that failed. An image attached to a loop device or mounted is left
// alone (the checks of the job refuse it). Before a write job, before the engine loads.
// Main thread.
void ReclaimInterruptedJobs(const std::vector<platform::VolumeMapEntry>& map, const std::string& letters,
                            const std::string& engineFolder, std::vector<std::string>* lines,
                            std::vector<std::string>* problems);

// The lost space of the volume at `path` (opened and closed again; nothing is written).
LostSpace LostSpaceOf(const std::string& path, const std::string& engineFolder);

// The line that names lost space and its remedy, or empty when there is none:
// "C: 12 clusters (48 KiB) are in use by no file; run fsck.fat -a on the volume to free them".
std::string LostSpaceLine(char letter, const LostSpace& lost);

// A size with two decimals in the largest unit it reaches: "4.10 GiB", "512 bytes".
std::string TwoDecimalSize(std::uint64_t bytes);

}  // namespace cli
