// Loading the exclusions from a working folder, rewriting "preset.ini", and walks that
// keep the lists they started with.
#include "settings/exclusions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

namespace vexa {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class ExclusionsTest : public ::testing::Test {
 protected:
  void TearDown() override { LoadExclusions(folder_.Path() + "missing/"); }
  TempDir folder_;
};

TEST_F(ExclusionsTest, MissingPresetFileLeavesTheBuiltInsOnly) {
  LoadExclusions(folder_.Path());
  const auto lists = CurrentExclusions();
  ASSERT_NE(lists, nullptr);
  EXPECT_EQ(lists->folders, ExclusionLists::WithBuiltIns().folders);
  EXPECT_TRUE(lists->files.empty());
  EXPECT_EQ(GetExclusionTexts(), ExclusionTexts{});
}

TEST_F(ExclusionsTest, LoadReplacesWhatAnEarlierLoadFound) {
  WriteFile(folder_.File("preset.ini"), "[folder]\r\nTemp\r\n[file]\r\na.log\r\n[type]\r\nexe");
  LoadExclusions(folder_.Path());
  EXPECT_EQ(GetExclusionTexts(), (ExclusionTexts{"Temp;", "a.log;", "exe;"}));
  EXPECT_TRUE(IsFolderExcluded(*CurrentExclusions(), "temp"));
  EXPECT_TRUE(IsFileExcluded(*CurrentExclusions(), "setup.exe"));

  TempDir empty;
  LoadExclusions(empty.Path());
  EXPECT_EQ(GetExclusionTexts(), ExclusionTexts{});
  EXPECT_FALSE(IsFolderExcluded(*CurrentExclusions(), "temp"));
  EXPECT_EQ(CurrentExclusions()->folders.size(), 8u);
}

TEST_F(ExclusionsTest, RewriteWritesTheExactBytesAndKeepsTheTypedTexts) {
  WriteFile(folder_.File("preset.ini"), "[folder]\r\nOld\r\n");
  LoadExclusions(folder_.Path());
  const ExclusionTexts typed{"Temp; My Data ;;Old;", "", ""};
  SetExclusionTexts(typed);
  ASSERT_TRUE(RewriteExclusions());
  EXPECT_EQ(ReadFile(folder_.File("preset.ini")), "[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]");
  EXPECT_FALSE(FileExists(folder_.File("preset.ini.new")));
  EXPECT_EQ(GetExclusionTexts(), typed);
  const auto lists = CurrentExclusions();
  ASSERT_EQ(lists->folders.size(), 12u);
  EXPECT_EQ(lists->folders[8], "Temp");
  EXPECT_EQ(lists->folders[9], "MyData");
  EXPECT_EQ(lists->folders[10], "");
  EXPECT_EQ(lists->folders[11], "Old");
}

TEST_F(ExclusionsTest, RewritingTwiceLeavesNoDuplicates) {
  LoadExclusions(folder_.Path());
  SetExclusionTexts({"A;B;", "f;", "exe;"});
  ASSERT_TRUE(RewriteExclusions());
  ASSERT_TRUE(RewriteExclusions());
  const auto lists = CurrentExclusions();
  EXPECT_EQ(lists->folders.size(), 10u);
  EXPECT_EQ(lists->files.size(), 2u);
  EXPECT_EQ(ReadFile(folder_.File("preset.ini")), "[folder]\r\nA\r\nB\r\n[file]\r\nf\r\n[type]\r\nexe");
}

TEST_F(ExclusionsTest, NextLoadRebuildsTheTextsFromTheRewrittenFile) {
  LoadExclusions(folder_.Path());
  SetExclusionTexts({" Temp ;;", "read me", "exe; dll"});
  ASSERT_TRUE(RewriteExclusions());
  LoadExclusions(folder_.Path());
  EXPECT_EQ(GetExclusionTexts(), (ExclusionTexts{"Temp;;", "readme;", "exe;dll;"}));
}

TEST_F(ExclusionsTest, WalkKeepsTheListsItStartedWith) {
  WriteFile(folder_.File("preset.ini"), "[folder]\r\nTemp\r\n[type]\r\nexe");
  LoadExclusions(folder_.Path());
  const std::shared_ptr<const ExclusionLists> walk = CurrentExclusions();
  const std::string* firstUserEntry = &walk->folders[8];

  SetExclusionTexts({"Other;", "", ""});
  ASSERT_TRUE(RewriteExclusions());

  EXPECT_EQ(&walk->folders[8], firstUserEntry);
  EXPECT_EQ(*firstUserEntry, "Temp");
  EXPECT_TRUE(IsFolderExcluded(*walk, "Temp"));
  EXPECT_TRUE(IsFileExcluded(*walk, "setup.exe"));
  EXPECT_FALSE(IsFolderExcluded(*CurrentExclusions(), "Temp"));
  EXPECT_TRUE(IsFolderExcluded(*CurrentExclusions(), "Other"));
  EXPECT_FALSE(IsFileExcluded(*CurrentExclusions(), "setup.exe"));
}

// Walks on other threads read their snapshots while the front end rewrites over and
// over; run under TSan (and ASan) this shows no entry is freed or changed under a walk.
TEST_F(ExclusionsTest, RewritesDuringWalksOnOtherThreads) {
  LoadExclusions(folder_.Path());
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  auto walker = [&] {
    while (!done.load()) {
      const auto lists = CurrentExclusions();
      const std::string first = lists->folders.size() > 8 ? lists->folders[8] : "";
      for (int pass = 0; pass < 50; ++pass) {
        IsFolderExcluded(*lists, "Temp");
        IsFileExcluded(*lists, "setup.exe");
        if (lists->folders.size() > 8 && lists->folders[8] != first) mismatches.fetch_add(1);
      }
    }
  };
  std::thread a(walker), b(walker);
  for (int i = 0; i < 200; ++i) {
    SetExclusionTexts({"Temp" + std::to_string(i) + ";X;", "readme;", "exe;"});
    EXPECT_TRUE(RewriteExclusions());
  }
  done.store(true);
  a.join();
  b.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(CurrentExclusions()->folders[8], "Temp199");
}

TEST_F(ExclusionsTest, FileThatCannotBeWrittenKeepsTheOldOneButTheListsAreRebuilt) {
  WriteFile(folder_.File("preset.ini"), "[folder]\r\nKeep\r\n");
  LoadExclusions(folder_.Path());
  // A folder where the new file would go: creating it fails, even for root.
  std::filesystem::create_directory(folder_.Path() + "preset.ini.new");
  SetExclusionTexts({"New;", "", ""});
  EXPECT_FALSE(RewriteExclusions());
  EXPECT_EQ(ReadFile(folder_.File("preset.ini")), "[folder]\r\nKeep\r\n");
  EXPECT_TRUE(IsFolderExcluded(*CurrentExclusions(), "New"));
  EXPECT_FALSE(IsFolderExcluded(*CurrentExclusions(), "Keep"));
}

TEST_F(ExclusionsTest, PresetFileThatIsAFolderCountsAsMissing) {
  std::filesystem::create_directory(folder_.Path() + "preset.ini");
  LoadExclusions(folder_.Path());
  EXPECT_EQ(CurrentExclusions()->folders.size(), 8u);
  EXPECT_EQ(GetExclusionTexts(), ExclusionTexts{});
}

}  // namespace
}  // namespace vexa
