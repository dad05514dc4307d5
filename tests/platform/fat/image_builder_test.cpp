// The image builder: images of every FAT type pass fsck.fat, and mtools finds each
// file with the content, name, attributes and clusters it was given.
#include "platform/fat_image_builder.h"

#include <gtest/gtest.h>

#include "fat_tools.h"

namespace platform::fat {
namespace {

struct Shape {
  FatType type;
  std::uint64_t size;
  std::uint32_t cluster;
};

class ImageBuilderTest : public testing::TestWithParam<Shape> {};

TEST_P(ImageBuilderTest, BuildsImagesThatFsckAndMtoolsAccept) {
  FAT_REQUIRE_TOOLS();
  const Shape s = GetParam();
  std::string error;
  auto b = FatImageBuilder::Create({s.type, s.size, s.cluster, "Built"}, &error);
  ASSERT_NE(b, nullptr) << error;
  const std::uint32_t bpc = b->BytesPerCluster();
  const std::uint32_t base = s.type == FatType::kFat32 ? 1 : 0;  // logical 0 is the FAT32 root
  const std::string frag = fattest::RandomBytes(bpc * 4 - 1, 5);
  const std::string plain = fattest::RandomBytes(bpc + 1, 6);
  ASSERT_TRUE(b->AddFolder("Projects", {{base + 40, 1}}));
  ASSERT_TRUE(b->AddFolder("Projects/deep"));
  ASSERT_TRUE(b->AddFile("Projects/deep/fragmented data.bin", frag,
                         {{base + 30, 1}, {base + 10, 2}, {base + 50, 1}}));
  ASSERT_TRUE(b->AddFile("readme.txt", plain, {}, kFatReadOnly | kFatArchive));
  ASSERT_TRUE(b->AddFile("EMPTY", ""));
  // Enough entries to need a second cluster in a folder without given runs.
  for (int i = 0; i < static_cast<int>(bpc / 32) + 2; ++i) {
    ASSERT_TRUE(b->AddFile("Projects/deep/file number " + std::to_string(i) + ".txt", std::to_string(i)));
  }
  ASSERT_TRUE(b->MarkBad(base + 60));
  fattest::ScratchDir dir;
  const std::string image = dir / "built.img";
  ASSERT_TRUE(b->Save(image)) << b->Error();

  std::string out;
  EXPECT_EQ(fattest::Run("fsck.fat -n -v " + fattest::Quote(image), &out), 0) << out;
  const char* bits = s.type == FatType::kFat12 ? "12" : s.type == FatType::kFat16 ? "16" : "32";
  EXPECT_NE(out.find(std::string(bits) + " bit entries"), std::string::npos) << out;
  EXPECT_EQ(fattest::MtoolsRuns(image, "Projects/deep/fragmented data.bin"),
            (fattest::Runs{{base + 30, 1}, {base + 10, 2}, {base + 50, 1}}));
  EXPECT_EQ(fattest::MtoolsRuns(image, "Projects"), (fattest::Runs{{base + 40, 1}}));
  EXPECT_EQ(fattest::Mtype(image, "Projects/deep/fragmented data.bin"), frag);
  EXPECT_EQ(fattest::Mtype(image, "readme.txt"), plain);
  EXPECT_EQ(fattest::Mtype(image, "Projects/deep/file number 7.txt"), "7");
  const auto paths = fattest::MtoolsPaths(image);
  EXPECT_EQ(paths.size(), 5u + bpc / 32 + 2);
  EXPECT_NE(std::find(paths.begin(), paths.end(), "readme.txt"), paths.end());
  fattest::Run("mattrib -i " + fattest::Quote(image) + " " + fattest::Quote("::/readme.txt"), &out);
  EXPECT_NE(out.find("R"), std::string::npos) << out;
  fattest::Run("mlabel -s -i " + fattest::Quote(image) + " ::", &out);
  EXPECT_NE(out.find("BUILT"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImageBuilderTest,
                         testing::Values(Shape{FatType::kFat12, 1440u << 10, 512}, Shape{FatType::kFat12, 4u << 20, 2048},
                                         Shape{FatType::kFat16, 9u << 20, 2048}, Shape{FatType::kFat16, 64u << 20, 8192},
                                         Shape{FatType::kFat32, 34u << 20, 512}, Shape{FatType::kFat32, 300u << 20, 4096}),
                         [](const testing::TestParamInfo<Shape>& info) {
                           return std::string(FatTypeName(info.param.type)) + "_" +
                                  std::to_string(info.param.size >> 10) + "k_" + std::to_string(info.param.cluster);
                         });

TEST(ImageBuilderErrorsTest, RefusesWhatCannotBeBuilt) {
  std::string error;
  EXPECT_EQ(FatImageBuilder::Create({FatType::kFat16, 1u << 20, 512, ""}, &error), nullptr) << "too few clusters";
  EXPECT_NE(error.find("clusters"), std::string::npos);
  EXPECT_EQ(FatImageBuilder::Create({FatType::kFat32, 8u << 20, 512, ""}, &error), nullptr);
  EXPECT_EQ(FatImageBuilder::Create({FatType::kFat12, 1u << 20, 1000, ""}, &error), nullptr) << "cluster size";
  EXPECT_EQ(FatImageBuilder::Create({FatType::kFat12, 1u << 20, 512, "TWELVE CHARS"}, &error), nullptr);

  auto b = FatImageBuilder::Create({FatType::kFat12, 1u << 20, 512, ""}, &error);
  ASSERT_NE(b, nullptr) << error;
  EXPECT_TRUE(b->AddFile("a.txt", std::string(1024, 'a'), {{5, 2}}));
  EXPECT_FALSE(b->AddFile("b.txt", std::string(1024, 'b'), {{6, 2}})) << "cluster 6 is a.txt's";
  EXPECT_FALSE(b->AddFile("A.TXT", "x")) << "same name in another case";
  EXPECT_FALSE(b->AddFile("c.txt", std::string(1024, 'c'), {{20, 1}})) << "one cluster short";
  EXPECT_FALSE(b->AddFile("d.txt", "d", {{b->ClusterCount(), 1}})) << "past the end";
  EXPECT_FALSE(b->AddFile("missing/e.txt", "e"));
  EXPECT_FALSE(b->AddFile("bad:name", "e"));
  EXPECT_TRUE(b->AddFolder("small", {{30, 1}}));
  for (int i = 0; i < 15; ++i) ASSERT_TRUE(b->AddFile("small/F" + std::to_string(i), ""));
  std::vector<std::uint8_t> image;
  EXPECT_FALSE(b->Build(&image)) << "17 entries do not fit one 512-byte cluster";
  EXPECT_NE(b->Error().find("outgrows"), std::string::npos);
}

TEST(ImageBuilderErrorsTest, SameInputGivesTheSameBytes) {
  auto make = [] {
    auto b = FatImageBuilder::Create({FatType::kFat16, 9u << 20, 2048, "SAME"}, nullptr);
    EXPECT_TRUE(b->AddFile("Long name one.txt", "1"));
    EXPECT_TRUE(b->AddFile("Long name two.txt", "2", {{100, 1}}));
    std::vector<std::uint8_t> image;
    EXPECT_TRUE(b->Build(&image));
    return image;
  };
  EXPECT_TRUE(make() == make());
}

}  // namespace
}  // namespace platform::fat
