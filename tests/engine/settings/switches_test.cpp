// The switches' bytes in "Setting": reading, saving in place, creating a missing file,
// and the getter exports.
#include "settings/switches.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Bytes 0..8 that belong to nobody, and must survive every save.
const std::string kForeignHead = "ABCDEFGHI";

class SwitchesTest : public ::testing::Test {
 protected:
  void TearDown() override { LoadSwitches(folder_.Path() + "missing/"); }
  TempDir folder_;
};

TEST_F(SwitchesTest, ReadsBytesNineToTwelve) {
  WriteFile(folder_.File("Setting"), kForeignHead + std::string("\x01\x00\x01\x01", 4));
  LoadSwitches(folder_.Path());
  EXPECT_EQ(GetSwitch(Switch::kStartup), 1);
  EXPECT_EQ(GetSwitch(Switch::kTurnOff), 0);
  EXPECT_EQ(GetSwitch(Switch::kRestart), 1);
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  EXPECT_EQ(DLL_GetAutoRun(), 1);
  EXPECT_EQ(DLL_GetLogout(), 0);
  EXPECT_EQ(DLL_GetRestart(), 1);
}

TEST_F(SwitchesTest, TurnOffByteReachesTheGetterRightAfterLoad) {
  WriteFile(folder_.File("Setting"), std::string(10, '\0') + std::string("\x01\x00\x00", 3));
  LoadSwitches(folder_.Path());
  EXPECT_EQ(DLL_GetLogout(), 1);
  EXPECT_EQ(DLL_GetAutoRun(), 0);
  EXPECT_EQ(DLL_GetRestart(), 0);
}

TEST_F(SwitchesTest, ShortFileLeavesTheMissingSwitchesOff) {
  WriteFile(folder_.File("Setting"), kForeignHead + std::string("\x01\x01", 2));
  SetSwitch(Switch::kRestart, 1);
  SetSwitch(Switch::kRealTimeStartup, 1);
  LoadSwitches(folder_.Path());
  EXPECT_EQ(GetSwitch(Switch::kStartup), 1);
  EXPECT_EQ(GetSwitch(Switch::kTurnOff), 1);
  EXPECT_EQ(GetSwitch(Switch::kRestart), 0);
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);

  WriteFile(folder_.File("Setting"), "abc");
  LoadSwitches(folder_.Path());
  EXPECT_EQ(GetSwitch(Switch::kStartup), 0);
  EXPECT_EQ(GetSwitch(Switch::kTurnOff), 0);
}

TEST_F(SwitchesTest, MissingFileTurnsEverySwitchOff) {
  SetSwitch(Switch::kStartup, 1);
  SetSwitch(Switch::kTurnOff, 1);
  LoadSwitches(folder_.Path());
  EXPECT_EQ(GetSwitch(Switch::kStartup), 0);
  EXPECT_EQ(GetSwitch(Switch::kTurnOff), 0);
  EXPECT_FALSE(FileExists(folder_.File("Setting")));
}

TEST_F(SwitchesTest, SaveTouchesOnlyBytesNineToTwelve) {
  const std::string tail = "after the switches";
  WriteFile(folder_.File("Setting"), kForeignHead + std::string(4, '\0') + tail);
  LoadSwitches(folder_.Path());
  SetSwitch(Switch::kStartup, 1);
  SetSwitch(Switch::kRestart, 1);
  ASSERT_TRUE(SaveSwitches(folder_.Path()));
  EXPECT_EQ(ReadFile(folder_.File("Setting")), kForeignHead + std::string("\x01\x00\x01\x00", 4) + tail);

  SetSwitch(Switch::kStartup, 0);
  SetSwitch(Switch::kTurnOff, 1);
  SetSwitch(Switch::kRestart, 0);
  SetSwitch(Switch::kRealTimeStartup, 1);
  ASSERT_TRUE(SaveSwitches(folder_.Path()));
  EXPECT_EQ(ReadFile(folder_.File("Setting")), kForeignHead + std::string("\x00\x01\x00\x01", 4) + tail);
}

TEST_F(SwitchesTest, SaveLengthensAShortFile) {
  WriteFile(folder_.File("Setting"), "ABCDE");
  LoadSwitches(folder_.Path());
  SetSwitch(Switch::kTurnOff, 1);
  ASSERT_TRUE(SaveSwitches(folder_.Path()));
  EXPECT_EQ(ReadFile(folder_.File("Setting")), std::string("ABCDE\0\0\0\0\0\x01\0\0", 13));
}

TEST_F(SwitchesTest, SaveCreatesAMissingFileAndTheNextLoadFindsTheSwitches) {
  LoadSwitches(folder_.Path());
  SetSwitch(Switch::kStartup, 1);
  SetSwitch(Switch::kRealTimeStartup, 1);
  ASSERT_TRUE(SaveSwitches(folder_.Path()));
  EXPECT_EQ(ReadFile(folder_.File("Setting")), std::string("\0\0\0\0\0\0\0\0\0\x01\0\0\x01", 13));

  SetSwitch(Switch::kStartup, 0);
  LoadSwitches(folder_.Path());
  EXPECT_EQ(GetSwitch(Switch::kStartup), 1);
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
}

TEST_F(SwitchesTest, SaveIntoAFolderThatDoesNotExistFailsQuietly) {
  SetSwitch(Switch::kStartup, 1);
  EXPECT_FALSE(SaveSwitches(folder_.Path() + "no-such-folder/"));
  EXPECT_EQ(GetSwitch(Switch::kStartup), 1);
}

TEST_F(SwitchesTest, FlagTakesTheByteAsItIs) {
  WriteFile(folder_.File("Setting"), kForeignHead + std::string("\x02\xff\x00\x00", 4));
  LoadSwitches(folder_.Path());
  EXPECT_EQ(DLL_GetAutoRun(), 2);
  EXPECT_EQ(DLL_GetLogout(), 255);
}

}  // namespace
}  // namespace vexa
