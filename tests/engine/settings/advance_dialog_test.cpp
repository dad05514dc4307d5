// The advanced dialog's logic: the real-time button against a recording process table
// (its clock moves only when the code waits), and the "VEXAAUTO" Run value.
#include "settings/advance_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/processes.h"
#include "platform/registry.h"
#include "settings/switches.h"
#include "support/engine_fixture.h"

namespace vexa {
namespace {

using test::ReadFile;
using test::WriteFile;

class AdvanceDialogTest : public test::EngineTest {
 protected:
  void SetUp() override {
    platform::SetProcesses(&processes);
    platform::SetRegistry(&registry);
  }
  void TearDown() override {
    platform::SetProcesses(nullptr);
    platform::SetRegistry(nullptr);
    test::EngineTest::TearDown();
  }
  Notify Recorder() {
    return [this](const char* text, const char* title) {
      messages.push_back(std::string(text) + "|" + (title != nullptr ? title : "(default)"));
    };
  }

  platform::FakeProcesses processes;
  platform::FakeRegistry registry;
  std::vector<std::string> messages;
};

TEST_F(AdvanceDialogTest, ShownWhileRunningReadsTurnOffAndThePressEndsTheProcessFoundThen) {
  Start();
  processes.running = {{7, "explorer.exe"}, {42, "vexaauto.EXE"}};
  EXPECT_STREQ(RealTimeShown(), "Turn off");
  EXPECT_EQ(RealTimeProcessId(), 42u);
  // It restarted meanwhile under another id: the press ends the one running now.
  processes.running = {{7, "explorer.exe"}, {99, "VEXAAUTO.exe"}};
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_EQ(processes.calls.back(), "end VEXAAUTO.exe wait=3000");
  ASSERT_EQ(processes.running.size(), 1u);
  EXPECT_EQ(processes.running[0].id, 7u);
  EXPECT_FALSE(RealTimeRunning());
  EXPECT_EQ(RealTimeProcessId(), 0u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdvanceDialogTest, EndingAProcessThatIsGoneStillTurnsTheButtonOff) {
  Start();
  processes.running = {{42, "VEXAAUTO.exe"}};
  EXPECT_STREQ(RealTimeShown(), "Turn off");
  processes.running.clear();
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdvanceDialogTest, TurnOnStartsByFullPathAndWaitsForTheProcessAtMostTenSeconds) {
  Start();
  EXPECT_STREQ(RealTimeShown(), "Turn on");
  processes.appearAfterMs = 2500;
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn off");
  EXPECT_EQ(processes.calls[1], "start " + dir.Path() + "VEXAAUTO.exe in " + dir.Path());
  EXPECT_TRUE(RealTimeRunning());
  EXPECT_EQ(RealTimeProcessId(), 1000u);
  EXPECT_GE(processes.now, 2500u);
  EXPECT_LT(processes.now, 2500u + kRealTimeLookIntervalMs);
  EXPECT_TRUE(messages.empty());

  // Ended, then a start whose program never appears: the wait ends at 10 s.
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  processes.appearAfterMs = 60000;
  processes.now = 0;
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_EQ(processes.now, 10000u);
  EXPECT_FALSE(RealTimeRunning());
  EXPECT_EQ(messages, std::vector<std::string>{"VEXAAUTO.exe could not be started.|Tolvane Disk Defrag"});

  // A start the system refuses: the message at once, no waiting.
  messages.clear();
  processes.startSucceeds = false;
  processes.now = 0;
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_EQ(processes.now, 0u);
  EXPECT_EQ(messages.size(), 1u);
}

TEST_F(AdvanceDialogTest, CheckBoxReachesTheRunKeyOnlyWhenItChanged) {
  WriteFile(dir.File("Setting"), std::string(13, '\0'));
  Start();
  EXPECT_EQ(AdvanceCheckBox(), 0);
  ConfirmAdvance(0, Recorder());  // OK without a change
  EXPECT_TRUE(registry.calls.empty());

  ConfirmAdvance(1, Recorder());
  EXPECT_EQ(registry.GetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, "VEXAAUTO"),
            "\"" + dir.Path() + "VEXAAUTO.exe\"");
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting"))[12], 1);
  Start();
  EXPECT_EQ(AdvanceCheckBox(), 1);

  ConfirmAdvance(0, Recorder());
  EXPECT_FALSE(registry.GetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, "VEXAAUTO"));
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdvanceDialogTest, RegistryFailuresShowTheirMessageAndKeepTheSwitch) {
  Start();
  registry.failCreateKey = true;
  ConfirmAdvance(1, Recorder());
  registry.failCreateKey = false;
  registry.failSet = true;
  ConfirmAdvance(1, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);
  registry.failSet = false;
  ConfirmAdvance(1, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  registry.failDelete = true;
  ConfirmAdvance(0, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"Fail to create a registry key.|Tolvane Disk Defrag",
                                                "Fail to write a registry key.|Tolvane Disk Defrag",
                                                "Fail to delete a registry key.|Tolvane Disk Defrag"}));
}

}  // namespace
}  // namespace vexa
