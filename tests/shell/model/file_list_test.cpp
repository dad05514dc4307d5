// The files of a map cell and the details text.
#include "model/file_list.h"

#include <gtest/gtest.h>

#include <cstring>

namespace shell {
namespace {

TEST(FileListTest, LinesBecomeNodesNamedAfterTheirLastPart) {
  const auto nodes = ParseFileList("C:\\DATA\\BIG.DAT\r\nE:\\A\\B\\c.txt\nLOOSE.BIN\r\n");
  ASSERT_EQ(nodes.size(), 3u);
  EXPECT_EQ(nodes[0].name, "BIG.DAT");
  EXPECT_EQ(nodes[0].path, "C:\\DATA\\BIG.DAT");
  EXPECT_EQ(nodes[1].name, "c.txt");
  EXPECT_EQ(nodes[1].path, "E:\\A\\B\\c.txt");
  EXPECT_EQ(nodes[2].name, "LOOSE.BIN");  // no "\": the whole line
  EXPECT_EQ(nodes[2].path, "LOOSE.BIN");

  EXPECT_TRUE(ParseFileList("").empty());
  const auto last = ParseFileList("C:\\X\\end");  // no final line break
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].name, "end");
  EXPECT_EQ(ParseFileList("C:\\DIR\\").at(0).name, "");
}

TEST(FileListTest, ACellsListIsReadOnlyWhenTheEngineWroteIt) {
  int reads = 0;
  const auto stale = [&reads] {
    ++reads;
    return std::string("E:\\OLD\\PREVIOUS.CELL\r\n");
  };
  // A failed write leaves the previous cell's file: none of it is shown, nor read.
  EXPECT_TRUE(CellFiles(0, stale).empty());
  EXPECT_EQ(reads, 0);
  const std::vector<FileNode> files = CellFiles(1, stale);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, "PREVIOUS.CELL");
  EXPECT_TRUE(CellFiles(1, [] { return std::string(); }).empty()) << "a cell without files";
}

TEST(FileListTest, DetailsTextIsExact) {
  VexaFileDetails details;
  std::memset(&details, 0, sizeof details);
  std::strcpy(details.extentCount, "3");
  std::strcpy(details.clusters, "120");
  std::strcpy(details.bytes, "491520");
  const FileNode node{"BIG.DAT", "E:\\DATA\\BIG.DAT"};
  EXPECT_EQ(DetailsText(node, &details),
            "\r\n    FileName : BIG.DAT    \r\n"
            "    Fragments : 3    \r\n"
            "    Clusters : 120    \r\n"
            "    Size : 491520  Byte.    \r\n"
            "    E:\\DATA\\BIG.DAT    \r\n");
}

TEST(FileListTest, DetailsFieldsStayWithinTheirHundredBytes) {
  VexaFileDetails details;
  std::memset(&details, '7', sizeof details);  // no NUL anywhere
  const std::string text = DetailsText({"F", "E:\\F"}, &details);
  EXPECT_NE(text.find("Fragments : " + std::string(100, '7') + "    \r\n"), std::string::npos);
  EXPECT_NE(text.find("Size : " + std::string(100, '7') + "  Byte."), std::string::npos);
}

TEST(FileListTest, AFileTheEngineCannotOpenIsSaidInOneLine) {
  const std::string text = DetailsText({"LOCKED.DB", "E:\\LOCKED.DB"}, nullptr);
  EXPECT_NE(text.find("LOCKED.DB cannot be opened"), std::string::npos);
  EXPECT_EQ(text.find("Fragments"), std::string::npos);
  EXPECT_EQ(text.find("\r\n", 2), text.size() - 2);  // one line between the breaks
}

}  // namespace
}  // namespace shell
