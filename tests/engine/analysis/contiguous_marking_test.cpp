// Marking files in one piece into map cells: cell coverage in both numberings, the
// file lists, and a file running past the map.
#include "analysis/contiguous_marking.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexa {
namespace {

TEST(ClusterMapMarking, ContiguousFileCoversFourCellsOnNtfs) {
  ClusterMap map;
  CellFileLists lists;
  MarkContiguousFile(map, &lists, 1000, 2500, 1000, /*ntfs=*/true, false, "C:\\big.bin");
  // Cell 0 holds cluster 1000 alone; cells 1 to 3 hold the rest.
  for (int k = 0; k <= 3; ++k) {
    EXPECT_EQ(map.Get(k).contiguousCount, 1) << k;
    EXPECT_EQ(lists.List(k), std::vector<std::string>{"C:\\big.bin"}) << k;
  }
  EXPECT_EQ(map.Get(4).inUse, 0);
}

TEST(ClusterMapMarking, FatNumberingShiftsByTwo) {
  ClusterMap map;
  MarkContiguousFile(map, nullptr, 2500, 5, 1000, /*ntfs=*/false, false, "C:\\a");
  EXPECT_EQ(map.Get(2).contiguousCount, 1);
  EXPECT_EQ(map.Get(3).inUse, 0);
  // Logical cluster 998 is cluster number 1000, the last of cell 0.
  ClusterMap shifted;
  MarkContiguousFile(shifted, nullptr, 998, 1, 1000, false, false, "C:\\b");
  EXPECT_EQ(shifted.Get(0).contiguousCount, 1);
}

TEST(ClusterMapMarking, FileRunningPastTheMapKeepsMarkingTheLastCell) {
  ClusterMap map;
  MarkContiguousFile(map, nullptr, 995, 20, 1, true, true, "C:\\tail");
  EXPECT_EQ(map.Get(994).contiguousCount, 1);
  EXPECT_GT(map.Get(999).contiguousCount, 1);
  EXPECT_EQ(map.Get(999).systemCount, map.Get(999).contiguousCount);
}

}  // namespace
}  // namespace vexa
