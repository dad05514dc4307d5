// The claim record: what it keeps across a crash (complete lines only), whose it is,
// and that a record left by an interrupted job is added to, never replaced.
#include "platform/claim_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace platform {
namespace {

std::string FolderOf(const vexa::test::TempDir& dir) { return dir.File(""); }

TEST(ClaimJournalTest, KeepsCompleteRunsAndIsRemovedAtTheEnd) {
  vexa::test::TempDir dir;
  ClaimJournal journal(FolderOf(dir), "serial 1 size 2 file 3:4");
  EXPECT_FALSE(journal.Exists());
  EXPECT_FALSE(journal.Record({{10, 2}})) << "nothing is recorded before Begin";
  ASSERT_TRUE(journal.Begin());
  EXPECT_TRUE(journal.Exists());
  ASSERT_TRUE(journal.Record({{10, 2}, {40, 5}}));
  ASSERT_TRUE(journal.Record({{7, 1}}));
  EXPECT_EQ(journal.Runs(), (std::vector<ClaimedRun>{{10, 2}, {40, 5}, {7, 1}}));

  // A line cut short by a crash was never made durable: it is not read.
  { std::ofstream(journal.Path(), std::ios::app) << "run 99 4"; }
  ClaimJournal again(FolderOf(dir), "serial 1 size 2 file 3:4");
  EXPECT_EQ(again.Runs(), (std::vector<ClaimedRun>{{10, 2}, {40, 5}, {7, 1}}));

  // Another volume's record is not this one's, even under the same file name.
  ClaimJournal other(FolderOf(dir), "serial 9 size 2 file 3:4");
  EXPECT_FALSE(other.Exists());
  EXPECT_TRUE(other.Runs().empty());

  ASSERT_TRUE(journal.End());
  EXPECT_FALSE(again.Exists());
  EXPECT_FALSE(std::filesystem::exists(journal.Path()));
}

TEST(ClaimJournalTest, AnInterruptedJobsRecordIsAddedToNotReplaced) {
  vexa::test::TempDir dir;
  {
    ClaimJournal killed(FolderOf(dir), "volume A");
    ASSERT_TRUE(killed.Begin());
    ASSERT_TRUE(killed.Record({{100, 8}}));
  }
  ClaimJournal next(FolderOf(dir), "volume A");
  ASSERT_TRUE(next.Begin());
  ASSERT_TRUE(next.Record({{200, 1}}));
  EXPECT_EQ(next.Runs(), (std::vector<ClaimedRun>{{100, 8}, {200, 1}}));
  ASSERT_TRUE(next.End());
}

TEST(ClaimJournalTest, ClustersBecomeSortedRunsAndIdentitiesTellVolumesApart) {
  EXPECT_EQ(RunsOfClusters({9, 3, 4, 5, 10, 4, 20}), (std::vector<ClaimedRun>{{3, 3}, {9, 2}, {20, 1}}));
  EXPECT_TRUE(RunsOfClusters({}).empty());
  vexa::test::TempDir dir;
  const std::string a = dir.File("a.img");
  const std::string b = dir.File("b.img");
  { std::ofstream(a) << "a"; }
  { std::ofstream(b) << "b"; }
  EXPECT_EQ(VolumeIdentity(a, 7, 100), VolumeIdentity(a, 7, 100));
  EXPECT_NE(VolumeIdentity(a, 7, 100), VolumeIdentity(b, 7, 100)) << "another file";
  EXPECT_NE(VolumeIdentity(a, 7, 100), VolumeIdentity(a, 8, 100)) << "another serial number";
  EXPECT_NE(VolumeIdentity(a, 7, 100), VolumeIdentity(a, 7, 200)) << "another size";
}

}  // namespace
}  // namespace platform
