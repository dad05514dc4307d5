// Whole jobs through the exports on real FAT images: images made by mkfs.fat and
// filled by mtools, and images laid out cluster by cluster by the image builder.
// After every job fsck.fat -n is clean, every file's content is unchanged, and the
// files that could be joined are in one piece.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fat/fat_tools.h"
#include "platform/fat_image_builder.h"
#include "platform/fat_provider.h"
#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using fattest::Runs;

// The engine started on one FAT image served as drive C, with the delivered data
// files in its working folder.
class FatJob {
 public:
  explicit FatJob(const std::string& image) {
    for (const auto& entry : std::filesystem::directory_iterator(VEXA_DATA_DIR)) {
      if (entry.path().filename() == "CMakeLists.txt") continue;
      std::filesystem::copy_file(entry.path(), dir_.Path() + entry.path().filename().string());
    }
    platform::fat::FatOpenStatus status{};
    machine_ = platform::fat::OpenFatVolume('C', image, &status);
    if (machine_ == nullptr) return;
    gJobWaitMs = 2;
    Startup(*machine_, dir_.Path());
  }
  ~FatJob() {
    if (machine_ != nullptr) Shutdown();
  }
  bool Ok() const { return machine_ != nullptr; }
  std::string Page(const std::string& name) const { return test::ReadFile(dir_.File(name)); }

 private:
  test::TempDir dir_;
  std::unique_ptr<platform::Machine> machine_;
};

// Every file's runs, as a fresh provider sees the image.
std::map<std::string, fattest::SeenFile> FilesOf(const std::string& image) {
  platform::fat::FatOpenStatus status{};
  auto machine = platform::fat::OpenFatVolume('C', image, &status);
  EXPECT_NE(machine, nullptr);
  if (machine == nullptr) return {};
  std::map<std::string, fattest::SeenFile> files;
  for (auto& [path, seen] : fattest::Walk(*machine, 'C')) {
    if (!path.empty() && path.back() != '/') files[path] = seen;
  }
  return files;
}

bool Joinable(const Runs& runs) {
  if (runs.size() < 2) return false;
  for (std::size_t i = 1; i < runs.size(); ++i) {
    if (runs[i - 1].first + runs[i - 1].second == runs[i].first) return false;
  }
  return true;
}

std::int64_t Clusters(const Runs& runs) {
  std::int64_t total = 0;
  for (const auto& r : runs) total += r.second;
  return total;
}

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
};

class FatDefragJobTest : public testing::TestWithParam<Geometry> {};

TEST_P(FatDefragJobTest, QuickJobJoinsFragmentedFilesOnMtoolsImages) {
  FAT_REQUIRE_TOOLS();
  const Geometry g = GetParam();
  fattest::ScratchDir scratch;
  const std::string image = scratch / "volume.img";
  fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster);
  fattest::FillWithMtools(scratch, image, 512u * g.sectorsPerCluster);
  const auto contentsBefore = fattest::MtoolsContents(image);
  const auto before = FilesOf(image);
  int joinable = 0;
  for (const auto& [path, seen] : before) joinable += Joinable(seen.runs) ? 1 : 0;
  ASSERT_GT(joinable, 0) << "the fill must leave fragmented files";
  {
    FatJob job(image);
    ASSERT_TRUE(job.Ok());
    EXPECT_EQ(DLL_DefragVolume("C"), 1);
    EXPECT_NE(job.Page("defragreport1.html").find("Fragmented Big File.data"), std::string::npos);
  }
  std::string fsck;
  EXPECT_EQ(fattest::Fsck(image, &fsck), 0) << fsck;
  EXPECT_EQ(fattest::MtoolsContents(image), contentsBefore);
  const auto after = FilesOf(image);
  for (const auto& [path, seen] : before) {
    ASSERT_TRUE(after.count(path)) << path;
    if (Joinable(seen.runs)) {
      EXPECT_EQ(after.at(path).runs.size(), 1u) << path;
      EXPECT_EQ(Clusters(after.at(path).runs), Clusters(seen.runs)) << path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, FatDefragJobTest,
                         // A defragmentation needs 50 MiB free, so the images are 100 MiB.
                         testing::Values(Geometry{12, 102400, 64}, Geometry{16, 102400, 4},
                                         Geometry{32, 102400, 1}),
                         [](const testing::TestParamInfo<Geometry>& info) {
                           return "fat" + std::to_string(info.param.fatBits);
                         });

// A FAT32 volume laid out by the image builder: badly fragmented files (more than ten
// pieces each) after a hole at the start of the data area, and files in one piece far
// out, so both passes have work.
std::string BuildScatteredImage(const fattest::ScratchDir& scratch, std::map<std::string, std::string>* contents) {
  platform::fat::FatImageOptions options;
  options.type = platform::fat::FatType::kFat32;
  options.sizeBytes = 64ull * 1024 * 1024;  // a defragmentation needs 50 MiB free
  options.bytesPerCluster = 512;
  options.label = "SCATTER";
  std::string error;
  auto builder = platform::fat::FatImageBuilder::Create(options, &error);
  EXPECT_NE(builder, nullptr) << error;
  if (builder == nullptr) return {};
  EXPECT_TRUE(builder->AddFolder("Data"));
  for (int f = 0; f < 6; ++f) {
    std::vector<platform::fat::ClusterRun> runs;
    for (int piece = 0; piece < 14; ++piece) runs.push_back({static_cast<std::uint32_t>(5000 + f * 300 + piece * 20), 2});
    const std::string content = fattest::RandomBytes(28 * 512 - 100, 40 + f);
    const std::string path = "Data/scattered" + std::to_string(f) + ".bin";
    EXPECT_TRUE(builder->AddFile(path, content, runs)) << builder->Error();
    (*contents)[path] = content;
  }
  for (int f = 0; f < 4; ++f) {
    const std::string content = fattest::RandomBytes(40 * 512, 70 + f);
    const std::string path = "whole" + std::to_string(f) + ".bin";
    EXPECT_TRUE(builder->AddFile(path, content, {{static_cast<std::uint32_t>(20000 + f * 1000), 40}}));
    (*contents)[path] = content;
  }
  const std::string image = scratch / "scattered.img";
  EXPECT_TRUE(builder->Save(image)) << builder->Error();
  return image;
}

TEST(FatInDepthJobTest, InDepthJobPacksFilesTowardTheStart) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir scratch;
  std::map<std::string, std::string> contents;
  const std::string image = BuildScatteredImage(scratch, &contents);
  ASSERT_FALSE(image.empty());
  std::string fsck;
  ASSERT_EQ(fattest::Fsck(image, &fsck), 0) << fsck;
  const auto before = FilesOf(image);
  {
    FatJob job(image);
    ASSERT_TRUE(job.Ok());
    EXPECT_EQ(DLL_OptimizedDefragVolume("C"), 1);
    const std::string page = job.Page("defragreport1.html");
    EXPECT_NE(page.find("Sequence"), std::string::npos);
    EXPECT_EQ(page.find("<!--optimize-->"), std::string::npos);
    // A second analysis finds no big-fragment file.
    EXPECT_EQ(DLL_AnalyseVolume("C"), 1);
    EXPECT_NE(job.Page("analysisreport1.html")
                  .find("Big Fragment files :</div></TD> <TD class=foot align=left><div align=left> 0</div>"),
              std::string::npos);
  }
  EXPECT_EQ(fattest::Fsck(image, &fsck), 0) << fsck;
  for (const auto& [path, content] : contents) EXPECT_EQ(fattest::Mtype(image, path), content) << path;
  const auto after = FilesOf(image);
  int nearer = 0;
  for (const auto& [path, seen] : after) {
    ASSERT_EQ(seen.runs.size(), 1u) << path;
    if (path.rfind("whole", 0) == 0) {
      EXPECT_LE(seen.runs[0].first, before.at(path).runs[0].first) << path;
      nearer += seen.runs[0].first < before.at(path).runs[0].first ? 1 : 0;
    }
  }
  EXPECT_EQ(nearer, 4) << "every file in one piece moved into the free space before it";
}

TEST(FatInDepthJobTest, StopDuringTheJobLeavesAConsistentVolume) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir scratch;
  std::map<std::string, std::string> contents;
  const std::string image = BuildScatteredImage(scratch, &contents);
  ASSERT_FALSE(image.empty());
  {
    FatJob job(image);
    ASSERT_TRUE(job.Ok());
    std::atomic<bool> done{false};
    std::thread stopper([&] {
      // Stop as soon as the first move is under way.
      while (!done.load() && DLL_GetWorkingStatus()->state != VEXA_STATE_DEFRAGMENTING) std::this_thread::yield();
      DLL_WorkingStop();
    });
    EXPECT_EQ(DLL_OptimizedDefragVolume("C"), 1);
    done.store(true);
    stopper.join();
    EXPECT_FALSE(job.Page("defragreporttop.html").empty());
  }
  std::string fsck;
  EXPECT_EQ(fattest::Fsck(image, &fsck), 0) << fsck;
  for (const auto& [path, content] : contents) EXPECT_EQ(fattest::Mtype(image, path), content) << path;
}

}  // namespace
}  // namespace vexa
