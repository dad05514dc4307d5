// Moves on exFAT images that exfat-fuse filled: afterwards fsck.exfat -n is clean, every
// file reads back identical through exfat-fuse, joined files are NoFatChain in one run
// with a matching FAT chain, and entry sets that straddle a sector are never written.
#include <gtest/gtest.h>

#include "../../../platform/exfat/exfat_volume.h"
#include "exfat_tools.h"
#include "platform/fat_provider.h"

namespace platform::exfat {
namespace {

using platform::fat::FatOpenStatus;
using platform::fat::OpenFatVolume;

// The lowest free run of `length` clusters, as a first cluster; 0 when none.
using exfattest::FreeRun;

std::unique_ptr<ExfatVolume> OpenVolume(const std::string& image) {
  FatOpenStatus status;
  auto io = platform::fat::OpenFatDevice(image, &status);
  if (io == nullptr) return nullptr;
  auto volume = ExfatVolume::Open(std::move(io), &status);
  EXPECT_EQ(status, FatOpenStatus::kOk) << (volume ? volume->Problem() : "");
  return volume;
}

void ExpectCleanAndUnchanged(const std::string& image, const std::map<std::string, std::string>& before) {
  std::string out;
  EXPECT_EQ(exfattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::ChangedFiles(before, exfattest::FuseContents(image)), std::vector<std::string>{});
  EXPECT_EQ(fattest::ReadAll(image)[106] & 2, 0) << "VolumeDirty left set";
}

class ExfatDefragTest : public testing::TestWithParam<const char*> {};

// Every fragmented file joined extent by extent, as the engine's relocation moves them.
TEST_P(ExfatDefragTest, JoinedFilesBecomeNoFatChainRuns) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, GetParam());
  const auto before = exfattest::FuseContents(image);
  std::vector<std::string> joined;
  {
    FatOpenStatus status;
    auto m = OpenFatVolume('C', image, &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    for (const auto& [path, f] : fattest::Walk(*m, 'C')) {
      if (f.runs.size() < 2) continue;
      std::string win = "C:\\" + path;
      for (char& c : win) c = c == '/' ? '\\' : c;
      EXPECT_EQ(fattest::DefragFile(*m, 'C', win), kErrorSuccess) << path;
      joined.push_back(path);
    }
    for (const auto& [path, f] : fattest::Walk(*m, 'C')) EXPECT_LE(f.runs.size(), 1u) << path;
  }
  ASSERT_GE(joined.size(), 3u);
  ExpectCleanAndUnchanged(image, before);

  const auto raw = exfattest::RawListing(image);
  const std::string bytes = fattest::ReadAll(image);
  for (const std::string& path : joined) {
    SCOPED_TRACE(path);
    const exfattest::RawFile& f = raw.at(path);
    EXPECT_TRUE(f.noFatChain);
    ASSERT_EQ(exfattest::RunsOf(f.clusters).size(), 1u);
    // The run is a terminated FAT chain too, so the flag may be dropped safely.
    for (std::size_t i = 0; i < f.clusters.size(); ++i) {
      const std::uint32_t want = i + 1 < f.clusters.size() ? f.clusters[i] + 1 : 0xFFFFFFFF;
      EXPECT_EQ(exfattest::FatEntry(bytes, f.clusters[i]), want);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExfatDefragTest, testing::Values("exfat_mixed_4k", "exfat_mixed_512"));

// A contiguous file moved whole, a piece relinked through the FAT, a NoFatChain file
// moved in part (back onto the FAT), a folder moved and then a file inside it.
TEST(ExfatMoveTest, EachKindOfMoveKeepsTheVolumeClean) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
  const auto before = exfattest::FuseContents(image);
  const auto rawBefore = exfattest::RawListing(image);
  ASSERT_TRUE(rawBefore.at("contiguous.bin").noFatChain);
  {
    auto v = OpenVolume(image);
    ASSERT_NE(v, nullptr);
    const std::int32_t whole = v->Find("contiguous.bin");
    const std::uint32_t target = FreeRun(*v, 4);
    ASSERT_EQ(v->MoveClusters(whole, 0, target - 2, 4), kErrorSuccess);
    ASSERT_TRUE(v->CommitGroup());
    EXPECT_EQ(v->Chain(whole).front(), target);
    EXPECT_TRUE(v->Node(whole).NoFatChain());

    const std::int32_t piecewise = v->Find("Folder One\\deeper\\Piecewise.bin");
    ASSERT_GT(exfattest::RunsOf(v->Chain(piecewise)).size(), 1u);
    ASSERT_EQ(v->MoveClusters(piecewise, 2, FreeRun(*v, 1) - 2, 1), kErrorSuccess);
    ASSERT_TRUE(v->CommitGroup());
    EXPECT_FALSE(v->Node(piecewise).NoFatChain());

    const std::int32_t folder = v->Find("Folder One");
    const auto folderClusters = static_cast<std::uint32_t>(v->Chain(folder).size());
    ASSERT_EQ(v->MoveClusters(folder, 0, FreeRun(*v, folderClusters) - 2, folderClusters), kErrorSuccess);
    // Its entries moved with it: a file inside is moved (and committed) at the new place.
    const std::int32_t inside = v->Find("Folder One\\small0.txt");
    ASSERT_FALSE(v->Unmovable(inside));
    ASSERT_EQ(v->MoveClusters(inside, 0, FreeRun(*v, 1) - 2, 1), kErrorSuccess);

    ASSERT_EQ(v->MoveClusters(whole, 1, FreeRun(*v, 2) - 2, 2), kErrorSuccess);
    ASSERT_TRUE(v->CommitGroup());
    EXPECT_FALSE(v->Node(whole).NoFatChain()) << "a file in pieces needs its FAT chain";
    EXPECT_EQ(v->MoveClusters(ExfatVolume::kRoot, 0, FreeRun(*v, 1) - 2, 1), kErrorAccessDenied);
  }
  ExpectCleanAndUnchanged(image, before);
  const auto raw = exfattest::RawListing(image);
  EXPECT_EQ(exfattest::RunsOf(raw.at("contiguous.bin").clusters).size(), 3u);
  EXPECT_FALSE(raw.at("contiguous.bin").noFatChain);
  EXPECT_NE(raw.at("Folder One/").clusters, rawBefore.at("Folder One/").clusters);
  // The volume opens again with everything where the moves left it.
  auto again = OpenVolume(image);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Chain(again->Find("contiguous.bin")), raw.at("contiguous.bin").clusters);
}

// A set whose File entry ends a sector has no single-sector commit: never written.
TEST(ExfatMoveTest, StraddlingEntrySetIsNeverMoved) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
  const std::string bytes = fattest::ReadAll(image);
  std::vector<std::string> straddling;
  {
    auto v = OpenVolume(image);
    ASSERT_NE(v, nullptr);
    const std::uint32_t sector = v->Geometry().bytesPerSector;
    for (std::int32_t i = 1; i < static_cast<std::int32_t>(v->NodeCount()); ++i) {
      const ExfatNode& n = v->Node(i);
      const bool crosses = n.entryOffset / sector != (n.entryOffset + 63) / sector;
      EXPECT_EQ(v->Unmovable(i) != nullptr, crosses) << n.name;
      if (!crosses || n.firstCluster == 0) continue;
      straddling.push_back(n.name);
      EXPECT_STREQ(v->Unmovable(i), "its directory entry spans two sectors");
      const auto clusters = static_cast<std::uint32_t>(v->Chain(i).size());
      EXPECT_EQ(v->MoveClusters(i, 0, FreeRun(*v, clusters) - 2, clusters), kErrorAccessDenied);
    }
  }
  ASSERT_FALSE(straddling.empty()) << "the fixture should hold a straddling entry set";
  EXPECT_EQ(fattest::ReadAll(image), bytes);
}

}  // namespace
}  // namespace platform::exfat
