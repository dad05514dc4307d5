// Messages reach the front end's handler, or standard error when there is none.
#include "platform/message_box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vexa/vexa.h"

namespace platform {
namespace {

std::vector<std::string> gReceived;

void Record(const char* text) { gReceived.emplace_back(text); }

class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override { gReceived.clear(); }
  void TearDown() override { SetMessageHandler(nullptr); }
};

TEST_F(MessageBoxTest, RegisteredHandlerGetsTheTextAndNothingIsPrinted) {
  SetMessageHandler(&Record);
  testing::internal::CaptureStderr();
  ShowMessage("Not enough disk space, volume C can not be defragged.", "Tolvane Disk Defrag");
  ShowMessage(nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(gReceived, (std::vector<std::string>{"Not enough disk space, volume C can not be defragged.", ""}));
}

TEST_F(MessageBoxTest, WithoutAHandlerTheTextGoesToStandardError) {
  testing::internal::CaptureStderr();
  ShowMessage("Not enough disk space, volume D can not be defragged.", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not enough disk space, volume D can not be defragged.\n");
}

TEST_F(MessageBoxTest, ExportRegistersAndRemovesTheHandler) {
  VexaSetMessageHandler(&Record);
  ShowMessage("first", nullptr);
  VexaSetMessageHandler(nullptr);
  testing::internal::CaptureStderr();
  ShowMessage("second", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "second\n");
  EXPECT_EQ(gReceived, std::vector<std::string>{"first"});
}

}  // namespace
}  // namespace platform
