// The work context: the one engine-global record of the pass that runs.
//
// Only the running worker writes it. Values the status call reads from another
// thread are atomics (relaxed) or a SharedText; the rest is the worker's own.
#pragma once

#include <atomic>
#include <cstdint>

#include "analysis/free_runs.h"
#include "core/shared_text.h"
#include "platform/win_types.h"

namespace vexa {

struct WorkContext {
  // --- the volume being visited ---
  std::atomic<int> walkSlot{0};
  std::atomic<std::uint64_t> bytesPerCluster{0};
  std::uint64_t clustersPerCell = 1;
  std::int64_t totalClusters = 0;
  bool ntfs = false;  // cluster numbers for cells: logical, or logical + 2 (FAT variants)
  std::int64_t largestFreeRun = 0;
  FreeRunMap freeRuns;

  // --- counters (read by the status call and the reports) ---
  std::atomic<std::uint64_t> usedClusters{0};
  std::atomic<std::uint64_t> processedClusters{0};
  std::uint64_t scannedFolders = 0;
  std::uint64_t scannedFiles = 0;
  std::int32_t bigFragmentFiles = 0;
  std::int32_t smallFragmentFiles = 0;
  std::int32_t defragmentedFiles = 0;

  // --- the walk ---
  bool systemFile = false;
  // Set once an analysis has marked any cell; cell updates of the moves need it.
  bool currentCellSet = false;
  bool stopped = false;  // a walk, a file's moves or the in-depth pass noticed a stop
  // The volume went away mid-pass (core/volume_state.h): the pass over it ends, the
  // job goes on with the next volume.
  bool volumeGone = false;
  SharedText<platform::kFindNameSize> currentName;  // name of the directory entry found last

  // --- moves (read by the status call) ---
  std::atomic<bool> optimizing{false};
  std::atomic<bool> moving{false};
  std::atomic<std::uint32_t> moveSerial{0};  // raised each time `moving` is raised
  std::atomic<std::int32_t> inDepthCount{0};
  std::atomic<std::int32_t> inDepthIndex{0};
  std::atomic<std::uint64_t> moveStartingVcn{0};     // of the last move request
  std::atomic<std::uint64_t> moveTargetLcn{0};       // of the last move request
  std::atomic<std::uint64_t> candidateFirstCluster{0};

  // Cluster number used for map cells: logical cluster on NTFS, + 2 elsewhere.
  std::uint64_t CellCluster(std::int64_t lcn) const {
    return static_cast<std::uint64_t>(lcn) + (ntfs ? 0 : 2);
  }
};

extern WorkContext gWork;

// Raises the moving flag for a new move (the status call restarts its poll counter).
inline void BeginMove() {
  gWork.moveSerial.fetch_add(1, std::memory_order_relaxed);
  gWork.moving.store(true, std::memory_order_relaxed);
}
inline void EndMove() { gWork.moving.store(false, std::memory_order_relaxed); }

}  // namespace vexa
