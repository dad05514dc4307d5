// The advanced dialog's logic: the real-time button against a recording process table
// (its clock moves only when the code waits), and the real-time log-on task.
#include "settings/advance_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/logon_tasks.h"
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
    platform::SetLogonTasks(nullptr);
    test::EngineTest::TearDown();
  }
  Notify Recorder() {
    return [this](const char* text, const char* title) {
      messages.push_back(std::string(text) + "|" + (title != nullptr ? title : "(default)"));
    };
  }

  static std::string RealTimeTask() { return platform::LogonTaskName("Real-time", platform::CurrentUserName()); }

  platform::FakeProcesses processes;
  platform::FakeRegistry registry;
  platform::FakeLogonTasks tasks;
  std::vector<std::string> messages;
};

TEST_F(AdvanceDialogTest, ShownWhileRunningReadsTurnOffAndThePressEndsTheProcessFoundThen) {
  Start();
  const std::string ours = dir.Path() + "VEXAAUTO.exe";
  processes.running = {{7, "explorer.exe", "C:\\Windows\\explorer.exe"}, {42, "vexaauto.EXE", dir.Path() + "vexaauto.EXE"}};
  EXPECT_STREQ(RealTimeShown(), "Turn off");
  EXPECT_EQ(RealTimeProcessId(), 42u);
  // It restarted meanwhile under another id: the press ends the one running now, gently.
  processes.running = {{7, "explorer.exe", "C:\\Windows\\explorer.exe"}, {99, "VEXAAUTO.exe", ours}};
  processes.calls.clear();
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_EQ(processes.calls, (std::vector<std::string>{"find-in-session " + ours, "close 99"}));
  ASSERT_EQ(processes.running.size(), 1u);
  EXPECT_EQ(processes.running[0].id, 7u);
  EXPECT_FALSE(RealTimeRunning());
  EXPECT_EQ(RealTimeProcessId(), 0u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdvanceDialogTest, OnlyOurCopyInOurSessionCountsAndIsEnded) {
  Start();
  const std::string ours = dir.Path() + "VEXAAUTO.exe";
  // Another user's copy of ours, and an unrelated program of the same name in our session.
  processes.running = {{5, "VEXAAUTO.exe", ours, 2}, {6, "VEXAAUTO.exe", "C:\\Other\\VEXAAUTO.exe"}};
  EXPECT_STREQ(RealTimeShown(), "Turn on");
  EXPECT_EQ(RealTimeProcessId(), 0u);
  // "Turn on" starts ours in this session; neither of the others is taken for it.
  processes.calls.clear();
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn off");
  EXPECT_EQ(processes.calls[0], "start " + ours + " in " + dir.Path());
  EXPECT_EQ(RealTimeProcessId(), 1000u);
  // "Turn off" ends only ours.
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  ASSERT_EQ(processes.running.size(), 2u);
  EXPECT_EQ(processes.running[0].id, 5u);
  EXPECT_EQ(processes.running[1].id, 6u);
}

TEST_F(AdvanceDialogTest, ACopyThatIgnoresTheCloseIsEndedAfterTheBoundedWait) {
  Start();
  const std::string ours = dir.Path() + "VEXAAUTO.exe";
  processes.running = {{42, "VEXAAUTO.exe", ours, platform::FakeProcesses::kOwnSession, 777, false}};
  EXPECT_STREQ(RealTimeShown(), "Turn off");
  processes.calls.clear();
  EXPECT_STREQ(RealTimePressed(Recorder()), "Turn on");
  EXPECT_EQ(processes.calls, (std::vector<std::string>{"find-in-session " + ours, "close 42", "terminate 42"}));
  EXPECT_GE(processes.now, kRealTimeCloseWaitMs);
  EXPECT_TRUE(processes.running.empty());
}

TEST(FakeProcessesTest, EndGentlyRefusesAProcessThatIsNoLongerTheOneFound) {
  platform::FakeProcesses processes;
  processes.running = {{42, "VEXAAUTO.exe", "C:\\P\\VEXAAUTO.exe", platform::FakeProcesses::kOwnSession, 10}};
  const platform::ProcessIdentity found = processes.FindInSession("c:\\p\\vexaauto.exe");
  ASSERT_EQ(found.id, 42u);
  // The id now names a later process (another start time), then another program.
  processes.running[0].startTime = 11;
  EXPECT_FALSE(processes.EndGently(found, 3000, 3000));
  processes.running[0] = {42, "other.exe", "C:\\P\\other.exe", platform::FakeProcesses::kOwnSession, 10};
  EXPECT_FALSE(processes.EndGently(found, 3000, 3000));
  EXPECT_EQ(processes.running.size(), 1u);
}

TEST_F(AdvanceDialogTest, EndingAProcessThatIsGoneStillTurnsTheButtonOff) {
  Start();
  processes.running = {{42, "VEXAAUTO.exe", dir.Path() + "VEXAAUTO.exe"}};
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

TEST_F(AdvanceDialogTest, CheckBoxReachesTheLogonTaskOnlyWhenItChanged) {
  platform::SetLogonTasks(&tasks);
  ASSERT_TRUE(registry.SetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, "VEXAAUTO", "old"));
  WriteFile(dir.File("Setting"), std::string(13, '\0'));
  Start();
  EXPECT_EQ(AdvanceCheckBox(), 0);
  tasks.calls.clear();
  ConfirmAdvance(0, Recorder());  // OK without a change
  EXPECT_TRUE(tasks.calls.empty());

  ConfirmAdvance(1, Recorder());
  ASSERT_EQ(tasks.tasks.size(), 1u);
  EXPECT_EQ(tasks.tasks[0], (platform::LogonTask{RealTimeTask(), platform::CurrentUserName(),
                                                 dir.Path() + "VEXAAUTO.exe", dir.Path()}));
  EXPECT_FALSE(registry.GetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, "VEXAAUTO"))
      << "the earlier version's Run value is removed";
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting"))[12], 1);
  Start();
  EXPECT_EQ(AdvanceCheckBox(), 1);

  ConfirmAdvance(0, Recorder());
  EXPECT_TRUE(tasks.tasks.empty());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);
  EXPECT_TRUE(messages.empty());
}

TEST_F(AdvanceDialogTest, SchedulerFailuresShowTheirMessageAndKeepTheSwitch) {
  platform::SetLogonTasks(&tasks);
  Start();
  tasks.unavailable = true;
  ConfirmAdvance(1, Recorder());
  tasks.unavailable = false;
  tasks.failSave = true;
  ConfirmAdvance(1, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);
  tasks.failSave = false;
  ConfirmAdvance(1, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  tasks.failSave = true;
  ConfirmAdvance(0, Recorder());
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  EXPECT_EQ(messages, (std::vector<std::string>{"Fail to create a registry key.|Tolvane Disk Defrag",
                                                "Fail to write a registry key.|Tolvane Disk Defrag",
                                                "Fail to delete a registry key.|Tolvane Disk Defrag"}));
}

}  // namespace
}  // namespace vexa
