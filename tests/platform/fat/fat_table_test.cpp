// The volume bitmap the FAT table keeps beside its entries: it must say exactly what a
// walk over the entries says, after any sequence of writes, for every entry width.
#include "platform/fat/fat_table.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace platform::fat {
namespace {

std::vector<std::uint8_t> BitsFromEntries(const FatTable& fat) {
  std::vector<std::uint8_t> bits((fat.ClusterCount() + 7) / 8, 0);
  for (std::uint32_t i = 0; i < fat.ClusterCount(); ++i) {
    if (fat.Get(i + 2) != 0) bits[i / 8] = static_cast<std::uint8_t>(bits[i / 8] | (1u << (i % 8)));
  }
  return bits;
}

std::vector<std::uint8_t> KeptBits(const FatTable& fat) {
  std::vector<std::uint8_t> bits((fat.ClusterCount() + 7) / 8, 0xAA);
  fat.CopyUsedBits(0, bits.size(), bits.data());
  return bits;
}

std::uint32_t TableBytes(FatType type, std::uint32_t clusters) {
  const std::uint32_t entries = clusters + 2;
  return type == FatType::kFat12 ? (entries * 3 + 1) / 2 : type == FatType::kFat16 ? entries * 2 : entries * 4;
}

TEST(FatTableTest, TheKeptBitmapFollowsEveryWriteInEachEntryWidth) {
  for (FatType type : {FatType::kFat12, FatType::kFat16, FatType::kFat32}) {
    const std::uint32_t clusters = 1001;  // not a multiple of 8: the last byte is partial
    std::vector<std::uint8_t> bytes(TableBytes(type, clusters), 0);
    std::mt19937 random(7);
    for (auto& b : bytes) b = (random() % 3 == 0) ? static_cast<std::uint8_t>(random()) : 0;
    FatTable fat(type, clusters, bytes);
    EXPECT_EQ(KeptBits(fat), BitsFromEntries(fat)) << "as loaded";

    for (int step = 0; step < 5000; ++step) {
      const std::uint32_t cluster = 2 + random() % clusters;
      const std::uint32_t value = random() % 2 == 0 ? 0 : random() % (fat.EndMark() + 1);
      fat.Set(cluster, value);
    }
    // Neighbours of FAT12 entries share bytes: freeing one must not free the other.
    fat.Set(10, 0x123);
    fat.Set(11, 0);
    EXPECT_NE(fat.Get(10), 0u);
    EXPECT_EQ(KeptBits(fat), BitsFromEntries(fat)) << "after writes, type " << static_cast<int>(type);
  }
}

TEST(FatTableTest, AFat32EntryWithOnlyItsReservedBitsSetIsFree) {
  std::vector<std::uint8_t> bytes(TableBytes(FatType::kFat32, 16), 0);
  bytes[2 * 4 + 3] = 0xF0;  // cluster 2: reserved bits only
  bytes[3 * 4 + 3] = 0xF0;  // cluster 3: reserved bits, then an end mark
  bytes[3 * 4] = 0xFF;
  FatTable fat(FatType::kFat32, 16, bytes);
  std::uint8_t bits[2] = {};
  fat.CopyUsedBits(0, 2, bits);
  EXPECT_EQ(bits[0], 0x02);
  fat.Set(3, 0x10000000);  // only reserved bits again: stored as free
  fat.CopyUsedBits(0, 2, bits);
  EXPECT_EQ(bits[0], 0x00);
  EXPECT_EQ(fat.Get(3), 0u);
}

TEST(FatTableTest, CopiesPastTheLastClusterAreZero) {
  std::vector<std::uint8_t> bytes(TableBytes(FatType::kFat16, 20), 0xFF);
  FatTable fat(FatType::kFat16, 20, bytes);
  std::vector<std::uint8_t> bits(6, 0x55);
  fat.CopyUsedBits(1, bits.size(), bits.data());
  EXPECT_EQ(bits, (std::vector<std::uint8_t>{0xFF, 0x0F, 0, 0, 0, 0}));
  fat.CopyUsedBits(9, 2, bits.data());
  EXPECT_EQ(bits[0], 0);
  EXPECT_EQ(bits[1], 0);
}

}  // namespace
}  // namespace platform::fat
