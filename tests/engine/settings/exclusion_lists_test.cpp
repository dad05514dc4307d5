// Matching folder and file names against the exclusion lists.
#include "settings/exclusion_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexa {
namespace {

ExclusionLists Lists(std::initializer_list<const char*> folders, std::initializer_list<FileExclusion> files) {
  ExclusionLists lists = ExclusionLists::WithBuiltIns();
  for (const char* folder : folders) lists.AddFolder(folder);
  for (const FileExclusion& file : files) lists.AddFile(file.name, file.kind);
  return lists;
}

TEST(ExclusionListsTest, BuiltInFoldersComeFirstInTheirOrder) {
  const ExclusionLists lists = Lists({"Temp"}, {});
  EXPECT_EQ(lists.folders, (std::vector<std::string>{"System Volume Information", "RECYCLER", "dllcache", "Help",
                                                      "cache", "Fonts", "Installer", "Local Settings", "Temp"}));
  EXPECT_TRUE(lists.files.empty());
}

TEST(ExclusionListsTest, FolderEntriesMatchWholeNamesWithoutCase) {
  const ExclusionLists lists = Lists({"TEMP"}, {});
  EXPECT_TRUE(IsFolderExcluded(lists, "Temp"));
  EXPECT_TRUE(IsFolderExcluded(lists, "temp"));
  EXPECT_FALSE(IsFolderExcluded(lists, "MyTemp"));
  EXPECT_FALSE(IsFolderExcluded(lists, "Temp2"));
  EXPECT_FALSE(IsFolderExcluded(lists, "Tem"));
  EXPECT_TRUE(IsFolderExcluded(lists, "recycler"));
  EXPECT_FALSE(IsFolderExcluded(lists, "MyRECYCLER"));
  EXPECT_TRUE(IsFolderExcluded(lists, "system volume information"));
  EXPECT_FALSE(IsFolderExcluded(lists, "Windows"));
}

TEST(ExclusionListsTest, TypeEntryExcludesEveryFileWithThatExtension) {
  for (const char* entry : {"exe", ".exe", "EXE"}) {
    SCOPED_TRACE(entry);
    const ExclusionLists lists = Lists({}, {{entry, FileEntryKind::kType}});
    EXPECT_TRUE(IsFileExcluded(lists, "setup.exe"));
    EXPECT_TRUE(IsFileExcluded(lists, "SETUP.EXE"));
    EXPECT_TRUE(IsFileExcluded(lists, "my.setup.Exe"));
    EXPECT_FALSE(IsFileExcluded(lists, "setup.exe.bak"));
    EXPECT_FALSE(IsFileExcluded(lists, "setup.exes"));
    EXPECT_FALSE(IsFileExcluded(lists, "notexe"));
    EXPECT_FALSE(IsFileExcluded(lists, "exe"));
  }
}

TEST(ExclusionListsTest, FileEntryExcludesTheNameWithOrWithoutItsLastExtension) {
  const ExclusionLists lists = Lists({}, {{"readme", FileEntryKind::kName}, {"a.log", FileEntryKind::kName}});
  EXPECT_TRUE(IsFileExcluded(lists, "readme"));
  EXPECT_TRUE(IsFileExcluded(lists, "readme.txt"));
  EXPECT_TRUE(IsFileExcluded(lists, "README.TXT"));
  EXPECT_FALSE(IsFileExcluded(lists, "readme.txt.gz"));
  EXPECT_FALSE(IsFileExcluded(lists, "readme2.txt"));
  EXPECT_FALSE(IsFileExcluded(lists, "myreadme"));
  // An entry that carries an extension matches the whole name, and that name with one
  // more extension.
  EXPECT_TRUE(IsFileExcluded(lists, "A.LOG"));
  EXPECT_TRUE(IsFileExcluded(lists, "a.log.old"));
  EXPECT_FALSE(IsFileExcluded(lists, "a.txt"));
  EXPECT_FALSE(IsFileExcluded(lists, "a"));
  // A file entry is not a type entry: "log" names a file, not an extension.
  const ExclusionLists logName = Lists({}, {{"log", FileEntryKind::kName}});
  EXPECT_FALSE(IsFileExcluded(logName, "a.log"));
}

TEST(ExclusionListsTest, EmptyEntriesExcludeNothing) {
  const ExclusionLists lists =
      Lists({""}, {{"", FileEntryKind::kName}, {"", FileEntryKind::kType}, {".", FileEntryKind::kType}});
  EXPECT_FALSE(IsFolderExcluded(lists, "Data"));
  EXPECT_FALSE(IsFolderExcluded(lists, ""));
  EXPECT_FALSE(IsFileExcluded(lists, "file."));
  EXPECT_FALSE(IsFileExcluded(lists, ".txt"));
  EXPECT_FALSE(IsFileExcluded(lists, "file"));
  EXPECT_FALSE(IsFileExcluded(lists, ""));
}

TEST(ExclusionListsTest, EntriesAreCutTo255BytesAndAtAZeroByte) {
  ExclusionLists cut = Lists({}, {});
  cut.AddFolder(std::string(300, 'x'));
  cut.AddFile(std::string("ab\0cd", 5), FileEntryKind::kType);
  EXPECT_EQ(cut.folders.back(), std::string(255, 'x'));
  EXPECT_EQ(cut.files[0].name, "ab");
  EXPECT_TRUE(IsFolderExcluded(cut, std::string(255, 'X')));
  EXPECT_FALSE(IsFolderExcluded(cut, std::string(300, 'x')));
}

}  // namespace
}  // namespace vexa
