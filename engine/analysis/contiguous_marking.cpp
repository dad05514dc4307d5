// Marking files in one piece into map cells.
#include "analysis/contiguous_marking.h"

namespace vexa {

namespace {

// Visits every cell that a file in one piece covers: `length` clusters from logical
// cluster `lcn`. The covered count starts with the clusters of the first cell from
// the file on, with 3 in place of 1 in the FAT numbering.
template <typename Visit>
void ForEachCoveredCell(std::int64_t lcn, std::int64_t length, std::uint64_t clustersPerCell, bool ntfs,
                        Visit visit) {
  const std::uint64_t x = static_cast<std::uint64_t>(lcn) + (ntfs ? 0 : 2);
  int k = CellOfCluster(x, clustersPerCell);
  std::int64_t covered = static_cast<std::int64_t>((static_cast<std::uint64_t>(k) + 1) * clustersPerCell) - lcn +
                         (ntfs ? 1 : 3);
  // A file cannot be longer than its volume, which the map covers; the bound only
  // keeps a bogus extent length from spinning here.
  for (int visited = 0; visited < 4 * kMapCells; ++visited) {
    if (k > kMapCells - 1) k = kMapCells - 1;
    visit(k);
    if (covered >= length) return;
    ++k;
    covered += static_cast<std::int64_t>(clustersPerCell);
  }
}

}  // namespace

void MarkContiguousFile(ClusterMap& map, CellFileLists* lists, std::int64_t lcn, std::int64_t length,
                        std::uint64_t clustersPerCell, bool ntfs, bool system, std::string_view path) {
  ForEachCoveredCell(lcn, length, clustersPerCell, ntfs, [&](int k) {
    if (lists != nullptr) lists->Add(k, path);
    map.Raise(k, CellKind::Contiguous, system);
  });
}

void UnmarkContiguousFile(ClusterMap& map, std::int64_t lcn, std::int64_t length, std::uint64_t clustersPerCell,
                          bool ntfs, bool system) {
  ForEachCoveredCell(lcn, length, clustersPerCell, ntfs, [&](int k) { map.LowerContiguous(k, system); });
}

}  // namespace vexa
