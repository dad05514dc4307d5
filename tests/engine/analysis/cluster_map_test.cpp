// Cell geometry, the cluster-to-cell rule, cell updates, the colour rule and the
// cell file lists.
#include "analysis/cluster_map.h"

#include <gtest/gtest.h>

#include "analysis/cell_file_lists.h"

namespace vexa {
namespace {

TEST(ClusterMapGeometry, SmallVolumeHasOneClusterPerCell) {
  const auto perCell = ClustersPerCell(999);
  EXPECT_EQ(perCell, 1u);
  EXPECT_EQ(CellOfCluster(1, perCell), 0);
  EXPECT_EQ(CellOfCluster(998, perCell), 997);
  EXPECT_EQ(CellOfCluster(0, perCell), 0);  // never cell -1
}

TEST(ClusterMapGeometry, RemainderAddsOneClusterPerCell) {
  const auto perCell = ClustersPerCell(1000001);
  EXPECT_EQ(perCell, 1001u);
  EXPECT_EQ(CellOfCluster(1001, perCell), 0);
  EXPECT_EQ(CellOfCluster(1002, perCell), 1);
  EXPECT_EQ(ClustersPerCell(2000000), 2000u);
}

TEST(ClusterMapGeometry, CellsPastTheMapAreCellNineHundredNinetyNine) {
  EXPECT_EQ(CellOfCluster(5000, 1), 999);
  // Cluster numbers beyond 32 bits keep their cell.
  const std::uint64_t perCell = 5000000;
  EXPECT_EQ(CellOfCluster(std::uint64_t{3000000000}, perCell), 599);
}

VexaMapCell Cell(std::int32_t system, std::int32_t fragmented, std::int32_t contiguous, std::int32_t partly) {
  return {1, system, 0, fragmented, contiguous, partly};
}

TEST(ClusterMapColour, ColourRule) {
  EXPECT_EQ(ColorOfCell(Cell(0, 3, 3, 0), 2), VEXA_COLOR_CONTIGUOUS);
  EXPECT_EQ(ColorOfCell(Cell(0, 3, 3, 3), 2), VEXA_COLOR_PARTLY_CONTIGUOUS);
  EXPECT_EQ(ColorOfCell(Cell(0, 4, 3, 3), 2), VEXA_COLOR_FRAGMENTED);
  EXPECT_EQ(ColorOfCell(Cell(0, 4, 3, 3), 1), VEXA_COLOR_FRAGMENTED_RECENT);
  EXPECT_EQ(ColorOfCell(Cell(0, 4, 3, 3), 0), VEXA_COLOR_FRAGMENTED);
  EXPECT_EQ(ColorOfCell(Cell(1, 10, 0, 0), 2), VEXA_COLOR_SYSTEM);
  EXPECT_EQ(ColorOfCell(Cell(0, 0, 0, 0), 2), VEXA_COLOR_PARTLY_CONTIGUOUS);  // old diskdata
  EXPECT_EQ(ColorOfCell(VexaMapCell{0, 5, 0, 5, 5, 5}, 2), VEXA_COLOR_EMPTY);
}

TEST(ClusterMapUpdates, RaiseLowerAndReclassify) {
  ClusterMap map;
  map.Raise(1200, CellKind::Fragmented, true);  // capped at 999
  VexaMapCell c = map.Get(999);
  EXPECT_EQ(c.inUse, 1);
  EXPECT_EQ(c.systemCount, 1);
  EXPECT_EQ(c.fragmentedCount, 1);

  map.Reclassify(999, false);
  c = map.Get(999);
  EXPECT_EQ(c.fragmentedCount, 0);
  EXPECT_EQ(c.partlyCount, 1);
  EXPECT_EQ(c.systemCount, 1);

  map.Raise(5, CellKind::Contiguous, false);
  map.LowerContiguous(5, false);
  EXPECT_EQ(map.Get(5).inUse, 0);
  map.LowerContiguous(5, true);  // never below zero
  EXPECT_EQ(map.Get(5).contiguousCount, 0);
  EXPECT_EQ(map.Get(5).systemCount, 0);

  map.Set(7, VexaMapCell{0, 0, 2, 1, 0, 0});
  map.LowerFragmented(7, false);
  EXPECT_EQ(map.Get(7).inUse, 1) << "the reserved field still counts as in use";

  map.Clear();
  for (int k = 0; k < kMapCells; ++k) ASSERT_EQ(map.Get(k).inUse + map.Get(k).reserved + map.Get(k).systemCount, 0);
}

TEST(CellFileListsTest, ContainsIgnoresCaseAndLongPathsStayWhole) {
  CellFileLists lists;
  lists.Add(3, "C:\\Data\\File.TXT");
  EXPECT_TRUE(lists.Contains(3, "c:\\data\\file.txt"));
  EXPECT_FALSE(lists.Contains(4, "c:\\data\\file.txt"));
  // Two paths alike in their first 499 characters stay two different files.
  const std::string longPath = "C:\\" + std::string(600, 'x') + "\\a.bin";
  const std::string sibling = "C:\\" + std::string(600, 'x') + "\\b.bin";
  lists.Add(5, longPath);
  EXPECT_EQ(lists.List(5).at(0), longPath);
  EXPECT_FALSE(lists.Contains(5, sibling));
  EXPECT_TRUE(lists.List(-1).empty());
  EXPECT_TRUE(lists.List(1000).empty());
}

}  // namespace
}  // namespace vexa
