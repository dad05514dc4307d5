// Cluster map cells, the cluster-to-cell rule and the colour rule.
#include "analysis/cluster_map.h"

namespace vexa {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

int Cap(int k) { return k > kMapCells - 1 ? kMapCells - 1 : (k < 0 ? 0 : k); }

void Add(std::atomic<std::int32_t>& counter, std::int32_t delta) {
  counter.store(counter.load(kRelaxed) + delta, kRelaxed);
}

}  // namespace

int CellOfCluster(std::uint64_t x, std::uint64_t clustersPerCell) {
  if (clustersPerCell == 0 || x == 0) return 0;
  const std::uint64_t q = x / clustersPerCell;
  const std::uint64_t r = x % clustersPerCell;
  const std::uint64_t cell = r > 0 ? q : q - 1;
  return cell > static_cast<std::uint64_t>(kMapCells - 1) ? kMapCells - 1 : static_cast<int>(cell);
}

std::uint64_t ClustersPerCell(std::uint64_t totalClusters) {
  const std::uint64_t q = totalClusters / kMapCells;
  const std::uint64_t r = totalClusters % kMapCells;
  if (q == 0) return 1;
  return r != 0 ? q + 1 : q;
}

std::int32_t ColorOfCell(const VexaMapCell& cell, std::int32_t age) {
  if (cell.inUse == 0) return VEXA_COLOR_EMPTY;
  if (cell.systemCount > 0) return VEXA_COLOR_SYSTEM;
  const std::int32_t m = cell.contiguousCount > cell.partlyCount ? cell.contiguousCount : cell.partlyCount;
  if (m >= cell.fragmentedCount) {
    return cell.partlyCount >= cell.contiguousCount ? VEXA_COLOR_PARTLY_CONTIGUOUS : VEXA_COLOR_CONTIGUOUS;
  }
  return age == 1 ? VEXA_COLOR_FRAGMENTED_RECENT : VEXA_COLOR_FRAGMENTED;
}

ClusterMap::ClusterMap() = default;

void ClusterMap::Clear() {
  for (Cell& c : cells_) {
    c.inUse.store(0, kRelaxed);
    c.systemCount.store(0, kRelaxed);
    c.reserved.store(0, kRelaxed);
    c.fragmentedCount.store(0, kRelaxed);
    c.contiguousCount.store(0, kRelaxed);
    c.partlyCount.store(0, kRelaxed);
  }
}

void ClusterMap::Raise(int k, CellKind kind, bool system) {
  Cell& c = cells_[Cap(k)];
  c.inUse.store(1, kRelaxed);
  if (system) Add(c.systemCount, 1);
  switch (kind) {
    case CellKind::Fragmented: Add(c.fragmentedCount, 1); break;
    case CellKind::Contiguous: Add(c.contiguousCount, 1); break;
    case CellKind::PartlyContiguous: Add(c.partlyCount, 1); break;
  }
}

void ClusterMap::Lower(int k, bool system, std::atomic<std::int32_t> Cell::*counter) {
  Cell& c = cells_[Cap(k)];
  if (system && c.systemCount.load(kRelaxed) > 0) Add(c.systemCount, -1);
  if ((c.*counter).load(kRelaxed) > 0) Add(c.*counter, -1);
  const bool any = c.systemCount.load(kRelaxed) != 0 || c.reserved.load(kRelaxed) != 0 ||
                   c.fragmentedCount.load(kRelaxed) != 0 || c.contiguousCount.load(kRelaxed) != 0 ||
                   c.partlyCount.load(kRelaxed) != 0;
  c.inUse.store(any ? 1 : 0, kRelaxed);
}

void ClusterMap::LowerFragmented(int k, bool system) { Lower(k, system, &Cell::fragmentedCount); }

void ClusterMap::LowerContiguous(int k, bool system) { Lower(k, system, &Cell::contiguousCount); }

void ClusterMap::Reclassify(int k, bool system) {
  LowerFragmented(k, system);
  Raise(k, CellKind::PartlyContiguous, system);
}

VexaMapCell ClusterMap::Get(int k) const {
  const Cell& c = cells_[Cap(k)];
  return {c.inUse.load(kRelaxed),           c.systemCount.load(kRelaxed),
          c.reserved.load(kRelaxed),        c.fragmentedCount.load(kRelaxed),
          c.contiguousCount.load(kRelaxed), c.partlyCount.load(kRelaxed)};
}

std::vector<VexaMapCell> ClusterMap::Snapshot() const {
  std::vector<VexaMapCell> cells(kMapCells);
  for (int k = 0; k < kMapCells; ++k) cells[k] = Get(k);
  return cells;
}

void ClusterMap::Set(int k, const VexaMapCell& cell) {
  Cell& c = cells_[Cap(k)];
  c.inUse.store(cell.inUse, kRelaxed);
  c.systemCount.store(cell.systemCount, kRelaxed);
  c.reserved.store(cell.reserved, kRelaxed);
  c.fragmentedCount.store(cell.fragmentedCount, kRelaxed);
  c.contiguousCount.store(cell.contiguousCount, kRelaxed);
  c.partlyCount.store(cell.partlyCount, kRelaxed);
}

}  // namespace vexa
