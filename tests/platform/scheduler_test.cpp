// The crontab line of a daily task, read back by the same code that finds it again, and
// the system scheduler off Windows against a crontab program that keeps its table in a file.
#include "platform/scheduler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace platform {
namespace {

DailyTask SampleTask(const std::string& folder) {
  DailyTask task;
  task.name = "Tolvane Disk Defrag Schedule";
  task.application = folder + "vexa";
  task.parameters = "CE";
  task.workingDirectory = folder;
  task.startHour = 15;
  task.startMinute = 0;
  task.daysInterval = 1;
  task.environment = {"VEXA_VOLUMES=" + folder + "volumes.ini"};
  return task;
}

TEST(CrontabLine, RunsDailyAtTheStartTimeAndReadsBack) {
  const DailyTask task = SampleTask("/home/jane/.local/share/tolvane-disk-defrag/");
  const std::string line = CrontabLine(task);
  EXPECT_EQ(line,
            "0 15 * * * cd '/home/jane/.local/share/tolvane-disk-defrag/' && "
            "VEXA_VOLUMES='/home/jane/.local/share/tolvane-disk-defrag/volumes.ini' "
            "'/home/jane/.local/share/tolvane-disk-defrag/vexa' 'CE' # Tolvane Disk Defrag Schedule");
  EXPECT_EQ(ParseCrontabLine(line, task.name), task);
  EXPECT_EQ(ParseCrontabLine(line, "Another Task"), std::nullopt);
  EXPECT_EQ(ParseCrontabLine("0 15 * * * /bin/true", task.name), std::nullopt);
  EXPECT_EQ(ParseCrontabLine("# Tolvane Disk Defrag Schedule", task.name), std::nullopt);
}

TEST(CrontabLine, QuotesAndPercentSignsInPathsSurviveTheRoundTrip) {
  const DailyTask task = SampleTask("/srv/it's 100% mine/");
  const std::string line = CrontabLine(task);
  EXPECT_NE(line.find("'/srv/it'\\''s 100\\% mine/'"), std::string::npos) << line;
  for (std::size_t at = line.find('%'); at != std::string::npos; at = line.find('%', at + 1)) {
    EXPECT_EQ(line[at - 1], '\\') << "a bare % would end cron's command: " << line;
  }
  EXPECT_EQ(ParseCrontabLine(line, task.name), task);
}

TEST(CrontabLine, TheMarkerFindsTheLineAfterItsTimesWereEdited) {
  const DailyTask task = SampleTask("/home/jane/.local/share/tolvane-disk-defrag/");
  const std::string line = CrontabLine(task);
  const std::string command = line.substr(line.find(" cd "));

  // Another time of day is still the daily form.
  DailyTask later = task;
  later.startHour = 4;
  later.startMinute = 30;
  EXPECT_EQ(ParseCrontabLine("30 4 * * *" + command, task.name), later);
  // Week days, lists and "@daily" are kept as written; the command is read all the same.
  for (const std::string times : {"30 3 * * 1-5", "0 8,20 * * *", "@daily", "*/10 * * * *"}) {
    const std::string edited = times + command;
    EXPECT_TRUE(CrontabLineMarked(edited, task.name)) << edited;
    const std::optional<DailyTask> read = ParseCrontabLine(edited, task.name);
    ASSERT_TRUE(read.has_value()) << edited;
    EXPECT_EQ(read->cronTimes, times);
    EXPECT_EQ(read->application, task.application);
    EXPECT_EQ(read->parameters, "CE");
    EXPECT_EQ(read->environment, task.environment);
  }
  // An editor's carriage return or blanks after the marker still mark it.
  EXPECT_TRUE(CrontabLineMarked(line + "\r", task.name));
  EXPECT_TRUE(CrontabLineMarked(line + "  ", task.name));
  // A commented-out line, another task's line and a bare marker are not ours.
  EXPECT_FALSE(CrontabLineMarked("# " + line, task.name));
  EXPECT_FALSE(CrontabLineMarked("  #" + line, task.name));
  EXPECT_FALSE(CrontabLineMarked(line + " Two", task.name));
  EXPECT_FALSE(CrontabLineMarked(" # " + task.name, task.name));
}

TEST(CrontabLine, ALineBreakInAnyTextIsFound) {
  const DailyTask task = SampleTask("/home/jane/x/");
  EXPECT_FALSE(HoldsLineBreak(task));
  for (int field = 0; field < 4; ++field) {
    DailyTask broken = task;
    std::string* texts[] = {&broken.application, &broken.parameters, &broken.workingDirectory,
                            &broken.environment[0]};
    texts[field]->insert(1, field % 2 == 0 ? "\n" : "\r");
    EXPECT_TRUE(HoldsLineBreak(broken)) << field;
  }
}

#ifndef _WIN32
// A crontab program on PATH that keeps the table in a file, as Debian's does in its spool.
class CrontabSchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldPath_ = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    const std::string script = dir.File("crontab");
    vexa::test::WriteFile(script,
                          "#!/bin/sh\n"
                          "table='" + dir.File("table") + "'\n"
                          "case \"$1\" in\n"
                          "  -l) [ -f \"$table\" ] || { echo \"no crontab for $(id -un)\" >&2; exit 1; }; cat \"$table\" ;;\n"
                          "  -) cat > \"$table\" ;;\n"
                          "  *) exit 2 ;;\n"
                          "esac\n");
    chmod(script.c_str(), 0755);
    setenv("PATH", (dir.Path() + ":" + oldPath_).c_str(), 1);
  }
  void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

  vexa::test::TempDir dir;
  std::string oldPath_;
};

TEST_F(CrontabSchedulerTest, AddsReadsAndRemovesItsLineAndKeepsTheOthers) {
  Scheduler& scheduler = SystemScheduler();
  const DailyTask task = SampleTask(dir.Path());
  EXPECT_EQ(scheduler.Check(task.name), TaskPresence::kMissing);
  EXPECT_EQ(scheduler.Remove(task.name), SchedulerResult::kMissing);
  vexa::test::WriteFile(dir.File("table"), "MAILTO=jane\n5 4 * * * /usr/bin/backup\n");
  EXPECT_EQ(scheduler.Create(task, true), SchedulerResult::kDone);
  EXPECT_EQ(scheduler.Create(task, true), SchedulerResult::kExists);
  EXPECT_EQ(scheduler.Check(task.name), TaskPresence::kExists);
  EXPECT_EQ(scheduler.Edit(task.name), SchedulerResult::kDone);
  EXPECT_EQ(scheduler.Read(task.name), task);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")),
            "MAILTO=jane\n5 4 * * * /usr/bin/backup\n" + CrontabLine(task) + "\n");
  EXPECT_EQ(scheduler.Remove(task.name), SchedulerResult::kDone);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), "MAILTO=jane\n5 4 * * * /usr/bin/backup\n");
  EXPECT_EQ(scheduler.Check(task.name), TaskPresence::kMissing);
}

TEST_F(CrontabSchedulerTest, OtherLinesAreKeptByteForByteAndAnEditedLineIsStillOurs) {
  Scheduler& scheduler = SystemScheduler();
  const DailyTask task = SampleTask(dir.Path());
  // Carriage returns, tabs, a comment and a last line without its line feed.
  const std::string others = "MAILTO=jane\r\n# nightly\tbackup\n\n5 4 * * * /usr/bin/backup  % 'x' \\%";
  vexa::test::WriteFile(dir.File("table"), others);
  ASSERT_EQ(scheduler.Create(task, false), SchedulerResult::kDone);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), others + "\n" + CrontabLine(task) + "\n");

  // The user moved the run to week days at 03:30: still found, never added twice.
  const std::string line = CrontabLine(task);
  const std::string edited = "30 3 * * 1-5" + line.substr(line.find(" cd "));
  vexa::test::WriteFile(dir.File("table"), others + "\n" + edited + "\n");
  EXPECT_EQ(scheduler.Check(task.name), TaskPresence::kExists);
  EXPECT_EQ(scheduler.Create(task, false), SchedulerResult::kExists);
  const std::optional<DailyTask> read = scheduler.Read(task.name);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->cronTimes, "30 3 * * 1-5");
  EXPECT_EQ(read->application, task.application);
  EXPECT_EQ(scheduler.Remove(task.name), SchedulerResult::kDone);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), others + "\n");
}

TEST_F(CrontabSchedulerTest, AWarningOnStandardErrorIsNoLineOfTheTable) {
  vexa::test::WriteFile(dir.File("crontab"),
                        "#!/bin/sh\n"
                        "table='" + dir.File("table") + "'\n"
                        "echo 'crontab: warning: the spool is on a slow disk' >&2\n"
                        "case \"$1\" in\n"
                        "  -l) cat \"$table\" ;;\n"
                        "  -) cat > \"$table\" ;;\n"
                        "esac\n");
  vexa::test::WriteFile(dir.File("table"), "5 4 * * * /usr/bin/backup\n");
  Scheduler& scheduler = SystemScheduler();
  const DailyTask task = SampleTask(dir.Path());
  ASSERT_EQ(scheduler.Create(task, false), SchedulerResult::kDone);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), "5 4 * * * /usr/bin/backup\n" + CrontabLine(task) + "\n");
  EXPECT_EQ(scheduler.Remove(task.name), SchedulerResult::kDone);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), "5 4 * * * /usr/bin/backup\n");
}

TEST_F(CrontabSchedulerTest, ATaskWithALineBreakIsRefusedAndTheTableLeftAlone) {
  vexa::test::WriteFile(dir.File("table"), "5 4 * * * /usr/bin/backup\n");
  DailyTask task = SampleTask(dir.Path());
  task.environment = {"VEXA_VOLUMES=/tmp/a\n* * * * * rm -rf ~ # x"};
  EXPECT_EQ(SystemScheduler().Create(task, false), SchedulerResult::kFailed);
  EXPECT_EQ(vexa::test::ReadFile(dir.File("table")), "5 4 * * * /usr/bin/backup\n");
}

TEST_F(CrontabSchedulerTest, AFailingCrontabMakesTheSchedulerUnavailable) {
  vexa::test::WriteFile(dir.File("crontab"), "#!/bin/sh\necho 'crontab: cannot open spool' >&2\nexit 1\n");
  Scheduler& scheduler = SystemScheduler();
  EXPECT_EQ(scheduler.Check("Tolvane Disk Defrag Schedule"), TaskPresence::kUnavailable);
  EXPECT_EQ(scheduler.Create(SampleTask(dir.Path()), false), SchedulerResult::kUnavailable);
}
#endif

}  // namespace
}  // namespace platform
