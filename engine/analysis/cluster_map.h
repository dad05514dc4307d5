// The cluster map of one volume: 1000 cells of counters, their updates and the colour rule.
//
// The running worker changes cells while the front end's polling thread reads them
// through the colour exports, so every counter is an atomic read and written
// relaxed: a reader may see a cell in the middle of an update (a transient colour),
// never a torn value.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "vexa/vexa.h"

namespace vexa {

inline constexpr int kMapCells = VEXA_MAP_CELLS;

enum class CellKind { Fragmented, Contiguous, PartlyContiguous };

// Cell index of cluster number x (the logical cluster on NTFS, logical + 2 elsewhere):
// cell k holds the cluster numbers k * clustersPerCell + 1 to (k + 1) * clustersPerCell.
// Cluster number 0 is cell 0; indexes above 999 are 999.
int CellOfCluster(std::uint64_t x, std::uint64_t clustersPerCell);

// Clusters per cell for a volume of `totalClusters`: at least 1, and enough cells
// to cover the whole volume.
std::uint64_t ClustersPerCell(std::uint64_t totalClusters);

// The colour code (VEXA_COLOR_*) of one cell; `age` is the defragmentation age of
// the engine's current volume (1 shows fragmented cells as recently defragmented).
std::int32_t ColorOfCell(const VexaMapCell& cell, std::int32_t age);

class ClusterMap {
 public:
  ClusterMap();

  // Sets all six counters of all cells to 0.
  void Clear();
  // Counts one entry of `kind` in cell k (capped at 999); `system` also counts it
  // as a system entry.
  void Raise(int k, CellKind kind, bool system);
  // Takes one fragmented extent out of cell k, then re-derives the in-use flag.
  void LowerFragmented(int k, bool system);
  // Takes one contiguous file out of cell k, then re-derives the in-use flag.
  void LowerContiguous(int k, bool system);
  // Turns one fragmented extent of cell k into a partly contiguous one.
  void Reclassify(int k, bool system);

  // A copy of cell k (0..999).
  VexaMapCell Get(int k) const;
  // Copies of all cells, cell 0 first.
  std::vector<VexaMapCell> Snapshot() const;
  // Replaces cell k (0..999) with `cell` (restoring a saved map).
  void Set(int k, const VexaMapCell& cell);

 private:
  struct Cell {
    std::atomic<std::int32_t> inUse{0};
    std::atomic<std::int32_t> systemCount{0};
    std::atomic<std::int32_t> reserved{0};
    std::atomic<std::int32_t> fragmentedCount{0};
    std::atomic<std::int32_t> contiguousCount{0};
    std::atomic<std::int32_t> partlyCount{0};
  };
  static_assert(sizeof(std::atomic<std::int32_t>) == 4);
  static_assert(sizeof(Cell) == sizeof(VexaMapCell));

  void Lower(int k, bool system, std::atomic<std::int32_t> Cell::*counter);

  Cell cells_[kMapCells];
};

}  // namespace vexa
