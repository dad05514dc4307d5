// Per-file work on real FAT images: pieces as mtools sees them, contig's placement by
// the relocation rule, room making on a card too full for a direct move, and a crash
// after any write of a contig; the run choice of put on its own.
#include "defrag/per_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/engine.h"
#include "platform/fat/fat_tools.h"
#include "platform/fat_provider.h"
#include "platform/fat_write_limit_io.h"
#include "support/temp_dir.h"

namespace vexa {
namespace {

using fattest::Runs;

// The engine started on one FAT machine as drive C.
class EngineOn {
 public:
  explicit EngineOn(std::unique_ptr<platform::Machine> machine) : machine_(std::move(machine)) {
    for (const auto& entry : std::filesystem::directory_iterator(VEXA_DATA_DIR)) {
      if (entry.path().filename() == "CMakeLists.txt") continue;
      std::filesystem::copy_file(entry.path(), dir_.Path() + entry.path().filename().string());
    }
    if (machine_ != nullptr) Startup(*machine_, dir_.Path());
  }
  ~EngineOn() {
    if (machine_ != nullptr) Shutdown();
  }
  EngineOn(const EngineOn&) = delete;
  EngineOn& operator=(const EngineOn&) = delete;

 private:
  test::TempDir dir_;
  std::unique_ptr<platform::Machine> machine_;
};

std::unique_ptr<platform::Machine> OpenImage(const std::string& image) {
  platform::fat::FatOpenStatus status{};
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  EXPECT_EQ(status, platform::fat::FatOpenStatus::kOk);
  return m;
}

// Free runs (first, length) of an image, read from its FAT by mshowfat-independent
// means: the provider's bitmap through a fresh machine.
std::vector<std::pair<std::int64_t, std::int64_t>> FreeRunsOf(const std::string& image) {
  auto m = OpenImage(image);
  const platform::Handle v = m->OpenVolume('C');
  std::vector<std::uint8_t> buffer(1 << 20);
  auto* b = reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(buffer.data());
  EXPECT_EQ(m->GetVolumeBitmap(v, 0, b, static_cast<std::uint32_t>(buffer.size())), platform::kErrorSuccess);
  std::vector<std::pair<std::int64_t, std::int64_t>> runs;
  for (std::int64_t c = 0; c < b->BitmapSize; ++c) {
    if ((b->Buffer[c / 8] >> (c % 8)) & 1) continue;
    if (!runs.empty() && runs.back().first + runs.back().second == c) {
      ++runs.back().second;
    } else {
      runs.emplace_back(c, 1);
    }
  }
  m->CloseHandle(v);
  return runs;
}

TEST(PerFileRunChoiceTest, OneRunByTheRelocationRuleElseTheFewestRunsLargestFirst) {
  // Free runs of 5 (at 100), 8 (at 40), 8 (at 900) and 20 (at 10).
  const std::vector<std::pair<std::int64_t, std::int64_t>> runs{{10, 20}, {40, 8}, {100, 5}, {900, 8}};
  std::uint32_t needed = 0;
  EXPECT_EQ(ChooseNewFileRuns(runs, 8, 1, &needed), (std::vector<platform::FileRun>{{40, 8}}));
  EXPECT_EQ(needed, 1u);
  EXPECT_EQ(ChooseNewFileRuns(runs, 6, 1, &needed), (std::vector<platform::FileRun>{{40, 6}}));
  // 21 clusters: no one run; 20 at 10 and the rest in the smallest run that holds it.
  EXPECT_EQ(ChooseNewFileRuns(runs, 21, 1, &needed), std::vector<platform::FileRun>{});
  EXPECT_EQ(needed, 2u);
  EXPECT_EQ(ChooseNewFileRuns(runs, 21, 2, &needed), (std::vector<platform::FileRun>{{10, 20}, {100, 1}}));
  // 33 clusters: 20, then 8 (the one nearest the start), then 5 in file order.
  EXPECT_EQ(ChooseNewFileRuns(runs, 33, 5, &needed), (std::vector<platform::FileRun>{{10, 20}, {40, 8}, {100, 5}}));
  EXPECT_EQ(needed, 3u);
  EXPECT_EQ(ChooseNewFileRuns(runs, 42, 9, &needed), std::vector<platform::FileRun>{});
  EXPECT_EQ(needed, 0u) << "more clusters than are free";
}

TEST(PerFileRunChoiceTest, PiecesCountRunsOfConsecutiveClustersWithoutHoles) {
  ExtentBuffer buffer;
  auto* data = buffer.Data();
  data->StartingVcn = 0;
  data->ExtentCount = 4;
  data->Extents[0] = {2, 10};                   // vcn 0-1 at 10-11
  data->Extents[1] = {5, 12};                   // back to back: the same piece
  data->Extents[2] = {6, platform::kVirtualLcn};  // a hole
  data->Extents[3] = {8, 40};
  EXPECT_EQ(CountPieces(buffer), 2u);
  data->Extents[3] = {8, 16};  // after a hole a piece never continues the one before
  EXPECT_EQ(CountPieces(buffer), 2u);
  data->ExtentCount = 0;
  EXPECT_EQ(CountPieces(buffer), 0u);
}

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
};

// Files P0..P5 of two clusters, then Q (8), R (7) and S (6); P1 and P3 deleted, T of
// six clusters copied in three pieces (P1's hole, P3's hole, after S), Q and S deleted:
// the free runs are Q's 8, S's 6 and the rest of the volume. Returns S's first cluster.
std::int64_t MakeContigImage(const fattest::ScratchDir& dir, const std::string& image, const Geometry& g) {
  fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster);
  fattest::Mmd(image, "Games");
  const std::uint32_t bpc = 512u * static_cast<std::uint32_t>(g.sectorsPerCluster);
  for (int i = 0; i < 6; ++i) {
    fattest::WriteAll(dir / "p", fattest::RandomBytes(bpc * 2, 30 + i));
    fattest::Mcopy(image, dir / "p", "P" + std::to_string(i));
  }
  for (const auto& [name, clusters] : {std::pair{"Q", 8}, std::pair{"R", 7}, std::pair{"S", 6}}) {
    fattest::WriteAll(dir / "q", fattest::RandomBytes(bpc * clusters, clusters));
    fattest::Mcopy(image, dir / "q", name);
  }
  const std::int64_t s = fattest::MtoolsRuns(image, "S").front().first;
  fattest::Mdel(image, "P1");
  fattest::Mdel(image, "P3");
  fattest::ForgetNextFree(image);
  fattest::WriteAll(dir / "t", fattest::RandomBytes(bpc * 6 - 10, 77));
  fattest::Mcopy(image, dir / "t", "Games/Target Game.iso");
  fattest::Mdel(image, "Q");
  fattest::Mdel(image, "S");
  return s;
}

class PerFileContigTest : public testing::TestWithParam<Geometry> {};

TEST_P(PerFileContigTest, ContigTakesTheSmallestRunThatHoldsTheFileAndLeavesOnePieceAlone) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "card.img";
  const std::int64_t expected = MakeContigImage(dir, image, GetParam());
  ASSERT_EQ(fattest::MtoolsRuns(image, "Games/Target Game.iso").size(), 3u);
  const auto contents = fattest::MtoolsContents(image);
  std::vector<std::string> checked;
  {
    EngineOn engine(OpenImage(image));
    // check agrees with mtools on every file's pieces.
    EXPECT_EQ(CheckFiles("C:\\", [&](const std::string& path, const VexaFilePieces& file) {
                checked.push_back(path);
                const std::string rel = path.substr(3);
                std::string mtoolsPath = rel;
                for (char& c : mtoolsPath) c = c == '\\' ? '/' : c;
                EXPECT_EQ(file.pieces, fattest::MtoolsRuns(image, mtoolsPath).size()) << path;
              }),
              VEXA_FILE_DONE);
    EXPECT_EQ(CheckFiles("c:/games/TARGET~1.ISO", [&](const std::string& path, const VexaFilePieces& file) {
                EXPECT_EQ(path, "C:\\Games\\Target Game.iso");
                EXPECT_EQ(file.pieces, 3u);
              }),
              VEXA_FILE_DONE);
    EXPECT_EQ(CheckFiles("C:\\Games\\missing.iso", [](const std::string&, const VexaFilePieces&) {}),
              VEXA_FILE_NOT_FOUND);

    VexaFileResult result{};
    EXPECT_EQ(MakeContiguous("C:\\GAMES\\target game.ISO", false, nullptr, &result), VEXA_FILE_DONE);
    EXPECT_EQ(result.piecesBefore, 3u);
    EXPECT_EQ(result.pieces, 1u);
    EXPECT_EQ(result.firstCluster, expected);
    EXPECT_EQ(MakeContiguous("C:\\Games\\Target Game.iso", false, nullptr, &result), VEXA_FILE_ALREADY_CONTIGUOUS);
    EXPECT_EQ(MakeContiguous("C:\\Games", false, nullptr, &result), VEXA_FILE_IS_FOLDER);
  }
  EXPECT_EQ(checked.size(), 6u);  // P0, P2, P4, P5 and R in the root, the target in Games
  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::MtoolsContents(image), contents);
  EXPECT_EQ(fattest::MtoolsRuns(image, "Games/Target Game.iso"), (Runs{{expected, 6}}));
}

// Stopped after any write of the contig: every file still reads as before, and
// fsck.fat finds no more than a crash may leave.
TEST_P(PerFileContigTest, StoppingAtAnyWriteLeavesEveryFileIntact) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string pristine = dir / "pristine.img";
  const std::string image = dir / "card.img";
  MakeContigImage(dir, pristine, GetParam());
  const auto contents = fattest::MtoolsContents(pristine);
  auto run = [&](std::uint64_t allowed) {
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    platform::fat::FatOpenStatus status{};
    auto limited = std::make_unique<platform::fat::WriteLimitIo>(platform::fat::OpenFatDevice(image, &status), allowed);
    auto* counter = limited.get();
    EngineOn engine(platform::fat::OpenFatVolume('C', std::move(limited), &status));
    VexaFileResult result{};
    const std::int32_t outcome = MakeContiguous("C:\\Games\\Target Game.iso", false, nullptr, &result);
    if (allowed == platform::fat::WriteLimitIo::kUnlimited) {
      EXPECT_EQ(outcome, VEXA_FILE_DONE);
    }
    return counter->WritesSeen();
  };
  const std::uint64_t total = run(platform::fat::WriteLimitIo::kUnlimited);
  ASSERT_GT(total, 5u);  // dirty mark, claims, data, commit, frees, clean mark
  for (std::uint64_t n = 0; n < total; ++n) {
    SCOPED_TRACE("writes let through: " + std::to_string(n));
    run(n);
    std::string out;
    fattest::Fsck(image, &out);
    EXPECT_EQ(fattest::DisallowedFsckLines(out), std::vector<std::string>{}) << out;
    EXPECT_EQ(fattest::ChangedFiles(contents, fattest::MtoolsContents(image)), std::vector<std::string>{});
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, PerFileContigTest,
                         testing::Values(Geometry{12, 1440, 1}, Geometry{16, 20000, 4}, Geometry{32, 34000, 1}),
                         [](const testing::TestParamInfo<Geometry>& info) {
                           return "fat" + std::to_string(info.param.fatBits);
                         });

// A card filled to the last cluster, every other file deleted, and a file of 100
// clusters copied into the holes: no free run holds it until the others are packed.
TEST(PerFileMakeRoomTest, PackingTheOtherFilesMakesARunLargeEnough) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "full.img";
  fattest::MakeFs(image, 12, 1440, 1);
  // One mcopy per file, so they lie one after another in the order written.
  fattest::Mmd(image, "fill");
  for (int i = 0; i < 139; ++i) {
    fattest::WriteAll(dir / "f", fattest::RandomBytes(20 * 512, 100 + i));
    fattest::Mcopy(image, dir / "f", "fill/F" + std::to_string(i));
  }
  std::string out;
  for (int i = 0; i < 139; i += 2) fattest::Mdel(image, "fill/F" + std::to_string(i));
  fattest::WriteAll(dir / "t", fattest::RandomBytes(100 * 512, 5));
  fattest::Mcopy(image, dir / "t", "BIG.ISO");
  ASSERT_GT(fattest::MtoolsRuns(image, "BIG.ISO").size(), 1u);
  const auto contents = fattest::MtoolsContents(image);
  std::int64_t largest = 0;
  for (const auto& run : FreeRunsOf(image)) largest = std::max(largest, run.second);
  ASSERT_LT(largest, 100);

  std::vector<std::string> moved;
  {
    EngineOn engine(OpenImage(image));
    VexaFileResult result{};
    EXPECT_EQ(MakeContiguous("C:\\BIG.ISO", false, nullptr, &result), VEXA_FILE_NO_RUN);
    EXPECT_EQ(result.clusters, 100u);
    EXPECT_EQ(result.largestFreeRun, static_cast<std::uint64_t>(largest));
    EXPECT_EQ(MakeContiguous("C:\\BIG.ISO", true,
                             [&](const std::string& path, const VexaMovedFile& move) {
                               EXPECT_LT(move.to, move.from) << path;
                               moved.push_back(path);
                             },
                             &result),
              VEXA_FILE_DONE);
    EXPECT_EQ(result.movedFiles, moved.size());
    EXPECT_EQ(result.pieces, 1u);
  }
  EXPECT_FALSE(moved.empty());
  EXPECT_EQ(std::find(moved.begin(), moved.end(), "C:\\BIG.ISO"), moved.end());
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::MtoolsContents(image), contents);
  EXPECT_EQ(fattest::MtoolsRuns(image, "BIG.ISO").size(), 1u);
}

}  // namespace
}  // namespace vexa
