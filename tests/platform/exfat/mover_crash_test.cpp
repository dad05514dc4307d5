// Crashes in the middle of exFAT moves of each kind (a join into one NoFatChain run, a
// contiguous file moved whole, a piece relinked through the FAT, a folder): stopped
// after any write, or with any part of the writes since the last flush lost, the image
// passes fsck.exfat -n, every file reads as before, and the provider opens it writable
// when the job's claim record says the dirty mark is ours; the next write job's open
// then gives back every cluster the killed job claimed and clears the mark.
#include <gtest/gtest.h>

#include "../../../platform/exfat/exfat_volume.h"
#include "exfat_tools.h"
#include "platform/claim_journal.h"
#include "platform/fat_provider.h"
#include "platform/fat_write_limit_io.h"

namespace platform::exfat {
namespace {

using platform::fat::ClaimOptions;
using platform::fat::FatDamage;
using platform::fat::FatIo;
using platform::fat::FatOpenStatus;
using platform::fat::MemoryFatIo;
using platform::fat::WriteLimitIo;

using exfattest::FreeRun;

// The moves every crash test interrupts. Returns the first error, or 0.
std::uint32_t RunMoves(ExfatVolume& v) {
  // Join: every piece into one free run, piece by piece.
  const std::int32_t three = v.Find("three pieces.bin");
  const auto chain = v.Chain(three);
  const auto runs = exfattest::RunsOf(chain);
  std::uint32_t target = FreeRun(v, static_cast<std::uint32_t>(chain.size()));
  std::int64_t vcn = 0;
  for (const auto& [lcn, length] : runs) {
    if (const std::uint32_t rc = v.MoveClusters(three, vcn, target - 2, static_cast<std::uint32_t>(length))) return rc;
    vcn += length;
    target += static_cast<std::uint32_t>(length);
  }
  // A contiguous (NoFatChain) file moved whole.
  const std::int32_t whole = v.Find("whole.bin");
  if (const std::uint32_t rc = v.MoveClusters(whole, 0, FreeRun(v, 3) - 2, 3)) return rc;
  // The second piece of a file relinked through the FAT.
  const std::int32_t two = v.Find("Dir\\two.bin");
  if (const std::uint32_t rc = v.MoveClusters(two, 1, FreeRun(v, 1) - 2, 1)) return rc;
  // A folder.
  const std::int32_t folder = v.Find("Dir");
  if (const std::uint32_t rc = v.MoveClusters(folder, 0, FreeRun(v, 1) - 2, 1)) return rc;
  return v.FinishChanges() ? kErrorSuccess : kErrorWriteFault;
}

// `claims`: the killed job's record (null: none was kept, so a dirty mark is not ours).
void CheckCrashed(const std::string& image, const std::map<std::string, std::string>& contents,
                  const ClaimOptions* claims = nullptr) {
  std::string out;
  EXPECT_EQ(exfattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::ChangedFiles(contents, exfattest::RawContents(image)), std::vector<std::string>{});
  FatOpenStatus status;
  auto io = platform::fat::OpenFatDevice(image, &status);
  auto v = ExfatVolume::Open(std::move(io), &status, nullptr, claims);
  if (claims != nullptr) {
    EXPECT_EQ(status, FatOpenStatus::kOk) << (v ? v->Problem() : "not opened");
  } else {
    EXPECT_TRUE(status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyExfatDirty)
        << (v ? v->Problem() : "not opened");
  }
}

// The next write job's open: the record's clusters that nothing owns are given back,
// VolumeDirty is cleared and the record removed; afterwards nothing is lost.
void CheckReclaimed(const std::string& image, const ClaimOptions& claims, std::uint32_t freeBefore, int* freedSome) {
  ClaimOptions reclaim = claims;
  reclaim.reclaim = true;
  FatOpenStatus status;
  platform::fat::ReclaimResult result;
  {
    auto v = ExfatVolume::Open(platform::fat::OpenFatDevice(image, &status), &status, nullptr, &reclaim, &result);
    ASSERT_EQ(status, FatOpenStatus::kOk) << (v ? v->Problem() : "not opened");
  }
  EXPECT_TRUE(result.interrupted && result.done);
  if (result.freedBytes > 0) ++*freedSome;
  EXPECT_TRUE(std::filesystem::is_empty(claims.folder)) << "the record is removed once given back";
  FatDamage damage;
  auto v = ExfatVolume::Open(platform::fat::OpenFatDevice(image, &status), &status, &damage);
  ASSERT_EQ(status, FatOpenStatus::kOk) << "VolumeDirty is clear: " << (v ? v->Problem() : "not opened");
  EXPECT_EQ(damage.lostClusters, 0u);
  EXPECT_EQ(v->FreeClusters(), freeBefore) << "no space lost";
  std::string out;
  EXPECT_EQ(exfattest::Fsck(image, &out), 0) << out;
}

TEST(ExfatCrashTest, StoppingAtAnyWriteLeavesEveryFileIntact) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string pristine = exfattest::CopyOfFixture(dir, "exfat_small_4k");
  const std::string work = dir / "work.img";
  const auto contents = exfattest::RawContents(pristine);
  ASSERT_EQ(exfattest::RunsOf(exfattest::RawListing(pristine).at("three pieces.bin").clusters).size(), 3u);

  std::filesystem::create_directory(dir / "engine");
  ClaimOptions claims;
  claims.folder = dir / "engine/";
  claims.identityPath = work;
  std::uint32_t freeBefore = 0;
  {
    FatOpenStatus status;
    freeBefore = ExfatVolume::Open(platform::fat::OpenFatDevice(pristine, &status), &status)->FreeClusters();
  }
  auto runMoves = [&](std::uint64_t allowed, std::uint64_t* writes) {
    std::filesystem::copy_file(pristine, work, std::filesystem::copy_options::overwrite_existing);
    FatOpenStatus status;
    auto limited = std::make_unique<WriteLimitIo>(platform::fat::OpenFatDevice(work, &status), allowed);
    WriteLimitIo* counter = limited.get();
    auto v = ExfatVolume::Open(std::move(limited), &status, nullptr, &claims);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    const std::uint32_t rc = RunMoves(*v);
    if (allowed == WriteLimitIo::kUnlimited) {
      EXPECT_EQ(rc, kErrorSuccess);
    } else {
      EXPECT_NE(rc, kErrorSuccess) << "the limit should have stopped a move";
    }
    *writes = counter->WritesSeen();
  };

  std::uint64_t total = 0;
  runMoves(WriteLimitIo::kUnlimited, &total);
  ASSERT_GT(total, 20u);
  std::string out;
  ASSERT_EQ(exfattest::Fsck(work, &out), 0) << out;
  ASSERT_EQ(fattest::ChangedFiles(exfattest::FuseContents(pristine), exfattest::FuseContents(work)),
            std::vector<std::string>{});
  EXPECT_TRUE(exfattest::RawListing(work).at("three pieces.bin").noFatChain);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "engine")) << "a job that ends cleanly leaves no record";

  int freedSome = 0;
  for (std::uint64_t n = 0; n < total; ++n) {
    SCOPED_TRACE("writes let through: " + std::to_string(n));
    std::uint64_t seen = 0;
    runMoves(n, &seen);
    CheckCrashed(work, contents, &claims);
    CheckReclaimed(work, claims, freeBefore, &freedSome);
    if (HasFailure()) break;
  }
  EXPECT_GT(freedSome, 0) << "some kill must have left claimed clusters";
}

using exfattest::JournalIo;

// A disk with a write cache may store the writes made since the last flush in any
// order, so a crash may keep any subset of them. For every epoch between flushes and
// every subset of its writes, the image holds all earlier epochs and that subset.
TEST(ExfatCrashTest, LosingAnyUnflushedWritesLeavesEveryFileIntact) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string pristine = exfattest::CopyOfFixture(dir, "exfat_small_4k");
  const std::string work = dir / "work.img";
  const auto contents = exfattest::RawContents(pristine);
  const std::string start = fattest::ReadAll(pristine);

  std::vector<std::vector<JournalIo::Record>> epochs;
  std::uint64_t commits = 0;  // writes of the File and Stream Extension entries
  {
    FatOpenStatus status;
    auto v = ExfatVolume::Open(
        std::make_unique<JournalIo>(std::vector<std::uint8_t>(start.begin(), start.end()), &epochs), &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    ASSERT_EQ(RunMoves(*v), kErrorSuccess);
    const std::uint64_t sector = v->Geometry().bytesPerSector;
    for (const auto& epoch : epochs) {
      for (const auto& w : epoch) {
        if (w.bytes.size() == 64 && w.bytes[0] == 0x85) {
          ++commits;
          EXPECT_EQ(w.offset / sector, (w.offset + 63) / sector) << "an entry write crosses a sector";
        }
      }
    }
  }
  EXPECT_GE(commits, 3u);
  ASSERT_GT(epochs.size(), 8u);

  std::string image = start;
  auto apply = [](std::string& bytes, const JournalIo::Record& w) {
    std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(w.offset));
  };
  int cases = 0;
  for (std::size_t e = 0; e < epochs.size(); ++e) {
    const auto& writes = epochs[e];
    ASSERT_LE(writes.size(), 10u) << "an epoch too large to try every subset";
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
}  // namespace platform::exfat
