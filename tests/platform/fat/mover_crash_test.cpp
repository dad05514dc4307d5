// Crashes in the middle of moves: stopped after any write, or with any part of the
// writes since the last flush lost, every file of the image still reads as before and
// fsck.fat finds no more than a crash may leave (lost clusters, differing FATs, dirty
// bit, free count).
#include <gtest/gtest.h>

#include "fat_tools.h"
#include "platform/claim_journal.h"
#include "platform/fat_provider.h"
#include "platform/fat_write_limit_io.h"

namespace platform::fat {
namespace {

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
};

std::string GeometryName(const testing::TestParamInfo<Geometry>& info) {
  return "fat" + std::to_string(info.param.fatBits) + "_spc" + std::to_string(info.param.sectorsPerCluster);
}

// An mkfs.fat image filled by mtools with a fragmented file in a folder and G.BIN.
void MakeCrashImage(const fattest::ScratchDir& dir, const std::string& image, const Geometry& g) {
  fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster);
  const std::uint32_t bpc = 512u * static_cast<std::uint32_t>(g.sectorsPerCluster);
  for (int i = 0; i < 4; ++i) {
    fattest::WriteAll(dir / "p", fattest::RandomBytes(bpc * 2, 20 + i));
    fattest::Mcopy(image, dir / "p", "P" + std::to_string(i));
  }
  fattest::Mmd(image, "Sub Folder");
  fattest::Mdel(image, "P1");
  fattest::Mdel(image, "P2");
  fattest::ForgetNextFree(image);
  fattest::WriteAll(dir / "f", fattest::RandomBytes(bpc * 5 + 3, 7));
  fattest::Mcopy(image, dir / "f", "Sub Folder/fragmented file.bin");
  fattest::WriteAll(dir / "g", fattest::RandomBytes(bpc * 3, 8));
  fattest::Mcopy(image, dir / "g", "G.BIN");
  ASSERT_GT(fattest::MtoolsRuns(image, "Sub Folder/fragmented file.bin").size(), 1u);
}

// The run of moves every crash test interrupts, as groups of several moves of one file:
//   - the fragmented file, extent by extent, into one free run (its first move commits
//     through the folder entry, the others through links within the new run);
//   - G.BIN's tail moved twice within one group (the first target is left again before
//     the commit), then its first cluster moved behind the tail;
//   - G.BIN's first cluster moved back onto its old place, which the group before has
//     vacated: that commits the group first;
//   - the end of the job (the last frees, the exact free count and the clean mark).
// Returns the first error, or 0.
std::uint32_t RunMoves(Machine& m) {
  std::uint32_t rc = fattest::DefragFile(m, 'C', "C:\\Sub Folder\\fragmented file.bin");
  const Handle v = m.OpenVolume('C');
  const auto g = fattest::Extents(m, "C:\\G.BIN");
  const Handle f = m.OpenFileForQuery("C:\\G.BIN");
  const std::int64_t target = fattest::FindFreeRun(m, v, 5);
  const MOVE_FILE_DATA moves[] = {{f, 1, target, 2}, {f, 1, target + 3, 2}, {f, 0, target + 2, 1},
                                  {f, 0, g.empty() ? 0 : g[0].first, 1}};
  for (const MOVE_FILE_DATA& move : moves) {
    const std::uint32_t moved = m.MoveFile(v, move);
    if (rc == kErrorSuccess) rc = moved;
  }
  m.CloseHandle(f);
  const std::uint32_t finished = m.FlushFileBuffers(v);
  if (rc == kErrorSuccess) rc = finished;
  m.CloseHandle(v);
  return rc;
}

// Checks a crashed image: only allowed fsck.fat findings, unchanged contents, and the
// provider opens it without trouble.
void CheckCrashed(const std::string& image, const std::map<std::string, std::string>& contents) {
  std::string out;
  fattest::Fsck(image, &out);
  EXPECT_EQ(fattest::DisallowedFsckLines(out), std::vector<std::string>{}) << out;
  EXPECT_EQ(fattest::ChangedFiles(contents, fattest::MtoolsContents(image)), std::vector<std::string>{});
  FatOpenStatus status;
  EXPECT_NE(OpenFatVolume('C', image, &status), nullptr) << FatOpenStatusText(status);
}

class CrashTest : public testing::TestWithParam<Geometry> {};

// Runs the same moves with every possible number of writes let through: afterwards
// fsck.fat finds at most what a crash may leave, and every file reads as before.
TEST_P(CrashTest, StoppingAtAnyWriteLeavesEveryFileIntact) {
  FAT_REQUIRE_TOOLS();
  const Geometry g = GetParam();
  fattest::ScratchDir dir;
  const std::string pristine = dir / "pristine.img";
  const std::string work = dir / "work.img";
  MakeCrashImage(dir, pristine, g);
  const auto contents = fattest::MtoolsContents(pristine);

  // The run: defragment the fragmented file, then move G.BIN's tail on its own.
  auto runMoves = [&](std::uint64_t allowed, std::uint64_t* writes) {
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    FatOpenStatus status;
    auto io = OpenFatDevice(work, &status);
    auto limited = std::make_unique<WriteLimitIo>(std::move(io), allowed);
    WriteLimitIo* counter = limited.get();
    auto m = OpenFatVolume('C', std::move(limited), &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    const std::uint32_t rc = RunMoves(*m);
    if (allowed == WriteLimitIo::kUnlimited) {
      EXPECT_EQ(rc, kErrorSuccess);
    } else {
      EXPECT_NE(rc, kErrorSuccess) << "the limit should have stopped a move";
    }
    *writes = counter->WritesSeen();
  };

  std::uint64_t total = 0;
  runMoves(WriteLimitIo::kUnlimited, &total);
  ASSERT_GT(total, 10u);
  {
    // G.BIN ends on its old first cluster and two clusters of the free run.
    const auto g = fattest::MtoolsRuns(pristine, "G.BIN");
    const auto moved = fattest::MtoolsRuns(work, "G.BIN");
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0], (std::pair<std::int64_t, std::int64_t>{g[0].first, 1}));
    EXPECT_EQ(moved[1].second, 2);
    EXPECT_EQ(fattest::MtoolsRuns(work, "Sub Folder/fragmented file.bin").size(), 1u);
  }
  std::string out;
  ASSERT_EQ(fattest::Fsck(work, &out), 0) << out;
  ASSERT_EQ(fattest::ChangedFiles(contents, fattest::MtoolsContents(work)), std::vector<std::string>{});

  for (std::uint64_t n = 0; n < total; ++n) {
    SCOPED_TRACE("writes let through: " + std::to_string(n));
    std::uint64_t seen = 0;
    runMoves(n, &seen);
    CheckCrashed(work, contents);
    if (HasFailure()) break;
  }
}

// The free clusters the volume at `image` reports, read through the provider.
std::uint32_t FreeClustersOf(const std::string& image, const ClaimOptions* claims = nullptr) {
  FatOpenStatus status;
  FatDamage damage;
  auto m = OpenFatVolume('C', image, &status, &damage, claims);
  DiskFreeSpace space{};
  if (m == nullptr || !m->FreeSpace('C', &space)) return 0;
  return space.freeClusters;
}

// A job killed at any write, with its claim record in an engine folder, then the next
// write job's open: what the killed job claimed is given back, the dirty mark it set is
// cleared, fsck.fat finds nothing at all, and the volume is as free as before.
TEST_P(CrashTest, NextJobGivesBackWhatAKilledJobClaimed) {
  FAT_REQUIRE_TOOLS();
  const Geometry g = GetParam();
  fattest::ScratchDir dir;
  const std::string pristine = dir / "pristine.img";
  const std::string work = dir / "work.img";
  MakeCrashImage(dir, pristine, g);
  const auto contents = fattest::MtoolsContents(pristine);
  std::filesystem::create_directory(dir / "engine");
  ClaimOptions claims;
  claims.folder = dir / "engine/";
  const std::uint32_t freeBefore = FreeClustersOf(pristine);
  ASSERT_GT(freeBefore, 0u);

  auto runMoves = [&](std::uint64_t allowed) {
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    FatOpenStatus status;
    auto limited = std::make_unique<WriteLimitIo>(OpenFatDevice(work, &status), allowed);
    WriteLimitIo* counter = limited.get();
    ClaimOptions named = claims;
    named.identityPath = work;
    auto m = OpenFatVolume('C', std::move(limited), &status, nullptr, &named);
    EXPECT_EQ(status, FatOpenStatus::kOk);
    if (m == nullptr) return std::uint64_t{0};
    (void)RunMoves(*m);
    return counter->WritesSeen();
  };
  const std::uint64_t total = runMoves(WriteLimitIo::kUnlimited);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "engine")) << "a job that ends cleanly leaves no record";
  int reclaimedSome = 0;
  for (std::uint64_t n = 0; n < total; ++n) {
    SCOPED_TRACE("writes let through: " + std::to_string(n));
    runMoves(n);
    ASSERT_FALSE(std::filesystem::is_empty(dir / "engine")) << "the killed job's record";
    // The record makes a dirty mark ours: such a volume is not refused.
    FatOpenStatus status;
    FatDamage damage;
    ASSERT_NE(OpenFatVolume('C', work, &status, &damage, &claims), nullptr);
    EXPECT_TRUE(status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyInconsistent)
        << FatOpenStatusText(status);

    ClaimOptions reclaim = claims;
    reclaim.reclaim = true;
    ReclaimResult result;
    ASSERT_NE(OpenFatVolume('C', work, &status, &damage, &reclaim, &result), nullptr);
    EXPECT_EQ(status, FatOpenStatus::kOk) << FatOpenStatusText(status) << ": " << FatDamageText(damage);
    EXPECT_TRUE(result.interrupted && result.done);
    if (result.freedBytes > 0) ++reclaimedSome;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "engine")) << "the record is removed once given back";

    std::string out;
    EXPECT_EQ(fattest::Fsck(work, &out), 0) << out;
    EXPECT_EQ(out.find("Dirty bit"), std::string::npos) << out;
    EXPECT_EQ(out.find("Reclaimed"), std::string::npos) << "no cluster left lost: " << out;
    EXPECT_EQ(out.find("differ"), std::string::npos) << out;
    EXPECT_EQ(FreeClustersOf(work), freeBefore) << "no space lost";
    EXPECT_EQ(fattest::ChangedFiles(contents, fattest::MtoolsContents(work)), std::vector<std::string>{});
    if (HasFailure()) break;
  }
  EXPECT_GT(reclaimedSome, 0) << "some kill must have left claimed clusters";
}

// Dirty marks set by something else (another driver, a program that stopped) keep the
// volume read-only for writes, with the checker named; analysis still answers. A record
// of our own interrupted job makes the same mark ours.
TEST(DirtyVolumeTest, DirtyOrFailingMarksFromElsewhereAreAnalysedButNotWritten) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  struct Case {
    const char* name;
    int fatBits;
    void (*mark)(std::string&);
    FatOpenStatus expected;
  };
  // FAT[1] lies right after FAT[0] in every FAT copy, the first of which starts after the
  // reserved sectors (boot sector bytes 14-15); its top byte holds the clean and
  // no-error bits. Both copies get the mark, as a driver writes it.
  static const auto markFat1 = [](std::string& b, int bits, std::uint8_t clear) {
    auto le = [&](std::size_t at, int n) {
      std::size_t v = 0;
      for (int i = n - 1; i >= 0; --i) v = v * 256 + static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
      return v;
    };
    const std::size_t fatSectors = bits == 32 ? le(36, 4) : le(22, 2);
    for (std::size_t copy = 0; copy < 2; ++copy) {
      const std::size_t at = (le(14, 2) + copy * fatSectors) * 512u + (bits == 32 ? 7 : 3);
      b[at] = static_cast<char>(b[at] & ~clear);
    }
  };
  const Case cases[] = {
      {"fat12_boot_dirty_bit", 12, [](std::string& b) { b[37] = static_cast<char>(b[37] | 1); }, FatOpenStatus::kReadOnlyDirty},
      {"fat16_boot_dirty_bit", 16, [](std::string& b) { b[37] = static_cast<char>(b[37] | 1); }, FatOpenStatus::kReadOnlyDirty},
      {"fat16_fat1_clean_bit_clear", 16, [](std::string& b) { markFat1(b, 16, 0x80); }, FatOpenStatus::kReadOnlyDirty},
      {"fat16_fat1_hard_error", 16, [](std::string& b) { markFat1(b, 16, 0x40); }, FatOpenStatus::kReadOnlyHardErrors},
      {"fat32_fat1_clean_bit_clear", 32, [](std::string& b) { markFat1(b, 32, 0x08); }, FatOpenStatus::kReadOnlyDirty},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = dir / (std::string(c.name) + ".img");
    fattest::MakeFs(image, c.fatBits, c.fatBits == 32 ? 34000 : c.fatBits == 16 ? 4000 : 1440, 1);
    fattest::WriteAll(dir / "f", fattest::RandomBytes(3000, 5));
    fattest::Mcopy(image, dir / "f", "F.BIN");
    std::string bytes = fattest::ReadAll(image);
    c.mark(bytes);
    fattest::WriteAll(image, bytes);

    std::filesystem::create_directories(dir / "engine");
    ClaimOptions claims;
    claims.folder = dir / "engine/";
    FatOpenStatus status;
    FatDamage damage;
    auto m = OpenFatVolume('C', image, &status, &damage, &claims);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, c.expected) << FatOpenStatusText(status);
    EXPECT_NE(std::string(FatOpenStatusText(status)).find("fsck.fat -a"), std::string::npos);
    EXPECT_EQ(fattest::Walk(*m, 'C').count("F.BIN"), 1u) << "analysis answers";
    const Handle v = m->OpenVolume('C');
    const Handle f = m->OpenFileForQuery("C:\\F.BIN");
    EXPECT_EQ(m->MoveFile(v, {f, 0, fattest::FindFreeRun(*m, v, 8), 1}), kErrorWriteProtect);
    m.reset();
    EXPECT_EQ(fattest::ReadAll(image), bytes) << "nothing written";

    if (c.expected == FatOpenStatus::kReadOnlyDirty) {
      // The same mark with a record of our interrupted job: ours, so writable.
      FatOpenStatus probe;
      auto opened = OpenFatVolume('C', image, &probe, &damage);
      ASSERT_NE(opened, nullptr);
      std::uint32_t serial = 0;
      ASSERT_TRUE(opened->VolumeSerialNumber('C', &serial));
      opened.reset();
      ClaimJournal ours(claims.folder, VolumeIdentity(image, serial, bytes.size()));
      ASSERT_TRUE(ours.Begin());
      EXPECT_NE(OpenFatVolume('C', image, &status, &damage, &claims), nullptr);
      EXPECT_EQ(status, FatOpenStatus::kOk);
      ASSERT_TRUE(ours.End());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, CrashTest,
                         testing::Values(Geometry{12, 1440, 1}, Geometry{16, 20000, 4}, Geometry{32, 34000, 1}),
                         GeometryName);

using fattest::JournalIo;

// A disk with a write cache may store the writes made since the last flush in any
// order, so a crash may keep any subset of them. For every epoch between flushes and
// every subset of its writes, the image holds all earlier epochs and that subset.
TEST(CrashReorderTest, LosingAnyUnflushedWritesLeavesEveryFileIntact) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string pristine = dir / "pristine.img";
  const std::string work = dir / "work.img";
  MakeCrashImage(dir, pristine, {16, 20000, 4});
  const auto contents = fattest::MtoolsContents(pristine);
  const std::string start = fattest::ReadAll(pristine);

  std::vector<std::vector<JournalIo::Record>> epochs;
  {
    FatOpenStatus status;
    auto m = OpenFatVolume('C', std::make_unique<JournalIo>(std::vector<std::uint8_t>(start.begin(), start.end()), &epochs),
                           &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    ASSERT_EQ(RunMoves(*m), kErrorSuccess);
  }
  // The dirty mark, two groups (the second file joins the first one's group until a move
  // lands on a cluster the group left), the frees and the clean mark.
  ASSERT_GE(epochs.size(), 7u);

  std::string image = start;
  auto apply = [](std::string& bytes, const JournalIo::Record& w) {
    std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(w.offset));
  };
  int cases = 0;
  for (std::size_t e = 0; e < epochs.size(); ++e) {
    const auto& writes = epochs[e];
    ASSERT_LE(writes.size(), 12u) << "an epoch too large to try every subset";
    for (std::uint32_t mask = 0; mask + 1 < (1u << writes.size()); ++mask) {
      SCOPED_TRACE("epoch " + std::to_string(e) + " kept writes mask " + std::to_string(mask));
      std::string crashed = image;
      for (std::size_t i = 0; i < writes.size(); ++i) {
        if ((mask >> i) & 1) apply(crashed, writes[i]);
      }
      fattest::WriteAll(work, crashed);
      CheckCrashed(work, contents);
      ++cases;
      if (HasFailure()) return;
    }
    for (const auto& w : writes) apply(image, w);
  }
  EXPECT_GT(cases, 20);
}

}  // namespace
}  // namespace platform::fat
