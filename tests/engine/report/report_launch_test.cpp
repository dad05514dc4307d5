// The report's file URL and its hand-over to the shell, seen through the shell's test seam.
#include "report/report_launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/engine.h"
#include "platform/shell.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

class ReportLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDocumentOpener([this](const char* target) { opened_.emplace_back(target); });
  }
  void TearDown() override { platform::SetDocumentOpener({}); }
  std::vector<std::string> opened_;
};

TEST_F(ReportLaunchTest, WindowsFolderBecomesAFileUrlWithBlanksKept) {
  ShowReport("C:\\Program Files\\Tool\\vexa\\", 1);
  ShowReport("C:\\Program Files\\Tool\\vexa\\", 2);
  EXPECT_EQ(opened_, (std::vector<std::string>{"file:///C:/Program Files/Tool/vexa/analysisreport.html",
                                                "file:///C:/Program Files/Tool/vexa/defragreport.html"}));
}

TEST_F(ReportLaunchTest, EveryKindButOneOpensTheDefragmentationReport) {
  for (const std::int32_t kind : {0, 2, 3, -1, 1000}) {
    EXPECT_EQ(ReportUrl("D:\\x\\", kind), "file:///D:/x/defragreport.html") << kind;
  }
  EXPECT_EQ(ReportUrl("D:\\x\\", 1), "file:///D:/x/analysisreport.html");
}

TEST_F(ReportLaunchTest, PosixFolderKeepsThreeSlashes) {
  EXPECT_EQ(ReportUrl("/opt/tolvane disk/vexa/", 1), "file:///opt/tolvane disk/vexa/analysisreport.html");
  EXPECT_EQ(ReportUrl("", 1), "file:///analysisreport.html");
}

TEST_F(ReportLaunchTest, ExportUsesTheWorkingFolder) {
  const std::string saved = gWorkingFolder;
  gWorkingFolder = "E:\\My Tools\\vexa\\";
  DLL_ShowReport(1);
  DLL_ShowReport(0);
  gWorkingFolder = saved;
  EXPECT_EQ(opened_, (std::vector<std::string>{"file:///E:/My Tools/vexa/analysisreport.html",
                                                "file:///E:/My Tools/vexa/defragreport.html"}));
}

}  // namespace
}  // namespace vexa
