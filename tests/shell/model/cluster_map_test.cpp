// The map display's model: geometry, cell pictures, changed cells and the selection.
#include "model/cluster_map.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace shell {
namespace {

TEST(ClusterMapTest, CellsSitOnTheFiftyByTwentyGrid) {
  EXPECT_EQ(CellPosition(0).x, 2);
  EXPECT_EQ(CellPosition(0).y, 26);
  EXPECT_EQ(CellPosition(49).x, 590);
  EXPECT_EQ(CellPosition(49).y, 26);
  EXPECT_EQ(CellPosition(50).x, 2);
  EXPECT_EQ(CellPosition(50).y, 38);
  EXPECT_EQ(CellPosition(999).x, 590);
  EXPECT_EQ(CellPosition(999).y, 254);
  // Every pixel of every cell maps back to it; gaps and the caption strip hit nothing.
  for (int i = 0; i < VEXA_MAP_CELLS; ++i) {
    const CellOrigin o = CellPosition(i);
    ASSERT_EQ(CellAt(o.x, o.y), i);
    ASSERT_EQ(CellAt(o.x + 9, o.y + 9), i);
    ASSERT_EQ(CellAt(o.x + 10, o.y), -1);
    ASSERT_EQ(CellAt(o.x, o.y + 11), -1);
  }
  EXPECT_EQ(CellAt(1, 30), -1);
  EXPECT_EQ(CellAt(10, 4), -1);
  EXPECT_EQ(CellAt(600, 30), -1);
  EXPECT_EQ(CellAt(10, 266), -1);
}

TEST(ClusterMapTest, CellPicturesHaveTheExactColours) {
  const std::uint32_t expected[] = {0x00000000, 0xFFE60000, 0xFF2E94BA, 0xFF919191, 0xFF31B346, 0xFFFF7200};
  for (int code = 0; code < 6; ++code) {
    const CellPicture p = MakeCellPicture(code);
    EXPECT_TRUE(std::all_of(p.begin(), p.end(), [&](std::uint32_t px) { return px == expected[code]; })) << code;
  }
  const CellPicture mark = MakeCellPicture(kSelectionMark);
  int transparent = 0;
  for (int row = 0; row < 10; ++row) {
    for (int column = 0; column < 10; ++column) {
      const std::uint32_t px = mark[static_cast<std::size_t>(row * 10 + column)];
      if (row == 0 || column == 0 || row == 9 || column == 9) {
        EXPECT_EQ(px, 0xFFE60000u) << row << "," << column;
      } else if (px == 0) {
        ++transparent;
      } else {
        EXPECT_EQ(px, 0xFFFFFFFFu) << row << "," << column;
      }
    }
  }
  EXPECT_EQ(transparent, 22);
  EXPECT_EQ(MakeCellPicture(9), MakeCellPicture(0));
}

TEST(ClusterMapTest, ApplyReportsOnlyChangedCells) {
  MapCells cells;
  ColorCopy copy{};
  EXPECT_TRUE(cells.Apply(copy).empty());
  copy[0] = 5;
  copy[999] = 4;
  copy[500] = 2;
  EXPECT_EQ(cells.Apply(copy), (std::vector<int>{0, 500, 999}));
  EXPECT_TRUE(cells.Apply(copy).empty());
  copy[500] = 0;
  EXPECT_EQ(cells.Apply(copy), (std::vector<int>{500}));
  EXPECT_EQ(cells.Code(999), 4);
  cells.Reset();
  EXPECT_EQ(cells.Code(999), 0);
}

TEST(ClusterMapTest, SelectionMarkFollowsClicksAndColourChanges) {
  MapCells cells;
  ColorCopy copy{};
  copy[3] = 5;
  copy[7] = 4;
  cells.Apply(copy);
  int previous = 0;
  EXPECT_FALSE(cells.Select(4, &previous));  // blank cell: nothing, no selection
  EXPECT_EQ(cells.Selected(), -1);

  ASSERT_TRUE(cells.Select(3, &previous));
  EXPECT_EQ(previous, -1);
  EXPECT_EQ(cells.Picture(3), kSelectionMark);

  EXPECT_FALSE(cells.Select(4, &previous));  // the earlier mark stays
  EXPECT_EQ(cells.Picture(3), kSelectionMark);

  ASSERT_TRUE(cells.Select(3, &previous));   // again: mark kept, nothing to restore
  EXPECT_EQ(previous, -1);
  EXPECT_EQ(cells.Picture(3), kSelectionMark);

  ASSERT_TRUE(cells.Select(7, &previous));
  EXPECT_EQ(previous, 3);
  EXPECT_EQ(cells.Picture(3), 5);
  EXPECT_EQ(cells.Picture(7), kSelectionMark);

  // A poll that changes the selected cell's code shows the new colour; it stays selected.
  copy[7] = 1;
  EXPECT_EQ(cells.Apply(copy), (std::vector<int>{7}));
  EXPECT_EQ(cells.Picture(7), 1);
  EXPECT_EQ(cells.Selected(), 7);
}

}  // namespace
}  // namespace shell
