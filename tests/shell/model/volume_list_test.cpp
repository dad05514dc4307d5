// The volume list's texts and the drive-letter string.
#include "model/volume_list.h"

#include <gtest/gtest.h>

namespace shell {
namespace {

constexpr std::uint64_t kGb = 1024ULL * 1024 * 1024;

TEST(VolumeListTest, GbTextShortestFormWithTwoDecimals) {
  EXPECT_EQ(GbText(120 * kGb, '.'), "120 GB");
  EXPECT_EQ(GbText(kGb / 2, '.'), "0.5 GB");
  EXPECT_EQ(GbText(static_cast<std::uint64_t>(74.53 * kGb), '.'), "74.53 GB");
  EXPECT_EQ(GbText(static_cast<std::uint64_t>(74.53 * kGb), ','), "74,53 GB");
  EXPECT_EQ(GbText(0, '.'), "0 GB");
  EXPECT_EQ(GbText(static_cast<std::uint64_t>(1.05 * kGb), '.'), "1.05 GB");
  EXPECT_EQ(GbText(kGb / 100 * 99 + kGb / 100, '.'), "1 GB");  // rounds up to a whole
  // Exact halves of a hundredth go to the even neighbour: 0.125 -> 0.12, 0.375 -> 0.38.
  EXPECT_EQ(GbText(kGb / 8, '.'), "0.12 GB");
  EXPECT_EQ(GbText(kGb / 8 * 3, '.'), "0.38 GB");
  EXPECT_EQ(GbText(2048ULL * kGb, '.'), "2048 GB");
}

TEST(VolumeListTest, CaptionAndListedDrives) {
  EXPECT_EQ(VolumeCaption("System", 'C'), "System(C:)");
  EXPECT_EQ(VolumeCaption("", 'E'), "(E:)");
  EXPECT_TRUE(ListsDrive('C', 3));
  EXPECT_TRUE(ListsDrive('Z', 3));
  EXPECT_FALSE(ListsDrive('B', 3));  // the engine serves C to Z only
  EXPECT_FALSE(ListsDrive('A', 3));
  EXPECT_FALSE(ListsDrive('D', 5));  // CD-ROM
  EXPECT_FALSE(ListsDrive('E', 2));  // removable
  EXPECT_FALSE(ListsDrive('F', 4));  // network
}

TEST(VolumeListTest, DriveLetterStringTakesTickedRowsInListOrder) {
  EXPECT_EQ(DriveLetterString({{'C', true}, {'D', false}, {'E', true}}), "CE");
  EXPECT_EQ(DriveLetterString({{'C', false}}), "");
  EXPECT_EQ(DriveLetterString({}), "");
  std::vector<VolumeRow> many;
  for (int i = 0; i < 30; ++i) many.push_back({static_cast<char>('C' + i % 24), true});
  EXPECT_EQ(DriveLetterString(many).size(), 26u);
}

TEST(VolumeListTest, OnlyAPressOnTheBoxTogglesTheTick) {
  EXPECT_TRUE(HitsTickBox(kHitOnStateIcon));
  // Full-row select: a press on Size, Free Space or Type reports every "on item" bit.
  EXPECT_FALSE(HitsTickBox(kHitOnItem));
  EXPECT_FALSE(HitsTickBox(kHitOnLabel));
  EXPECT_FALSE(HitsTickBox(kHitOnIcon));
  EXPECT_FALSE(HitsTickBox(kHitOnStateIcon | kHitOnLabel));
  EXPECT_FALSE(HitsTickBox(0));
  // Bits outside the item (to the right of it, say) do not change the answer.
  EXPECT_TRUE(HitsTickBox(kHitOnStateIcon | 0x20));
}

}  // namespace
}  // namespace shell
