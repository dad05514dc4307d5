// Boot sectors and BPBs: invalid values are refused, layouts FAT drivers read
// differently open read-only, and short or missing images get a clear status.
#include <gtest/gtest.h>

#include <filesystem>

#include "fat_image_patch.h"
#include "fat_tools.h"
#include "platform/fat_image_builder.h"
#include "platform/fat_provider.h"

namespace platform::fat {
namespace {

std::vector<std::uint8_t> Fat16Image() {
  auto b = FatImageBuilder::Create({FatType::kFat16, 9u << 20, 2048, ""}, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_TRUE(b->AddFile("A.BIN", "abc"));
  std::vector<std::uint8_t> image;
  EXPECT_TRUE(b->Build(&image));
  return image;
}

FatOpenStatus StatusOf(std::vector<std::uint8_t> image) {
  FatOpenStatus status = FatOpenStatus::kOk;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(std::move(image)), &status);
  EXPECT_EQ(m != nullptr, FatOpened(status));
  return status;
}

TEST(BootSectorTest, RefusesInvalidBpbValues) {
  const auto good = Fat16Image();
  ASSERT_EQ(StatusOf(good), FatOpenStatus::kOk);
  struct Patch {
    const char* what;
    std::size_t offset;
    int width;
    std::uint32_t value;
  };
  const Patch patches[] = {
      {"bytes per sector 0", 11, 2, 0},         {"bytes per sector 300", 11, 2, 300},
      {"3 sectors per cluster", 13, 1, 3},      {"0 sectors per cluster", 13, 1, 0},
      {"no reserved sectors", 14, 2, 0},        {"no FATs", 16, 1, 0},
      {"no root entries on FAT16", 17, 2, 0},   {"media byte 0x12", 21, 1, 0x12},
      {"FAT too small", 22, 2, 2},              {"no sectors at all", 19, 2, 0},
      {"volume smaller than its FATs", 19, 2, 40},
  };
  for (const Patch& p : patches) {
    auto image = good;
    if (p.width == 1) image[p.offset] = static_cast<std::uint8_t>(p.value);
    else fattest::Put16(image, p.offset, p.value);
    if (std::string(p.what) == "no sectors at all") fattest::Put32(image, 32, 0);
    EXPECT_EQ(StatusOf(image), FatOpenStatus::kBadBootSector) << p.what;
  }
  EXPECT_EQ(StatusOf(std::vector<std::uint8_t>(100, 0)), FatOpenStatus::kBadBootSector) << "shorter than a sector";
  EXPECT_EQ(StatusOf(std::vector<std::uint8_t>(1 << 16, 0)), FatOpenStatus::kBadBootSector) << "zeros";
  EXPECT_EQ(StatusOf(std::vector<std::uint8_t>(good.begin(), good.begin() + good.size() / 2)),
            FatOpenStatus::kTruncated);
}

TEST(BootSectorTest, Fat32BpbValuesAreChecked) {
  auto b = FatImageBuilder::Create({FatType::kFat32, 34u << 20, 512, ""}, nullptr);
  ASSERT_NE(b, nullptr);
  std::vector<std::uint8_t> good;
  ASSERT_TRUE(b->Build(&good));
  ASSERT_EQ(StatusOf(good), FatOpenStatus::kOk);
  auto image = good;
  fattest::Put32(image, 44, 0x00FFFFFF);  // root cluster past the end
  EXPECT_EQ(StatusOf(image), FatOpenStatus::kBadBootSector);
  image = good;
  fattest::Put16(image, 42, 1);  // file-system version 1.0
  EXPECT_EQ(StatusOf(image), FatOpenStatus::kBadBootSector);
  image = good;
  fattest::Put16(image, 40, 0x81);  // mirroring off, FAT 1 active: other tools read FAT 0
  EXPECT_EQ(StatusOf(image), FatOpenStatus::kReadOnlyLayout);
  image = good;
  fattest::Put16(image, 40, 0x85);  // active FAT past the copies
  EXPECT_EQ(StatusOf(image), FatOpenStatus::kBadBootSector);
}

TEST(BootSectorTest, ClusterCountsAtTheFat12Fat16BoundaryOpenReadOnly) {
  // The FAT16 image keeps its FAT size; only the sector count changes the cluster count.
  const auto good = Fat16Image();
  const std::uint32_t meta = 1 + 2 * fattest::Get16(good, 22) + 32;
  for (std::uint32_t clusters : {4085u, 4086u, 4087u}) {
    auto image = good;
    fattest::Put16(image, 19, meta + clusters * 4);
    EXPECT_EQ(StatusOf(image), clusters <= 4086 ? FatOpenStatus::kReadOnlyLayout : FatOpenStatus::kOk) << clusters;
  }
}

TEST(BootSectorTest, Fat32LayoutWithFewClustersOpensReadOnly) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "small32.img";
  std::string out;
  ASSERT_EQ(fattest::Run("mkfs.fat -C -F 32 -s 1 " + fattest::Quote(image) + " 20000", &out), 0) << out;
  FatOpenStatus status;
  auto m = OpenFatVolume('C', image, &status);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyLayout);
  char fs[16];
  ASSERT_TRUE(m->VolumeInformation('C', nullptr, 0, fs, sizeof fs));
  EXPECT_STREQ(fs, "FAT32");
}

TEST(BootSectorTest, MissingAndUnwritableImagesGetTheirStatus) {
  fattest::ScratchDir dir;
  FatOpenStatus status;
  EXPECT_EQ(OpenFatVolume('C', dir / "none.img", &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kNotFound);
  EXPECT_EQ(OpenFatVolume('C', dir.Path(), &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kFolder) << "a folder is no image";
  EXPECT_EQ(OpenFatVolume('C', "/dev/null", &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kNotImageFile) << "a character device is no image";

  // An image file without write permission is only read, even by a user (root) whom the
  // system would let write it.
  const auto bytes = Fat16Image();
  const std::string protectedImage = dir / "protected.img";
  fattest::WriteAll(protectedImage, std::string(bytes.begin(), bytes.end()));
  std::filesystem::permissions(protectedImage, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  auto shielded = OpenFatVolume('C', protectedImage, &status);
  ASSERT_NE(shielded, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyNoWriteAccess);

  const auto image = Fat16Image();
  auto readOnly = std::make_unique<MemoryFatIo>(image, false);
  auto m = OpenFatVolume('C', std::move(readOnly), &status);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyNoWriteAccess);
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\A.BIN");
  EXPECT_EQ(m->MoveFile(v, {a, 0, 100, 1}), kErrorWriteProtect);
}

}  // namespace
}  // namespace platform::fat
