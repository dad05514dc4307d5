// The shared folder walk under each of the rules in which the analysis and the
// defragmentation differ, on one simulated volume.
#include "analysis/folder_walk.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/job_control.h"
#include "core/work_context.h"
#include "platform/sim_machine.h"

namespace vexa {
namespace {

constexpr std::uint32_t kCluster = 4096;

struct Walked {
  std::vector<std::string> files;  // "path" or "path [system]"
  std::vector<std::string> excluded;
  std::uint64_t folders = 0;
  std::uint64_t counted = 0;
  bool finished = false;
};

class FolderWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& c = machine.AddVolume('C', "NTFS", 10000);
    std::int64_t lcn = 10;
    auto add = [&](const std::string& path, std::uint32_t attributes = platform::kAttributeNormal) {
      c.AddFile(path, kCluster, {{lcn, 1}}, attributes);
      lcn += 2;
    };
    add("top.bin");
    add(".hidden");
    add("readonly.bin", platform::kAttributeReadOnly);
    add("sparse.bin", platform::kAttributeSparseFile);
    c.AddFolder("Locked", platform::kAttributeDirectory | platform::kAttributeReadOnly);
    add("Locked\\inside.bin");
    add("Windows\\SYSTEM32\\drv.sys");
    add("Lib\\system32\\low.sys");
    add("Data\\system32.txt");
    add("MyTemp\\a.bin");  // "Temp" is inside the name, not the whole name
    add("temp\\b.bin");    // the whole name in another case
    add("Data\\skip.log");
    // Five nested folders of 200-character names: the fifth ends past kMaxWalkPath.
    const std::string d(200, 'd');
    add(d + "\\" + d + "\\" + d + "\\" + d + "\\" + d + "\\f.bin");
    exclusions = ExclusionLists::WithBuiltIns();
    exclusions.AddFolder("Temp");
    exclusions.AddFile("log", FileEntryKind::kType);
  }

  Walked Walk(const WalkRules& rules, bool withExcludedStep = false) {
    gWork.scannedFolders = 0;
    gWork.scannedFiles = 0;
    gJob.stop.store(false);
    Walked out;
    auto name = [](const WalkedFile& f) { return f.path + (f.system ? " [system]" : ""); };
    ExcludedFileStep excluded;
    if (withExcludedStep) excluded.step = [&](const WalkedFile& f) { out.excluded.push_back(name(f)); };
    out.finished = WalkVolume(machine, "C", exclusions, rules, [&](const WalkedFile& f) { out.files.push_back(name(f)); },
                              excluded);
    out.folders = gWork.scannedFolders;
    out.counted = gWork.scannedFiles;
    gJob.stop.store(true);
    return out;
  }

  platform::sim::SimMachine machine;
  ExclusionLists exclusions;
};

// Folders at the root: Locked, Windows, Data, MyTemp, temp, Lib and the first of the
// nested ones; below them SYSTEM32, system32 and the nested second to fifth.
TEST_F(FolderWalkTest, TheAnalysisRules) {
  const Walked w = Walk(WalkRules{});
  EXPECT_TRUE(w.finished);
  // Passed over: names starting with a dot, read-only and sparse files; read-only
  // folders are entered (the bit marks a customised folder); excluded: whole folder
  // names in any case (temp), file types (.log). "system32" counts anywhere in the
  // holding folder's path, in any case, and not in the file's own name.
  EXPECT_EQ(w.files, (std::vector<std::string>{"C:\\top.bin", "C:\\Locked\\inside.bin",
                                               "C:\\Windows\\SYSTEM32\\drv.sys [system]",
                                               "C:\\Lib\\system32\\low.sys [system]", "C:\\Data\\system32.txt",
                                               "C:\\MyTemp\\a.bin"}));
  // Counted: every folder met (the over-long fifth too, though not entered) and every
  // file met, passed over or not, but not those of folders never entered.
  EXPECT_EQ(w.folders, 13u);
  EXPECT_EQ(w.counted, 9u);
}

TEST_F(FolderWalkTest, TheDefragmentationRules) {
  WalkRules rules;
  rules.folderMatch = WalkRules::FolderMatch::kContainedCaseSensitive;
  rules.systemRule = WalkRules::SystemRule::kFilePathExact;
  rules.passOverReadOnly = false;
  rules.countOverlongEntries = false;
  const Walked w = Walk(rules, true);
  EXPECT_TRUE(w.finished);
  // Read-only files and folders are offered and entered (sparse files never are);
  // folder entries match inside names, case-sensitively (MyTemp is excluded, temp is
  // not); "system32" is looked for in the file's own path, case-sensitively.
  EXPECT_EQ(w.files, (std::vector<std::string>{"C:\\top.bin", "C:\\readonly.bin", "C:\\Locked\\inside.bin",
                                               "C:\\Windows\\SYSTEM32\\drv.sys", "C:\\Lib\\system32\\low.sys [system]",
                                               "C:\\Data\\system32.txt [system]", "C:\\temp\\b.bin"}));
  // What the lists exclude goes to the excluded step, found in excluded folders too.
  EXPECT_EQ(w.excluded, (std::vector<std::string>{"C:\\Data\\skip.log", "C:\\MyTemp\\a.bin"}));
  // The over-long fifth folder goes uncounted; an excluded folder's files are not counted.
  EXPECT_EQ(w.folders, 12u);
  EXPECT_EQ(w.counted, 9u);
}

TEST_F(FolderWalkTest, SmallFilesAreCountedButNotHandedOver) {
  WalkRules rules;
  rules.smallFileBytes = kCluster;
  const Walked w = Walk(rules);
  EXPECT_TRUE(w.files.empty());
  EXPECT_EQ(w.counted, 9u);  // the read-only folder's file too
}

TEST_F(FolderWalkTest, AStopEndsTheWholeWalkAndClosesEverySearch) {
  int seen = 0;
  gWork.scannedFiles = 0;
  gJob.stop.store(false);
  const bool finished = WalkVolume(machine, "C", exclusions, WalkRules{}, [&](const WalkedFile&) {
    if (++seen == 2) gJob.stop.store(true);
  });
  EXPECT_FALSE(finished);
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(machine.OpenHandles(), 0u);
  gJob.stop.store(false);
  EXPECT_THROW((void)WalkVolume(machine, "C", exclusions, WalkRules{},
                                [](const WalkedFile&) { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_EQ(machine.OpenHandles(), 0u) << "a failure thrown by the pass closes the searches";
  gJob.stop.store(true);
}

}  // namespace
}  // namespace vexa
