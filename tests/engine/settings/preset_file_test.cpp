// Reading "preset.ini" into texts and lists, and forming its bytes from the dialog's texts.
#include "settings/preset_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexa {
namespace {

std::vector<std::string> UserFolders(const ExclusionLists& lists) {
  return {lists.folders.begin() + kBuiltInExcludedFolders.size(), lists.folders.end()};
}

struct Parsed {
  ExclusionTexts texts;
  ExclusionLists lists;
};

Parsed Parse(std::string_view content) {
  Parsed parsed{{}, ExclusionLists::WithBuiltIns()};
  parsed.texts = ParsePreset(content, parsed.lists);
  return parsed;
}

struct Formatted {
  std::string bytes;
  ExclusionLists lists;
};

Formatted Format(const ExclusionTexts& texts) {
  Formatted formatted{{}, ExclusionLists::WithBuiltIns()};
  formatted.bytes = FormatPreset(texts, formatted.lists);
  return formatted;
}

TEST(PresetFileReadTest, OneEntryPerSection) {
  for (const char* content : {"[folder]\r\nTemp\r\n[file]\r\na.log\r\n[type]\r\nexe",
                              "[folder]\nTemp\n[file]\na.log\n[type]\nexe\n"}) {
    const Parsed parsed = Parse(content);
    EXPECT_EQ(parsed.texts, (ExclusionTexts{"Temp;", "a.log;", "exe;"}));
    EXPECT_EQ(UserFolders(parsed.lists), std::vector<std::string>{"Temp"});
    EXPECT_EQ(parsed.lists.files, (std::vector<FileExclusion>{{"a.log", FileEntryKind::kName},
                                                              {"exe", FileEntryKind::kType}}));
  }
}

TEST(PresetFileReadTest, EmptyContentLeavesBuiltInsAlone) {
  const Parsed parsed = Parse("");
  EXPECT_EQ(parsed.texts, ExclusionTexts{});
  EXPECT_EQ(parsed.lists.folders.size(), 8u);
  EXPECT_TRUE(parsed.lists.files.empty());
}

TEST(PresetFileReadTest, LinesBeforeTheFirstHeaderAreIgnored) {
  const Parsed parsed = Parse("Temp\r\n; a comment\r\n\r\n[Folder]\r\n[folder]\r\nData\r\n");
  EXPECT_EQ(parsed.texts.folder, "Data;");
  EXPECT_EQ(UserFolders(parsed.lists), std::vector<std::string>{"Data"});
}

TEST(PresetFileReadTest, TextAfterTheFirstBracketIsDropped) {
  const Parsed parsed = Parse("[folder] excluded folders\r\nabc]def\r\n[file]]x\r\nb.txt\r\n");
  EXPECT_EQ(parsed.texts.folder, "abc];");
  EXPECT_EQ(UserFolders(parsed.lists), std::vector<std::string>{"abc]"});
  EXPECT_EQ(parsed.texts.file, "b.txt;");
}

TEST(PresetFileReadTest, HeadersAreCaseSensitive) {
  const Parsed parsed = Parse("[folder]\r\n[Folder]\r\n[FILE]\r\n[type]\r\n[Type]\r\n");
  EXPECT_EQ(parsed.texts.folder, "[Folder];[FILE];");
  EXPECT_EQ(UserFolders(parsed.lists), (std::vector<std::string>{"[Folder]", "[FILE]"}));
  EXPECT_EQ(parsed.texts.type, "[Type];");
}

TEST(PresetFileReadTest, EmptyLinesAreEmptyEntriesAndNothingIsTrimmed) {
  const Parsed parsed = Parse("[folder]\r\n\r\n My Data \r\n\tTab\r\n");
  EXPECT_EQ(parsed.texts.folder, "; My Data ;\tTab;");
  EXPECT_EQ(UserFolders(parsed.lists), (std::vector<std::string>{"", " My Data ", "\tTab"}));
}

TEST(PresetFileReadTest, SectionsRepeatInAnyOrder) {
  const Parsed parsed = Parse("[type]\nexe\n[file]\nx\n[type]\nrar\n[folder]\nA\n[folder]\nB");
  EXPECT_EQ(parsed.texts, (ExclusionTexts{"A;B;", "x;", "exe;rar;"}));
  EXPECT_EQ(parsed.lists.files,
            (std::vector<FileExclusion>{
                {"exe", FileEntryKind::kType}, {"x", FileEntryKind::kName}, {"rar", FileEntryKind::kType}}));
  EXPECT_EQ(UserFolders(parsed.lists), (std::vector<std::string>{"A", "B"}));
}

TEST(PresetFileReadTest, LongEntriesAreCutTo255Bytes) {
  const std::string longEntry = std::string(254, 'a') + "bcd";
  const Parsed parsed = Parse("[file]\r\n" + longEntry + "\r\nnext\r\n");
  ASSERT_EQ(parsed.lists.files.size(), 2u);
  EXPECT_EQ(parsed.lists.files[0].name, std::string(254, 'a') + "b");
  EXPECT_EQ(parsed.lists.files[1].name, "next");
  EXPECT_EQ(parsed.texts.file, std::string(254, 'a') + "b;next;");
}

TEST(PresetFileWriteTest, FormsTheFileLineByLine) {
  const Formatted formatted = Format({"Temp;Backup;", "", "exe;rar;"});
  EXPECT_EQ(formatted.bytes, "[folder]\r\nTemp\r\nBackup\r\n[file]\r\n[type]\r\nexe\r\nrar");
  EXPECT_EQ(UserFolders(formatted.lists), (std::vector<std::string>{"Temp", "Backup"}));
  EXPECT_EQ(formatted.lists.files, (std::vector<FileExclusion>{{"exe", FileEntryKind::kType},
                                                               {"rar", FileEntryKind::kType}}));
}

TEST(PresetFileWriteTest, SpacesGoAndEveryPieceBetweenSemicolonsIsAnEntry) {
  const Formatted formatted = Format({"Temp; My Data ;;Old;", "", ""});
  EXPECT_EQ(formatted.bytes, "[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]");
  EXPECT_EQ(UserFolders(formatted.lists), (std::vector<std::string>{"Temp", "MyData", "", "Old"}));
}

TEST(PresetFileWriteTest, EdgesOfTheSplit) {
  EXPECT_EQ(Format({";", "a", "   "}).bytes, "[folder]\r\n\r\n[file]\r\na\r\n[type]");
  EXPECT_EQ(Format({";x", "", "exe"}).bytes, "[folder]\r\n\r\nx\r\n[file]\r\n[type]\r\nexe");
  EXPECT_EQ(Format({"", "", ""}).bytes, "[folder]\r\n[file]\r\n[type]");
}

TEST(PresetFileWriteTest, WhatIsWrittenReadsBackAsTheSameLists) {
  const ExclusionTexts typed{" Temp ;My Data;;", "readme; a.log", "exe;.rar;"};
  const Formatted formatted = Format(typed);
  const Parsed parsed = Parse(formatted.bytes);
  EXPECT_EQ(parsed.lists.folders, formatted.lists.folders);
  EXPECT_EQ(parsed.lists.files, formatted.lists.files);
  EXPECT_EQ(parsed.texts, (ExclusionTexts{"Temp;MyData;;", "readme;a.log;", "exe;.rar;"}));
}

TEST(PresetFileWriteTest, LongEntriesAreCutInTheFileToo) {
  const Formatted formatted = Format({std::string(300, 'f'), "", ""});
  EXPECT_EQ(formatted.bytes, "[folder]\r\n" + std::string(255, 'f') + "\r\n[file]\r\n[type]");
  EXPECT_EQ(formatted.lists.folders.back(), std::string(255, 'f'));
}

}  // namespace
}  // namespace vexa
