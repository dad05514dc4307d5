// The settings across an engine start and stop: switches and exclusions come from the
// working folder at start, the switches go back to "Setting" at stop.
#include <gtest/gtest.h>

#include <string>

#include "settings/exclusions.h"
#include "settings/switches.h"
#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::ReadFile;
using test::WriteFile;

class SettingsStartupTest : public test::EngineTest {};

TEST_F(SettingsStartupTest, SwitchesAndExclusionsAreInForceRightAfterStart) {
  WriteFile(dir.File("Setting"), std::string("123456789\x00\x01\x00\x00", 13));
  WriteFile(dir.File("preset.ini"), "[folder]\r\nTemp\r\n[file]\r\n[type]\r\nexe");
  Start();
  EXPECT_EQ(DLL_GetLogout(), 1);
  EXPECT_EQ(DLL_GetRestart(), 0);
  EXPECT_EQ(DLL_GetAutoRun(), 0);
  EXPECT_TRUE(IsFolderExcluded(*CurrentExclusions(), "TEMP"));
  EXPECT_TRUE(IsFileExcluded(*CurrentExclusions(), "Setup.Exe"));
}

TEST_F(SettingsStartupTest, StopWritesTheChangedSwitchesAndKeepsTheOtherBytes) {
  WriteFile(dir.File("Setting"), std::string("123456789\x00\x01\x00\x00", 13));
  Start();
  SetSwitch(Switch::kTurnOff, 0);
  SetSwitch(Switch::kRestart, 1);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting")), std::string("123456789\x00\x00\x01\x00", 13));
  Start();
  EXPECT_EQ(DLL_GetRestart(), 1);
  EXPECT_EQ(DLL_GetLogout(), 0);
}

TEST_F(SettingsStartupTest, StopWithoutChangesLeavesAnotherProcesssSwitchesAlone) {
  WriteFile(dir.File("Setting"), std::string("123456789\x00\x01\x00\x00", 13));
  Start();
  SetSwitch(Switch::kTurnOff, 1);  // the value it already has: no change
  // Meanwhile another engine saves its own switches.
  WriteFile(dir.File("Setting"), std::string("123456789\x01\x00\x01\x00", 13));
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting")), std::string("123456789\x01\x00\x01\x00", 13));
}

TEST_F(SettingsStartupTest, FirstRunWithoutSettingFileCreatesIt) {
  Start();
  EXPECT_EQ(DLL_GetAutoRun(), 0);
  SetSwitch(Switch::kStartup, 1);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting")), std::string("\0\0\0\0\0\0\0\0\0\x01\0\0\0", 13));
}

}  // namespace
}  // namespace vexa
