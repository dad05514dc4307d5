// Free-run scans: the documented cases and a differential check against a plain
// bit-by-bit scan on random bitmaps.
#include "analysis/free_runs.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace vexa {
namespace {

std::vector<std::pair<std::int64_t, std::int64_t>> RunsBitByBit(const std::vector<std::uint8_t>& bitmap,
                                                                std::int64_t total) {
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  std::int64_t open = -1;
  for (std::int64_t n = 0; n < total; ++n) {
    const bool used = (bitmap[n / 8] >> (n % 8)) & 1;
    if (!used && open < 0) open = n;
    if (used && open >= 0) {
      runs.emplace_back(open, n - open);
      open = -1;
    }
  }
  if (open >= 0) runs.emplace_back(open, total - open);
  return runs;
}

std::vector<std::pair<std::int64_t, std::int64_t>> RunsByWords(const std::vector<std::uint8_t>& bitmap,
                                                               std::int64_t total) {
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  ForEachFreeRun(bitmap.data(), total, [&](std::int64_t first, std::int64_t length) { runs.emplace_back(first, length); });
  return runs;
}

std::vector<std::uint8_t> Bitmap(std::int64_t total, const std::vector<std::pair<std::int64_t, std::int64_t>>& free) {
  std::vector<std::uint8_t> bitmap((total + 7) / 8, 0xFF);
  for (auto [first, length] : free) {
    for (std::int64_t c = first; c < first + length; ++c) bitmap[c / 8] &= static_cast<std::uint8_t>(~(1u << (c % 8)));
  }
  return bitmap;
}

TEST(FreeRuns, SixteenClusterVolumeWithOneRun) {
  const std::vector<std::uint8_t> bitmap = {0x07, 0xFF};
  FreeRunMap map;
  BuildFreeRunMap(bitmap.data(), 16, map);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.begin()->first, 5);
  EXPECT_EQ(map.begin()->second, 3);
}

TEST(FreeRuns, EqualLengthsKeepTheRunNearestTheStart) {
  const auto bitmap = Bitmap(100, {{10, 4}, {50, 4}, {70, 9}});
  FreeRunMap map;
  BuildFreeRunMap(bitmap.data(), 100, map);
  EXPECT_EQ(map, (FreeRunMap{{4, 10}, {9, 70}}));
  EXPECT_EQ(LargestFreeRun(map), 9);
  FreeRunsByStart byStart;
  BuildFreeRunsByStart(bitmap.data(), 100, byStart);
  EXPECT_EQ(byStart, (FreeRunsByStart{{10, 4}, {50, 4}, {70, 9}}));
}

TEST(FreeRuns, RunAtTheEndStopsAtTheTotalClusters) {
  // 70 clusters: the last byte holds bits past the end that must not count.
  auto bitmap = Bitmap(70, {{60, 10}});
  bitmap.back() &= 0x3F;  // bits 70 and 71 clear, beyond the volume
  FreeRunMap map;
  BuildFreeRunMap(bitmap.data(), 70, map);
  EXPECT_EQ(map, (FreeRunMap{{10, 60}}));
}

TEST(FreeRuns, FullVolumeHasNoRun) {
  const std::vector<std::uint8_t> bitmap(16, 0xFF);
  FreeRunMap map;
  BuildFreeRunMap(bitmap.data(), 128, map);
  FreeRunsByStart byStart;
  BuildFreeRunsByStart(bitmap.data(), 128, byStart);
  EXPECT_TRUE(map.empty());
  EXPECT_TRUE(byStart.empty());
  EXPECT_EQ(LargestFreeRun(map), 0);
}

TEST(FreeRuns, WordScanMatchesBitByBitOnRandomBitmaps) {
  std::mt19937_64 random(20261207);
  for (int round = 0; round < 300; ++round) {
    const std::int64_t total = 1 + static_cast<std::int64_t>(random() % 5000);
    std::vector<std::uint8_t> bitmap((total + 7) / 8);
    // Mix densities and long stretches so whole-word skips and word edges are hit.
    const int style = round % 4;
    for (auto& byte : bitmap) {
      const auto r = random();
      if (style == 0) byte = static_cast<std::uint8_t>(r);
      if (style == 1) byte = (r % 16 == 0) ? static_cast<std::uint8_t>(r >> 8) : 0x00;
      if (style == 2) byte = (r % 16 == 0) ? static_cast<std::uint8_t>(r >> 8) : 0xFF;
      if (style == 3) byte = (r % 3 == 0) ? 0x00 : (r % 3 == 1 ? 0xFF : static_cast<std::uint8_t>(r >> 8));
    }
    ASSERT_EQ(RunsByWords(bitmap, total), RunsBitByBit(bitmap, total)) << "round " << round << " total " << total;
  }
}

}  // namespace
}  // namespace vexa
