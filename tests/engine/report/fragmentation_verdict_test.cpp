// Tests for the fragmentation verdict and the volume's fragmentation text.
#include "report/fragmentation_verdict.h"

#include <gtest/gtest.h>

#include <vector>

namespace vexa::report {
namespace {

constexpr VexaMapCell kFragmentedCell{1, 0, 0, 3, 1, 2};

std::vector<VexaMapCell> MapWithFragmentedCells(int count) {
  std::vector<VexaMapCell> cells(VEXA_MAP_CELLS, VexaMapCell{1, 0, 0, 0, 4, 0});
  for (int i = 0; i < count; ++i) cells[static_cast<std::size_t>(i * 7 % VEXA_MAP_CELLS)] = kFragmentedCell;
  return cells;
}

TEST(CountFragmentedCells, CountsOnlyCellsPaintedAsFragmented) {
  std::vector<VexaMapCell> cells(VEXA_MAP_CELLS, VexaMapCell{});
  cells[0] = kFragmentedCell;
  cells[1] = {0, 0, 0, 3, 1, 2};   // not in use
  cells[2] = {1, 1, 0, 3, 1, 2};   // holds a system entry
  cells[3] = {1, 0, 0, 3, 3, 2};   // as many whole files as fragmented extents
  cells[4] = {1, 0, 0, 3, 1, 3};   // as many partly contiguous extents
  cells[5] = {2, 0, 9, 1, 0, 0};   // in-use above 1 still counts, reserved is ignored
  cells[6] = {1, 0, 0, 0, -1, -1}; // signed comparison: 0 beats -1
  cells[7] = {-1, 0, 0, 5, 0, 0};  // negative in-use flag
  cells[999] = kFragmentedCell;
  EXPECT_EQ(CountFragmentedCells(cells.data()), 4);
  EXPECT_EQ(CountFragmentedCells(nullptr), 0);
}

TEST(FragmentationPercentText, TwoDecimalsOfTheCellShare) {
  EXPECT_EQ(FragmentationPercentText(0), "0.00%");
  EXPECT_EQ(FragmentationPercentText(1), "0.10%");
  EXPECT_EQ(FragmentationPercentText(7), "0.70%");
  EXPECT_EQ(FragmentationPercentText(34), "3.40%");
  EXPECT_EQ(FragmentationPercentText(123), "12.30%");
  EXPECT_EQ(FragmentationPercentText(999), "99.90%");
  EXPECT_EQ(FragmentationPercentText(1000), "100.00%");
}

TEST(JudgeFragmentation, RecentDefragmentationNeedsNone) {
  const auto cells = MapWithFragmentedCells(500);
  const FragmentationVerdict verdict = JudgeFragmentation(1, cells.data(), false, 40);
  EXPECT_EQ(verdict.verdict, "No need to defrag this volume.");
  EXPECT_EQ(verdict.percentText, "0.00%");
}

TEST(JudgeFragmentation, ShowsThePercentage) {
  const auto cells = MapWithFragmentedCells(123);
  for (int age : {0, 2}) {
    const FragmentationVerdict verdict = JudgeFragmentation(age, cells.data(), false, 1);
    EXPECT_EQ(verdict.verdict, "Percentage of fragments is 12.30%");
    EXPECT_EQ(verdict.percentText, "12.30%");
  }
}

TEST(JudgeFragmentation, LowRules) {
  const auto none = MapWithFragmentedCells(0);
  const auto some = MapWithFragmentedCells(34);

  // No fragmented cell but rows listed: low.
  FragmentationVerdict verdict = JudgeFragmentation(0, none.data(), false, 3);
  EXPECT_EQ(verdict.verdict, "Percentage of fragments is low");
  EXPECT_EQ(verdict.percentText, "Low");

  // No big-fragment file at all: low whatever the cells say.
  verdict = JudgeFragmentation(2, some.data(), true, 0);
  EXPECT_EQ(verdict.verdict, "Percentage of fragments is low");
  EXPECT_EQ(verdict.percentText, "Low");

  // No fragmented cell, no rows, yet big-fragment files counted: the plain 0.00%.
  verdict = JudgeFragmentation(0, none.data(), true, 2);
  EXPECT_EQ(verdict.verdict, "Percentage of fragments is 0.00%");
  EXPECT_EQ(verdict.percentText, "0.00%");
}

}  // namespace
}  // namespace vexa::report
