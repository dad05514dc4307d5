// The volumes of one run: the volume map with --volume on top, the checks made before
// the engine is loaded, and the temporary map file the engine reads while loading.
#pragma once

#include <string>
#include <vector>

#include "command_line.h"
#include "platform/volume_map.h"

namespace cli {

// Why one volume of a run cannot be used; `letter` 0 when it concerns the whole run.
struct VolumeProblem {
  char letter = 0;
  std::string text;
};

// The engine's volume map (VEXA_VOLUMES, else volumes.ini in `engineFolder`) with
// `overrides` on top; override paths are made absolute from the current folder.
// `warnings` (when not null) receives the map's malformed lines and a VEXA_VOLUMES
// file that cannot be read.
std::vector<platform::VolumeMapEntry> CombinedVolumeMap(const std::string& engineFolder,
                                                        const std::vector<VolumeOption>& overrides,
                                                        std::vector<std::string>* warnings = nullptr);

// Opens every letter of `letters` that `map` serves, as the engine will, and closes it
// again. Appends one problem per volume to *problems: two letters whose bytes overlap
// (one image or device by two paths; before anything is opened), an image or device
// that cannot be opened (and why), or, when `needWritable`, one that loop devices,
// mounts or stacked devices elsewhere use (naming them and how to release them) or that
// would only open read-only (and why, with the damage validation found). Appends to
// *notes a line per read-only volume an analysis will only read, and per volume in use
// elsewhere whose figures may change under the analysis.
// `engineFolder` (when not empty) holds the claim records of our jobs: a volume left
// dirty by an interrupted job of ours is not refused for that.
void CheckMappedVolumes(const std::vector<platform::VolumeMapEntry>& map, const std::string& letters,
                        bool needWritable, std::vector<VolumeProblem>* problems, std::vector<std::string>* notes,
                        const std::string& engineFolder = std::string());

// Whether the engine can save its reports and state in `folder` (ending with its
// separator): a file can be created there, and the state files and entry pages already
// there can be written. False, with *why naming what cannot be written, otherwise.
[[nodiscard]] bool EngineFolderWritable(const std::string& folder, std::string* why);

// True when `map` serves `letter`.
bool MapServes(const std::vector<platform::VolumeMapEntry>& map, char letter);

// A volume map file for the engine to read while it loads: written to the temporary
// folder and named by VEXA_VOLUMES; removed when this object goes.
class TemporaryVolumeMap {
 public:
  TemporaryVolumeMap() = default;
  ~TemporaryVolumeMap();
  TemporaryVolumeMap(const TemporaryVolumeMap&) = delete;
  TemporaryVolumeMap& operator=(const TemporaryVolumeMap&) = delete;

  // Writes `map` and points VEXA_VOLUMES at it. False, with *error set, on failure.
  [[nodiscard]] bool Install(const std::vector<platform::VolumeMapEntry>& map, std::string* error);
  // Removes the file (the engine reads it only while it loads).
  void Remove();

 private:
  std::string path_;
};

}  // namespace cli
