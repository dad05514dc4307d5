// Scheduled runs: the task's settings, the Schedule buttons after each step, and the
// schedule exports, against a recording scheduler.
#include "settings/schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/engine_fixture.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

class ScheduleTest : public test::EngineTest {
 protected:
  void SetUp() override { platform::SetScheduler(&scheduler); }
  void TearDown() override {
    platform::SetScheduler(nullptr);
    test::EngineTest::TearDown();
  }
  Notify Recorder() {
    return [this](const char* text, const char* title) {
      messages.push_back(std::string(text) + "|" + (title != nullptr ? title : "(default)"));
    };
  }

  platform::FakeScheduler scheduler;
  std::vector<std::string> messages;
};

TEST(ScheduleTask, HoldsEverySettingOfTheDailyRun) {
  const platform::DailyTask task = ScheduleTask("C:\\Tolvane\\vexa\\", "CE", "jane", 2026, 12, 8);
  EXPECT_EQ(task.name, "Tolvane Disk Defrag Schedule");
  EXPECT_EQ(task.comment, "Run Tolvane Disk Defrag at schedule time.");
  EXPECT_EQ(task.account, "jane");
  EXPECT_EQ(task.parameters, "CE");
  EXPECT_EQ(task.workingDirectory, "C:\\Tolvane\\vexa\\");
  EXPECT_EQ(task.flags, 0x2001u);
  EXPECT_EQ(task.beginYear, 2026);
  EXPECT_EQ(task.beginMonth, 12);
  EXPECT_EQ(task.beginDay, 8);
  EXPECT_EQ(task.startHour, 15);
  EXPECT_EQ(task.startMinute, 0);
  EXPECT_EQ(task.daysInterval, 1);
#ifdef _WIN32
  EXPECT_EQ(task.application, "C:\\Tolvane\\vexa\\vexa.exe");
#else
  EXPECT_EQ(task.application, "C:\\Tolvane\\vexa\\vexa");
  EXPECT_EQ(task.environment, std::vector<std::string>{"VEXA_VOLUMES=C:\\Tolvane\\vexa\\volumes.ini"});
#endif
}

TEST(ScheduleTask, AccountIsAdministratorForAnySpellingOfIt) {
  EXPECT_EQ(ScheduleAccount("ADMINISTRATOR"), "Administrator");
  EXPECT_EQ(ScheduleAccount("administrator"), "Administrator");
  EXPECT_EQ(ScheduleAccount("Administrators"), "Administrators");
  EXPECT_EQ(ScheduleAccount("Jane"), "Jane");
}

TEST(ScheduleButtons, FollowWhatCheckFinds) {
  EXPECT_EQ(ScheduleButtonsFor(platform::TaskPresence::kMissing), (ScheduleButtons{true, false, false}));
  EXPECT_EQ(ScheduleButtonsFor(platform::TaskPresence::kExists), (ScheduleButtons{false, true, true}));
  EXPECT_EQ(ScheduleButtonsFor(platform::TaskPresence::kUnavailable), (ScheduleButtons{false, false, false}));
}

TEST_F(ScheduleTest, AddEditRemoveChangeTheButtonsOnlyWhenTheyWork) {
  Start();
  const ScheduleButtons start{true, false, false};
  ScheduleButtons buttons = AddSchedule("CE", start, true, Recorder());
  EXPECT_EQ(buttons, (ScheduleButtons{false, true, true}));
  ASSERT_EQ(scheduler.tasks.size(), 1u);
  EXPECT_EQ(scheduler.tasks[0].parameters, "CE");
  EXPECT_EQ(scheduler.tasks[0].workingDirectory, dir.Path());
  EXPECT_NE(scheduler.tasks[0].beginYear, 0);
  EXPECT_EQ(scheduler.calls.back(), "create Tolvane Disk Defrag Schedule edit=1");

  // A second Add (the task exists): the message, nothing replaced, buttons as they were.
  EXPECT_EQ(AddSchedule("D", start, true, Recorder()), start);
  EXPECT_EQ(scheduler.tasks[0].parameters, "CE");
  EXPECT_EQ(EditSchedule(buttons, Recorder()), buttons);
  EXPECT_EQ(RemoveSchedule(buttons, Recorder()), (ScheduleButtons{true, false, false}));
  EXPECT_TRUE(scheduler.tasks.empty());
  EXPECT_EQ(messages, std::vector<std::string>{"Fail to create schedule.|(default)"});

  // Deleted outside the program meanwhile: Edit and Remove fail and leave the buttons.
  messages.clear();
  EXPECT_EQ(EditSchedule(buttons, Recorder()), buttons);
  EXPECT_EQ(RemoveSchedule(buttons, Recorder()), buttons);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Fail to edit schedule.|(default)", "Fail to delete schedule.|(default)"}));

  // A scheduler that cannot be reached, or refuses the save.
  messages.clear();
  scheduler.failSave = true;
  EXPECT_EQ(AddSchedule("C", start, false, Recorder()), start);
  scheduler.failSave = false;
  scheduler.unavailable = true;
  EXPECT_EQ(AddSchedule("C", start, false, Recorder()), start);
  EXPECT_EQ(messages, std::vector<std::string>(2, "Fail to create schedule.|(default)"));
}

TEST_F(ScheduleTest, ExportsAddReadAndRemoveTheSameTask) {
  Start();
  const char* text = nullptr;
  EXPECT_EQ(VexaReadSchedule(&text), VEXA_SCHEDULE_MISSING);
  EXPECT_EQ(VexaRemoveSchedule(), VEXA_SCHEDULE_MISSING);
  EXPECT_EQ(VexaAddSchedule("CE"), VEXA_SCHEDULE_DONE);
  EXPECT_EQ(VexaAddSchedule("D"), VEXA_SCHEDULE_EXISTS);
  EXPECT_EQ(scheduler.calls.back(), "create Tolvane Disk Defrag Schedule edit=0");
  ASSERT_EQ(VexaReadSchedule(&text), VEXA_SCHEDULE_DONE);
  const std::string description = text;
  EXPECT_NE(description.find("Task: Tolvane Disk Defrag Schedule\n"), std::string::npos) << description;
  EXPECT_NE(description.find("Parameters: CE\n"), std::string::npos) << description;
  EXPECT_NE(description.find("Runs: daily at 15:00 from "), std::string::npos) << description;
  EXPECT_NE(description.find("Working folder: " + dir.Path() + "\n"), std::string::npos) << description;
  EXPECT_EQ(VexaRemoveSchedule(), VEXA_SCHEDULE_DONE);
  scheduler.unavailable = true;
  EXPECT_EQ(VexaReadSchedule(&text), VEXA_SCHEDULE_UNAVAILABLE);
  EXPECT_EQ(VexaAddSchedule("C"), VEXA_SCHEDULE_UNAVAILABLE);
}

}  // namespace
}  // namespace vexa
