// Corrupt FAT images: loops, cross-links, out-of-range clusters, folder cycles, wrong
// sizes and differing FAT copies open read-only, answer analysis calls, never hang and
// are never written; validation counts what it found by kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fat_image_patch.h"
#include "fat_tools.h"
#include "platform/fat_image_builder.h"
#include "platform/fat_provider.h"
#include "platform/fat_write_limit_io.h"

namespace platform::fat {
namespace {

// FAT16, 2 KiB clusters: A.BIN at logical 10-12 (FAT 12-14), B.BIN at 20-21 (FAT 22-23),
// folder DIR at 30 (FAT 32) holding C.BIN at 31 (FAT 33) and folder SUB at 32 (FAT 34).
std::vector<std::uint8_t> BaseImage(FatType type = FatType::kFat16) {
  const bool fat32 = type == FatType::kFat32;
  auto b = FatImageBuilder::Create({type, fat32 ? 34u << 20 : 9u << 20, fat32 ? 512u : 2048u, ""}, nullptr);
  EXPECT_NE(b, nullptr);
  const std::uint32_t bpc = b->BytesPerCluster();
  EXPECT_TRUE(b->AddFile("A.BIN", fattest::RandomBytes(bpc * 3, 1), {{10, 3}}));
  EXPECT_TRUE(b->AddFile("B.BIN", fattest::RandomBytes(bpc * 2, 2), {{20, 2}}));
  EXPECT_TRUE(b->AddFolder("DIR", {{30, 1}}));
  EXPECT_TRUE(b->AddFile("DIR/C.BIN", fattest::RandomBytes(bpc, 3), {{31, 1}}));
  EXPECT_TRUE(b->AddFolder("DIR/SUB", {{32, 1}}));
  std::vector<std::uint8_t> image;
  EXPECT_TRUE(b->Build(&image));
  return image;
}

// Expected counts: lost clusters, cross-links, broken chains, short chains, differing FAT
// copies, others.
struct Counts {
  std::uint32_t lost, cross, broken, shortChains, copies, other;
  bool operator==(const Counts&) const = default;
};

Counts CountsOf(const FatDamage& d) {
  return {d.lostClusters, d.crossLinks, d.brokenChains, d.shortChains, d.differingFatCopies, d.otherProblems};
}

void PrintTo(const Counts& c, std::ostream* os) {
  *os << "{lost " << c.lost << ", cross " << c.cross << ", broken " << c.broken << ", short " << c.shortChains << ", copies " << c.copies
      << ", other " << c.other << "}";
}

struct Corruption {
  const char* name;
  void (*apply)(std::vector<std::uint8_t>&);
  FatOpenStatus expected;
  Counts damage;
};

void SetCluster(std::vector<std::uint8_t>& b, const char* name11, std::uint32_t cluster) {
  const std::size_t at = fattest::EntryOffset(b, name11);
  ASSERT_NE(at, 0u);
  fattest::Put16(b, at + 26, cluster);
}

const Corruption kCorruptions[] = {
    {"chain_loop", [](auto& b) { fattest::SetFat(b, 16, 14, 12); },
     FatOpenStatus::kReadOnlyInconsistent, {0, 0, 1, 0, 0, 0}},
    {"cross_link", [](auto& b) { fattest::SetFat(b, 16, 23, 13); },
     FatOpenStatus::kReadOnlyInconsistent, {0, 1, 0, 0, 0, 0}},
    {"link_past_the_end", [](auto& b) { fattest::SetFat(b, 16, 13, 0xFF00); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 0, 1, 0, 0, 0}},
    {"link_to_cluster_1", [](auto& b) { fattest::SetFat(b, 16, 13, 1); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 0, 1, 0, 0, 0}},
    {"chain_into_free_cluster", [](auto& b) { fattest::SetFat(b, 16, 13, 400); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 0, 0, 1, 0, 0}},
    {"reserved_value_in_free_cluster", [](auto& b) { fattest::SetFat(b, 16, 500, 0xFFF0); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 0, 1, 0, 0, 0}},
    {"entry_points_past_the_end", [](auto& b) { SetCluster(b, "B       BIN", 0xFFF0); },
     FatOpenStatus::kReadOnlyInconsistent, {2, 0, 1, 0, 0, 0}},
    // SUB leads back to DIR, its parent: a folder loop (counted apart), SUB's own cluster lost.
    {"folder_cycle", [](auto& b) { SetCluster(b, "SUB        ", 32); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 0, 0, 0, 0, 0}},
    {"size_longer_than_chain",
     [](auto& b) { fattest::Put32(b, fattest::EntryOffset(b, "A       BIN") + 28, 2048 * 5); },
     FatOpenStatus::kReadOnlyInconsistent, {0, 0, 0, 1, 0, 0}},
    {"fat_copies_differ", [](auto& b) { fattest::SetFat(b, 16, 600, 0xFFFF, 1); },
     FatOpenStatus::kReadOnlyInconsistent, {0, 0, 0, 0, 1, 0}},
    {"lost_chain_loop",
     [](auto& b) {
       fattest::SetFat(b, 16, 600, 601);
       fattest::SetFat(b, 16, 601, 600);
     },
     FatOpenStatus::kReadOnlyInconsistent, {2, 0, 1, 0, 0, 0}},
    {"lost_chain_into_a_file", [](auto& b) { fattest::SetFat(b, 16, 600, 12); },
     FatOpenStatus::kReadOnlyInconsistent, {1, 1, 0, 0, 0, 0}},
    {"lost_clusters_only",
     [](auto& b) {
       fattest::SetFat(b, 16, 600, 601);
       fattest::SetFat(b, 16, 601, 0xFFFF);
     },
     FatOpenStatus::kOk, {2, 0, 0, 0, 0, 0}},
};

class CorruptImageTest : public testing::TestWithParam<Corruption> {};

TEST_P(CorruptImageTest, OpensAsExpectedAnswersAndNeverWrites) {
  std::vector<std::uint8_t> image = BaseImage();
  GetParam().apply(image);
  FatOpenStatus status;
  auto io = std::make_unique<WriteLimitIo>(std::make_unique<MemoryFatIo>(image), 0);
  WriteLimitIo* writes = io.get();
  FatDamage damage;
  auto m = OpenFatVolume('C', std::move(io), &status, &damage);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, GetParam().expected) << FatOpenStatusText(status);
  EXPECT_EQ(CountsOf(damage), GetParam().damage) << FatDamageText(damage);

  // Analysis still answers: every folder is searched, every file's extents read.
  const auto seen = fattest::Walk(*m, 'C');
  EXPECT_TRUE(seen.count("A.BIN") == 1 && seen.count("DIR/") == 1);
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\A.BIN");
  ASSERT_NE(a, kInvalidHandle);
  const std::uint32_t rc = m->MoveFile(v, {a, 0, 1000, 1});
  if (status == FatOpenStatus::kOk) {
    EXPECT_EQ(rc, kErrorWriteFault) << "writable: the move tried to write (and the layer refused)";
  } else {
    EXPECT_EQ(rc, kErrorWriteProtect);
    EXPECT_EQ(writes->WritesSeen(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Corruptions, CorruptImageTest, testing::ValuesIn(kCorruptions),
                         [](const testing::TestParamInfo<Corruption>& info) { return std::string(info.param.name); });

// A chain that loops back on itself ends before its first cluster comes round again,
// however large its entry says the file is: a damaged image must not make every extent
// read walk the loop for a gigabyte.
TEST(FatVolumeTest, ALoopingChainEndsWhereItLoopsWhateverTheSize) {
  std::vector<std::uint8_t> image = BaseImage();
  fattest::SetFat(image, 16, 14, 13);                                    // A.BIN: 12, 13, 14, 13, 14, ...
  fattest::Put32(image, fattest::EntryOffset(image, "A       BIN") + 28, 1u << 30);  // "1 GiB"
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
  const Handle a = m->OpenFileForQuery("C:\\A.BIN");
  ASSERT_NE(a, kInvalidHandle);
  std::vector<std::uint8_t> buffer(4096);
  auto* r = reinterpret_cast<RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  ASSERT_EQ(m->GetRetrievalPointers(a, 0, r, static_cast<std::uint32_t>(buffer.size())), kErrorSuccess);
  ASSERT_EQ(r->ExtentCount, 1u);
  EXPECT_EQ(r->Extents[0].Lcn, 10);
  EXPECT_EQ(r->Extents[0].NextVcn, 3);
}

TEST(FatVolumeTest, ValidationCountsEveryProblemNotJustTheFirst) {
  std::vector<std::uint8_t> image = BaseImage();
  fattest::SetFat(image, 16, 23, 13);         // B.BIN runs into A.BIN
  fattest::SetFat(image, 16, 33, 33);         // DIR/C.BIN loops on itself
  fattest::SetFat(image, 16, 700, 701);       // a lost chain of three clusters
  fattest::SetFat(image, 16, 701, 702);
  fattest::SetFat(image, 16, 702, 0xFFFF);
  fattest::SetFat(image, 16, 800, 0xFFFF, 1);  // copy 1 differs from copy 0
  FatOpenStatus status;
  FatDamage damage;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status, &damage);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
  EXPECT_EQ(CountsOf(damage), (Counts{3, 1, 1, 0, 1, 0}));
  EXPECT_EQ(FatDamageText(damage),
            "3 lost clusters, 1 cross-linked file, 1 chain that loops or runs out of range, 1 FAT copy that differs");
}

TEST(FatVolumeTest, ShortChainsAreNamedAsShortNotAsLoops) {
  std::vector<std::uint8_t> image = BaseImage();
  fattest::SetFat(image, 16, 13, 0xFFFF);  // A.BIN ends after 2 of its 3 clusters
  fattest::SetFat(image, 16, 22, 400);     // B.BIN's second cluster is a free one
  FatOpenStatus status;
  FatDamage damage;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status, &damage);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
  EXPECT_EQ(FatDamageText(damage), "2 lost clusters, 2 chains shorter than their files' sizes");
}

TEST(FatVolumeTest, FolderCycleOnFat32EndsTheWalk) {
  std::vector<std::uint8_t> image = BaseImage(FatType::kFat32);
  // SUB (logical 32 = FAT cluster 34) now names the root folder (FAT cluster 2).
  SetCluster(image, "SUB        ", 2);
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
  EXPECT_EQ(fattest::Walk(*m, 'C').count("DIR/C.BIN"), 1u);
}

// A folder whose first cluster is that of a folder on its own path would give every
// walker an endless tree: it is cut there, named, and the volume kept read-only.
TEST(FatVolumeTest, AFolderLeadingBackIntoItsPathIsCutThereAndNamed) {
  struct Case {
    const char* name;
    FatType type;
    std::function<void(std::vector<std::uint8_t>&)> apply;
    const char* cut;  // the folder listed empty
  };
  auto deeper = [](FatType type) {
    // DIR/SUB/DEEP, with DEEP leading back to DIR, two levels up.
    const bool fat32 = type == FatType::kFat32;
    auto b = FatImageBuilder::Create(
        {type, fat32 ? 34u << 20 : type == FatType::kFat12 ? 4u << 20 : 9u << 20, fat32 ? 512u : 2048u, ""}, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_TRUE(b->AddFolder("DIR", {{30, 1}}));
    EXPECT_TRUE(b->AddFile("DIR/C.BIN", fattest::RandomBytes(b->BytesPerCluster(), 3), {{31, 1}}));
    EXPECT_TRUE(b->AddFolder("DIR/SUB", {{32, 1}}));
    EXPECT_TRUE(b->AddFolder("DIR/SUB/DEEP", {{33, 1}}));
    EXPECT_TRUE(b->AddFile("DIR/SUB/DEEP/D.BIN", fattest::RandomBytes(100, 4), {{34, 1}}));
    EXPECT_TRUE(b->AddFile("A.BIN", fattest::RandomBytes(b->BytesPerCluster() * 3, 1), {{10, 3}}));
    std::vector<std::uint8_t> image;
    EXPECT_TRUE(b->Build(&image));
    return image;
  };
  auto dirCluster = [](const std::vector<std::uint8_t>& b) {
    return fattest::Get16(b, fattest::EntryOffset(b, "DIR        ") + 26);
  };
  const Case cases[] = {
      {"fat16 parent", FatType::kFat16, [&](auto& b) { SetCluster(b, "SUB        ", dirCluster(b)); }, "DIR/SUB/"},
      {"fat32 parent", FatType::kFat32, [&](auto& b) { SetCluster(b, "SUB        ", dirCluster(b)); }, "DIR/SUB/"},
      {"fat16 grandparent", FatType::kFat16, [&](auto& b) { SetCluster(b, "DEEP       ", dirCluster(b)); },
       "DIR/SUB/DEEP/"},
      {"fat12 grandparent", FatType::kFat12, [&](auto& b) { SetCluster(b, "DEEP       ", dirCluster(b)); },
       "DIR/SUB/DEEP/"},
      {"fat32 root", FatType::kFat32, [](auto& b) { SetCluster(b, "DEEP       ", fattest::Get32(b, 44)); },
       "DIR/SUB/DEEP/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = deeper(c.type);
    c.apply(image);
    FatOpenStatus status;
    FatDamage damage;
    auto io = std::make_unique<WriteLimitIo>(std::make_unique<MemoryFatIo>(image), 0);
    WriteLimitIo* writes = io.get();
    auto m = OpenFatVolume('C', std::move(io), &status, &damage);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
    EXPECT_EQ(damage.folderLoops, 1u);
    EXPECT_EQ(damage.crossLinks, 0u) << "the loop is named as a loop, not as a cross-link";
    EXPECT_NE(FatDamageText(damage).find("1 folder that leads back into its own path"), std::string::npos)
        << FatDamageText(damage);

    // The walk ends; the looping folder is listed, empty; everything else is there.
    const auto seen = fattest::Walk(*m, 'C');
    EXPECT_EQ(seen.count("A.BIN"), 1u);
    EXPECT_EQ(seen.count("DIR/C.BIN"), 1u);
    EXPECT_EQ(seen.count(c.cut), 1u);
    EXPECT_EQ(seen.count("DIR/SUB/DEEP/D.BIN"), 0u);
    for (const auto& [path, file] : seen) EXPECT_LT(path.size(), 40u) << path;

    // Writes are refused and none reach the image.
    const Handle v = m->OpenVolume('C');
    const Handle a = m->OpenFileForQuery("C:\\A.BIN");
    ASSERT_NE(a, kInvalidHandle);
    EXPECT_EQ(m->MoveFile(v, {a, 0, 1000, 1}), kErrorWriteProtect);
    EXPECT_EQ(writes->WritesSeen(), 0u);
  }
}

// An entry whose name is blank would make "DIR\\" + name the folder itself: a walker
// would list DIR inside DIR without end. Such an entry is left out and named.
TEST(FatVolumeTest, AnEntryNoPathCanReachIsLeftOutAndNamed) {
  std::vector<std::uint8_t> image = BaseImage();
  const std::size_t at = fattest::EntryOffset(image, "SUB        ");
  ASSERT_NE(at, 0u);
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(at), 11, ' ');
  FatOpenStatus status;
  FatDamage damage;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status, &damage);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyInconsistent);
  EXPECT_NE(FatDamageText(damage).find("an entry in folder DIR has a name no path can reach"), std::string::npos)
      << FatDamageText(damage);
  EXPECT_EQ(damage.lostClusters, 1u) << "SUB's cluster, owned by no entry that is kept";
  const auto seen = fattest::Walk(*m, 'C');
  EXPECT_EQ(seen.count("DIR/C.BIN"), 1u);
  EXPECT_EQ(seen.size(), 4u) << "A.BIN, B.BIN, DIR/ and DIR/C.BIN only";
}

TEST(FatVolumeTest, MismatchedLongNamesFallBackToTheShortName) {
  auto b = FatImageBuilder::Create({FatType::kFat12, 1u << 20, 512, ""}, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(b->AddFile("First long name.txt", "1"));
  ASSERT_TRUE(b->AddFile("Second long name.txt", "2"));
  ASSERT_TRUE(b->AddFile("Third long name.txt", "3"));
  std::vector<std::uint8_t> image;
  ASSERT_TRUE(b->Build(&image));
  // Root folder of this FAT12 layout: entries 0-2 are the first name (2 LFN + short).
  const std::size_t root = fattest::PlaceOf(image, 12).fat0 + 2 * fattest::PlaceOf(image, 12).fatBytes;
  image[root + 13] ^= 0xFF;          // first name: checksum of an LFN entry broken
  image[root + 3 * 32] = 0x01;       // second name: its last part lost its 0x40 flag
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status);
  ASSERT_NE(m, nullptr);
  std::set<std::string> names;
  for (const auto& [path, file] : fattest::Walk(*m, 'C')) names.insert(path);
  EXPECT_EQ(names, (std::set<std::string>{"FIRSTL~1.TXT", "SECOND~1.TXT", "Third long name.txt"}));
}

}  // namespace
}  // namespace platform::fat
