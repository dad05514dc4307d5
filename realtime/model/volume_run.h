// One run of the real-time defragmenter on the job thread: the engine's fixed volumes,
// then a quick defragmentation (DLL_DefragVolume) of each due volume, one at a time,
// with each volume's figures read back from its report page.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "auto_defrag.h"
#include "engine_api.h"

namespace realtime {

// The letters C to Z for which the loaded engine has an open volume (DLL_GetVolumeInfo
// answers), in that order.
std::string FixedVolumes(const cli::EngineApi& api);

// What the run tells the main thread, called on the job thread.
struct RunEvents {
  std::function<void(char letter)> volumeStarted;
  std::function<void(const VolumeResult& result)> volumeFinished;
};

// What a run says of a volume on a solid-state drive, which it passes over:
// defragmenting it adds wear and does not make it faster.
std::string SolidStatePassedOverText(char letter);

// Runs DLL_DefragVolume for each letter of `letters` for which `due(letter)` holds,
// except volumes the engine reports on a solid-state drive (VexaVolumeInfo::solidState):
// those are not started, and their result (not run) says so in its message,
// until `stop` is raised (checked before each volume; the caller also calls
// DLL_WorkingStop to cut the running volume short). `workingFolder` is the engine's
// folder, ending with its separator: a volume's figures come from "defragreport1.html"
// there when the job wrote it (the page is the first volume's of each one-volume job).
// Messages the engine raises during a volume are caught (they would be message boxes)
// and returned in its result. Job thread; the engine must be loaded.
void DefragDueVolumes(const cli::EngineApi& api, const std::string& workingFolder, const std::string& letters,
                      const std::function<bool(char letter)>& due, const std::atomic<bool>& stop,
                      const RunEvents& events);

}  // namespace realtime
