// Tests for report template reading, page writing and page names.
#include "report/report_files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/report/report_folder.h"

namespace vexa::report {
namespace {

using testing::ReportFolder;

TEST(VolumePagePath, FolderKindNumberAndExtension) {
  EXPECT_EQ(VolumePagePath("C:\\Tolvane\\vexa\\", ReportKind::kAnalysis, 1),
            "C:\\Tolvane\\vexa\\analysisreport1.html");
  EXPECT_EQ(VolumePagePath("/opt/vexa/", ReportKind::kDefrag, 26), "/opt/vexa/defragreport26.html");
}

TEST(ReadTemplate, TakesBytesUpToTheFirstZero) {
  ReportFolder folder;
  folder.Put("t.html", std::string("<p>\r\n<!--table-->\r\n</p>\0trailing junk", 36));
  std::string text;
  ASSERT_TRUE(ReadTemplate(folder.working() + "t.html", &text));
  EXPECT_EQ(text, "<p>\r\n<!--table-->\r\n</p>");
}

TEST(ReadTemplate, ReadsLargeAndEmptyFilesWhole) {
  ReportFolder folder;
  const std::string big(100000, 'x');
  folder.Put("big.html", big + "<!--table-->");
  folder.Put("empty.html", "");
  std::string text;
  ASSERT_TRUE(ReadTemplate(folder.working() + "big.html", &text));
  EXPECT_EQ(text, big + "<!--table-->");
  ASSERT_TRUE(ReadTemplate(folder.working() + "empty.html", &text));
  EXPECT_EQ(text, "");
}

TEST(ReadTemplate, MissingOrUnreadableFileFails) {
  ReportFolder folder;
  std::string text = "stale";
  EXPECT_FALSE(ReadTemplate(folder.working() + "missing.html", &text));
  EXPECT_EQ(text, "");
  // A folder in the template's place opens on some systems but cannot be read.
  std::filesystem::create_directory(folder.file("dir.html"));
  EXPECT_FALSE(ReadTemplate(folder.working() + "dir.html", &text));
}

TEST(WritePage, ReplacesTheFileWithExactBytes) {
  ReportFolder folder;
  folder.Put("page.html", "an older and longer page than the new one");
  ASSERT_TRUE(WritePage(folder.working() + "page.html", "new\r\nbytes\n"));
  EXPECT_EQ(folder.Get("page.html"), "new\r\nbytes\n");
  ASSERT_TRUE(WritePage(folder.working() + "page.html", ""));
  EXPECT_EQ(folder.Get("page.html"), "");
}

TEST(WritePage, UncreatableFileFails) {
  ReportFolder folder;
  EXPECT_FALSE(WritePage(folder.working() + "no-such-folder/page.html", "x"));
  std::filesystem::create_directory(folder.file("taken.html"));
  EXPECT_FALSE(WritePage(folder.working() + "taken.html", "x"));
}

TEST(PourIntoTemplate, EveryMarkerReceivesTheContent) {
  ReportFolder folder;
  folder.Put("model.html", "<a><!--table--></a><b><!--table--></b>");
  ASSERT_TRUE(PourIntoTemplate(folder.working() + "model.html", kTableMarker, "T<!--table-->",
                               folder.working() + "out.html"));
  EXPECT_EQ(folder.Get("out.html"), "<a>T<!--table--></a><b>T<!--table--></b>");
}

TEST(PourIntoTemplate, UnreadableTemplateWritesNothing) {
  ReportFolder folder;
  folder.Put("out.html", "page of an earlier job");
  EXPECT_FALSE(PourIntoTemplate(folder.working() + "missing.html", kTableMarker, "T",
                                folder.working() + "out.html"));
  EXPECT_EQ(folder.Get("out.html"), "page of an earlier job");
}

}  // namespace
}  // namespace vexa::report
