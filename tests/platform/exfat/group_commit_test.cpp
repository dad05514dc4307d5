// Group commit on exFAT: the moves of one file reach the disk together. However many
// moves a group holds, its commit costs the same two flushes and at most one entry
// write; nothing the group changes is named on disk before the commit; and a crash
// that keeps any subset of the unflushed writes of a group of many moves leaves every
// file readable.
#include <gtest/gtest.h>

#include "../../../platform/exfat/exfat_volume.h"
#include "exfat_tools.h"
#include "platform/fat_provider.h"

namespace platform::exfat {
namespace {

using exfattest::JournalIo;
using platform::fat::FatOpenStatus;

using exfattest::FreeRun;

std::unique_ptr<ExfatVolume> OpenJournalled(const std::string& image, std::vector<std::vector<JournalIo::Record>>* epochs,
                                            JournalIo** journal) {
  auto io = std::make_unique<JournalIo>(std::vector<std::uint8_t>(image.begin(), image.end()), epochs);
  *journal = io.get();
  FatOpenStatus status;
  auto v = ExfatVolume::Open(std::move(io), &status);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  return v;
}

// Joins `path` piece by piece into the lowest free run that holds it: one move per
// piece, all in one group. Returns the number of moves.
int JoinPieceByPiece(ExfatVolume& v, const std::string& path) {
  const std::int32_t node = v.Find(path);
  EXPECT_GE(node, 0) << path;
  EXPECT_EQ(v.Unmovable(node), nullptr) << path;
  const std::vector<std::uint32_t> chain = v.Chain(node);
  std::uint32_t target = FreeRun(v, static_cast<std::uint32_t>(chain.size()));
  std::int64_t vcn = 0;
  int moves = 0;
  for (const auto& [lcn, length] : exfattest::RunsOf(chain)) {
    EXPECT_EQ(v.MoveClusters(node, vcn, target - 2, static_cast<std::uint32_t>(length)), kErrorSuccess);
    vcn += length;
    target += static_cast<std::uint32_t>(length);
    ++moves;
  }
  return moves;
}

// Entry writes (File and Stream Extension, 64 bytes) among the journalled writes.
int EntryWrites(const std::vector<std::vector<JournalIo::Record>>& epochs) {
  int n = 0;
  for (const auto& epoch : epochs) {
    for (const auto& w : epoch) n += w.bytes.size() == 64 && w.bytes[0] == kTypeFile ? 1 : 0;
  }
  return n;
}

TEST(ExfatGroupCommitTest, ManyMovesCommitWithTwoFlushesAndOneEntryWrite) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string pristine = fattest::ReadAll(exfattest::Fixture("exfat_mixed_512"));
  const std::string work = dir / "work.img";
  std::vector<std::vector<JournalIo::Record>> epochs;
  JournalIo* journal = nullptr;
  auto v = OpenJournalled(pristine, &epochs, &journal);
  ASSERT_NE(v, nullptr);

  // A group of one move, for comparison: a contiguous file moved whole.
  const std::int32_t whole = v->Find("contiguous.bin");
  const auto wholeClusters = static_cast<std::uint32_t>(v->Chain(whole).size());
  ASSERT_EQ(v->MoveClusters(whole, 0, FreeRun(*v, wholeClusters) - 2, wholeClusters), kErrorSuccess);
  const std::size_t beforeOne = epochs.size();
  ASSERT_TRUE(v->CommitGroup());
  const std::size_t flushesOfOne = epochs.size() - beforeOne;

  // A group of many moves. Until its commit the disk names none of its clusters.
  const std::int32_t a = v->Find("Fragmented A.bin");
  const std::vector<std::uint32_t> oldChain = v->Chain(a);
  const std::size_t beforeMany = epochs.size();
  const int entriesBefore = EntryWrites(epochs);
  const int moves = JoinPieceByPiece(*v, "Fragmented A.bin");
  ASSERT_GE(moves, 5);
  EXPECT_EQ(epochs.size(), beforeMany) << "a move inside a group flushed";
  fattest::WriteAll(work, journal->Bytes());
  EXPECT_EQ(exfattest::RawListing(work).at("Fragmented A.bin").clusters, oldChain) << "the group reached the disk early";
  ASSERT_TRUE(v->CommitGroup());
  EXPECT_EQ(epochs.size() - beforeMany, flushesOfOne) << "a larger group cost more flushes";
  EXPECT_EQ(EntryWrites(epochs) - entriesBefore, 1);
  ASSERT_TRUE(v->FinishChanges());

  fattest::WriteAll(work, journal->Bytes());
  std::string out;
  EXPECT_EQ(exfattest::Fsck(work, &out), 0) << out;
  const exfattest::RawFile joined = exfattest::RawListing(work).at("Fragmented A.bin");
  EXPECT_EQ(exfattest::RunsOf(joined.clusters).size(), 1u);
  EXPECT_TRUE(joined.noFatChain);
  for (std::uint32_t c : oldChain) {
    if (std::find(joined.clusters.begin(), joined.clusters.end(), c) == joined.clusters.end()) {
      EXPECT_FALSE(v->Used(c)) << "cluster " << c << " was left claimed";
    }
  }
}

// Two groups of several moves each (a join of a file in many pieces, and the pieces
// of another file relinked one by one to scattered clusters), then the end of the job;
// every crash keeps every file's content and the volume opens writable.
TEST(ExfatGroupCommitTest, LosingAnyUnflushedWritesOfLargeGroupsLeavesEveryFileReadable) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string source = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  const std::string pristine = fattest::ReadAll(source);
  const auto contents = exfattest::RawContents(source);
  const std::string work = dir / "work.img";
  std::vector<std::vector<JournalIo::Record>> epochs;
  JournalIo* journal = nullptr;
  {
    auto v = OpenJournalled(pristine, &epochs, &journal);
    ASSERT_NE(v, nullptr);
    ASSERT_GE(JoinPieceByPiece(*v, "Folder One\\deeper\\Piecewise.bin"), 3);
    // Relinks: each piece of the other file to a single free cluster of its own, apart.
    const std::int32_t a = v->Find("Fragmented A.bin");
    std::int64_t vcn = 0;
    int relinked = 0;
    for (const auto& [lcn, length] : exfattest::RunsOf(v->Chain(a))) {
      if (relinked < 4 && length == 1) {
        const std::uint32_t target = FreeRun(*v, 3) + 1;  // a free cluster between two free ones
        ASSERT_EQ(v->MoveClusters(a, vcn, target - 2, 1), kErrorSuccess);
        ++relinked;
      }
      vcn += length;
    }
    ASSERT_GE(relinked, 2);
    ASSERT_TRUE(v->FinishChanges());
    EXPECT_FALSE(v->Node(a).NoFatChain());
  }
  EXPECT_GE(EntryWrites(epochs), 1);
  const int cases = exfattest::ForEachCrash(pristine, epochs, [&](const std::string& crashed) {
    fattest::WriteAll(work, crashed);
    std::string out;
    EXPECT_EQ(exfattest::Fsck(work, &out), 0) << out;
    EXPECT_EQ(fattest::ChangedFiles(contents, exfattest::RawContents(work)), std::vector<std::string>{});
    FatOpenStatus status;
    auto reopened = ExfatVolume::Open(
        std::make_unique<platform::fat::MemoryFatIo>(std::vector<std::uint8_t>(crashed.begin(), crashed.end())), &status);
    // Without the job's claim record the crash's VolumeDirty is not ours: read-only, no damage.
    EXPECT_TRUE(status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyExfatDirty)
        << (reopened ? reopened->Problem() : "not opened");
  });
  EXPECT_GT(cases, 30);
}

}  // namespace
}  // namespace platform::exfat
