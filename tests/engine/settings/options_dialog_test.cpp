// The Options dialog's logic on a started engine: snapshot and Close, the exclusive
// switches, and what OK changes (preset.ini, the start-up log-on task, the live switches).
#include "settings/options_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/logon_tasks.h"
#include "platform/registry.h"
#include "platform/scheduler.h"
#include "settings/exclusions.h"
#include "settings/switches.h"
#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kRun = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class OptionsDialogTest : public test::EngineTest {
 protected:
  void SetUp() override { platform::SetRegistry(&registry); }
  void TearDown() override {
    platform::SetRegistry(nullptr);
    platform::SetLogonTasks(nullptr);
    test::EngineTest::TearDown();
  }
  // The log-on task scheduler in a test's hands (without it, none can be reached here).
  void UseTasks() { platform::SetLogonTasks(&tasks); }
  static std::string StartupTask() { return platform::LogonTaskName("Startup", platform::CurrentUserName()); }
  Notify Recorder() {
    return [this](const char* text, const char* title) {
      messages.push_back(std::string(text) + "|" + (title != nullptr ? title : "(default)"));
    };
  }

  platform::FakeRegistry registry;
  platform::FakeLogonTasks tasks;
  std::vector<std::string> messages;
};

TEST_F(OptionsDialogTest, DialogFlagsStartFromTheSwitchesAndCloseRestoresTheSnapshot) {
  WriteFile(dir.File("Setting"), std::string("\0\0\0\0\0\0\0\0\0\x01\x00\x01\x00", 13));
  WriteFile(dir.File("preset.ini"), "[folder]\r\nTemp\r\n[file]\r\n[type]\r\nexe");
  Start();
  OptionsSession session;
  const OptionsData shown = session.Shown();
  EXPECT_EQ(shown.texts, (ExclusionTexts{"Temp;", "", "exe;"}));
  EXPECT_EQ(shown.flags, (OptionsFlags{1, 0, 1}));

  // The user edits the folder text in place, then presses Close.
  OptionsData edited = shown;
  edited.texts.folder = "Temp;Other;";
  edited.flags.startup = 0;
  SetExclusionTexts(edited.texts);
  session.Cancel();
  EXPECT_EQ(GetExclusionTexts().folder, "Temp;");
  EXPECT_EQ(OptionsDialogFlags(), (OptionsFlags{1, 0, 1}));
  EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nTemp\r\n[file]\r\n[type]\r\nexe");
  EXPECT_TRUE(registry.calls.empty());
  EXPECT_EQ(OptionsSession().Shown(), shown);  // the next opening shows the old data
}

TEST_F(OptionsDialogTest, TurnOffAndRestartAreNeverBothOn) {
  struct Case {
    OptionsFlags controls;
    bool turnOffClicked;
    OptionsFlags expected;
  };
  const Case cases[] = {
      {{0, 1, 1}, true, {0, 1, 0}},   // ticking turn-off clears restart
      {{1, 1, 1}, false, {1, 0, 1}},  // ticking restart clears turn-off; start-up untouched
      {{0, 0, 1}, true, {0, 0, 1}},   // unticking turn-off leaves restart on
      {{0, 1, 0}, false, {0, 1, 0}},  // unticking restart leaves turn-off on
  };
  for (const Case& c : cases) {
    const OptionsFlags after =
        c.turnOffClicked ? OptionsSession::TurnOffClicked(c.controls) : OptionsSession::RestartClicked(c.controls);
    EXPECT_EQ(after, c.expected) << c.controls.startup << c.controls.turnOff << c.controls.restart;
  }
}

TEST_F(OptionsDialogTest, OkRewritesThePresetEveryTimeAndLeavesTheRegistryAloneWhenStartupIsUnchanged) {
  WriteFile(dir.File("Setting"), std::string(13, '\0'));
  Start();
  OptionsSession session;
  OptionsData data = session.Shown();
  data.texts = {"Temp; My Data ;;Old;", "", ""};
  data.flags.turnOff = 1;
  session.Confirm(data);
  EXPECT_TRUE(ApplyConfirmedOptions(Recorder()));
  EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]");
  EXPECT_TRUE(IsFolderExcluded(*CurrentExclusions(), "MyData"));
  EXPECT_EQ(GetExclusionTexts().folder, "Temp; My Data ;;Old;");  // the text keeps what was typed
  EXPECT_EQ(DLL_GetLogout(), 1);
  EXPECT_TRUE(registry.calls.empty());
  EXPECT_TRUE(messages.empty());
  // Unchanged OK: still rewritten (a file changed meanwhile is replaced).
  WriteFile(dir.File("preset.ini"), "junk");
  OptionsSession again;
  again.Confirm(again.Shown());
  EXPECT_TRUE(ApplyConfirmedOptions(Recorder()));
  EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nTemp\r\nMyData\r\n\r\nOld\r\n[file]\r\n[type]");
  EXPECT_TRUE(registry.calls.empty());
}

TEST_F(OptionsDialogTest, StartupSwitchMakesAndRemovesTheUsersLogonTaskAndDropsTheOldRunValue) {
  UseTasks();
  ASSERT_TRUE(registry.SetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, kStartupValueName,
                                 "left by an earlier version"));
  Start();
  OptionsSession on;
  OptionsData data = on.Shown();
  data.flags.startup = 1;
  on.Confirm(data);
  ApplyConfirmedOptions(Recorder());
  EXPECT_EQ(DLL_GetAutoRun(), 1);
  ASSERT_FALSE(platform::CurrentUserName().empty());
  ASSERT_EQ(tasks.tasks.size(), 1u);
  EXPECT_EQ(tasks.tasks[0], (platform::LogonTask{StartupTask(), platform::CurrentUserName(),
                                                 StartupProgram(dir.Path()), ProgramFolderOf(dir.Path())}));
  EXPECT_FALSE(registry.GetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, kStartupValueName))
      << "Windows would block the Run value at every log-on";
  EXPECT_TRUE(messages.empty());

  OptionsSession off;
  data = off.Shown();
  data.flags.startup = 0;
  off.Confirm(data);
  ApplyConfirmedOptions(Recorder());
  EXPECT_EQ(DLL_GetAutoRun(), 0);
  EXPECT_TRUE(tasks.tasks.empty());
  EXPECT_TRUE(messages.empty());
  Stop();
}

TEST_F(OptionsDialogTest, TheSwitchesAreReadBackFromTheTasksAtLoad) {
  UseTasks();
  // A crash after the task was removed, before "Setting" was saved: the task decides.
  WriteFile(dir.File("Setting"), std::string(9, '\0') + '\x01' + std::string(2, '\0') + '\x01');
  Start();
  EXPECT_EQ(DLL_GetAutoRun(), 0);
  EXPECT_EQ(OptionsDialogFlags().startup, 0);
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 0);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting"))[9], 0) << "saved as it is in force";

  // And the other way: tasks made, "Setting" never saved.
  WriteFile(dir.File("Setting"), std::string(13, '\0'));
  tasks.tasks = {{StartupTask(), platform::CurrentUserName(), "x", "y"},
                 {platform::LogonTaskName("Real-time", platform::CurrentUserName()), platform::CurrentUserName(), "x", "y"}};
  Start();
  EXPECT_EQ(DLL_GetAutoRun(), 1);
  EXPECT_EQ(OptionsDialogFlags().startup, 1);
  EXPECT_EQ(GetSwitch(Switch::kRealTimeStartup), 1);
  Stop();

  // A scheduler that cannot be asked leaves "Setting" in force.
  tasks.unavailable = true;
  WriteFile(dir.File("Setting"), std::string(9, '\0') + '\x01' + std::string(3, '\0'));
  Start();
  EXPECT_EQ(DLL_GetAutoRun(), 1);
  Stop();
}

TEST_F(OptionsDialogTest, StartupCommandIsTheShellInTheParentOfTheWorkingFolder) {
  EXPECT_EQ(StartupCommand("C:\\Program Files\\Tolvane Disk Defrag\\vexa\\"),
            "\"C:\\Program Files\\Tolvane Disk Defrag\\DefragShell.exe\"");
  EXPECT_EQ(StartupCommand("/opt/tolvane/vexa/"), "\"/opt/tolvane/DefragShell.exe\"");
}

TEST_F(OptionsDialogTest, SchedulerFailureShowsItsMessageAndLeavesTheSwitchAsItWas) {
  UseTasks();
  struct Case {
    int startupBefore;
    bool unavailable, failSave;
    const char* message;
  };
  const Case cases[] = {
      {0, true, false, "Fail to create a registry key.|Tolvane Disk Defrag"},
      {0, false, true, "Fail to write a registry key.|Tolvane Disk Defrag"},
      {1, false, true, "Fail to delete a registry key.|Tolvane Disk Defrag"},
  };
  for (const Case& c : cases) {
    WriteFile(dir.File("Setting"), std::string(9, '\0') + static_cast<char>(c.startupBefore) + std::string(3, '\0'));
    tasks.tasks.clear();
    if (c.startupBefore == 1) tasks.tasks.push_back({StartupTask(), platform::CurrentUserName(), "x", "y"});
    Start();
    tasks.unavailable = c.unavailable;
    tasks.failSave = c.failSave;
    messages.clear();
    OptionsSession session;
    OptionsData data = session.Shown();
    data.texts.folder = "Kept;";
    data.flags.startup = 1 - c.startupBefore;
    data.flags.restart = 1;
    session.Confirm(data);
    ApplyConfirmedOptions(Recorder());
    EXPECT_EQ(messages, std::vector<std::string>{c.message});
    EXPECT_EQ(DLL_GetAutoRun(), c.startupBefore) << c.message;
    EXPECT_EQ(DLL_GetRestart(), 1) << "the other switches are taken all the same";
    EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nKept\r\n[file]\r\n[type]") << "written before the task";
    // The box stays ticked, so the next confirmed dialog tries again and succeeds.
    tasks.unavailable = tasks.failSave = false;
    messages.clear();
    OptionsSession retry;
    retry.Confirm(retry.Shown());
    ApplyConfirmedOptions(Recorder());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(DLL_GetAutoRun(), 1 - c.startupBefore);
    EXPECT_EQ(tasks.tasks.size(), static_cast<std::size_t>(1 - c.startupBefore));
    Stop();
  }
}

TEST_F(OptionsDialogTest, SetOptionsExportActsAsAConfirmedDialog) {
  WriteFile(dir.File("Setting"), std::string("\0\0\0\0\0\0\0\0\0\x00\x00\x01\x00", 13));
  Start();
  EXPECT_EQ(VexaSetOptions("Temp; Backup", nullptr, "exe;rar", 1, -1), 1);
  EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nTemp\r\nBackup\r\n[file]\r\n[type]\r\nexe\r\nrar");
  EXPECT_EQ(DLL_GetLogout(), 1);
  EXPECT_EQ(DLL_GetRestart(), 0) << "turn-off on clears restart";
  EXPECT_STREQ(VexaGetExclusionText(0), "Temp; Backup");
  EXPECT_STREQ(VexaGetExclusionText(1), "");
  EXPECT_EQ(VexaGetExclusionText(3), nullptr);
  EXPECT_EQ(OptionsDialogFlags(), (OptionsFlags{0, 1, 0})) << "the dialog shows what is in force";
  EXPECT_EQ(VexaSetOptions(nullptr, "a.log", nullptr, -1, 1), 1);
  EXPECT_EQ(DLL_GetLogout(), 0);
  EXPECT_EQ(DLL_GetRestart(), 1);
  Stop();
  EXPECT_EQ(ReadFile(dir.File("Setting")), std::string("\0\0\0\0\0\0\0\0\0\x00\x00\x01\x00", 13));
  Start();
  EXPECT_STREQ(VexaGetExclusionText(0), "Temp;Backup;");
  EXPECT_STREQ(VexaGetExclusionText(1), "a.log;");
  EXPECT_TRUE(registry.calls.empty());
}

#ifndef _WIN32
// Off Windows the dialog exports have no window to show: they return at once and change
// nothing (the settings change through VexaSetOptions and the schedule exports).
TEST_F(OptionsDialogTest, DialogExportsReturnAtOnceWithoutChangingAnything) {
  WriteFile(dir.File("preset.ini"), "[folder]\r\nTemp\r\n[file]\r\n[type]");
  Start();
  const std::string setting = ReadFile(dir.File("Setting"));
  DLL_Options();
  EXPECT_EQ(DLL_Advance(), 0);
  EXPECT_EQ(ReadFile(dir.File("preset.ini")), "[folder]\r\nTemp\r\n[file]\r\n[type]");
  EXPECT_EQ(ReadFile(dir.File("Setting")), setting);
  EXPECT_STREQ(VexaGetExclusionText(0), "Temp;");
  EXPECT_TRUE(registry.calls.empty());
  EXPECT_TRUE(messages.empty());
}
#endif

}  // namespace
}  // namespace vexa
