// The scheduler seam: one named task that runs a program daily, with the Task Scheduler
// 1.0 COM interfaces behind it on Windows, the user's crontab elsewhere, and a
// recording fake for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A daily task as the engine creates it. Texts are single-byte; the Windows scheduler
// takes them as wide text converted from the ANSI code page.
struct DailyTask {
  std::string name;              // the task's name, its key in the scheduler
  std::string comment;
  std::string account;           // the user it runs as; no password
  std::string application;       // full path of the program
  std::string parameters;        // its command line after the program
  std::string workingDirectory;  // with its trailing separator
  std::uint32_t flags = 0;       // Task Scheduler flags (0x2001: interactive, only when logged on)
  std::uint16_t beginYear = 0;   // first day, local time (0 when unknown)
  std::uint16_t beginMonth = 0;  // 1 to 12
  std::uint16_t beginDay = 0;
  std::uint16_t startHour = 0;   // start time, local
  std::uint16_t startMinute = 0;
  std::uint16_t daysInterval = 1;
  // Off Windows: environment settings put before the command ("VEXA_VOLUMES=/path").
  std::vector<std::string> environment;
  // Off Windows, as read back: the crontab line's times when someone made them other
  // than daily at one time ("30 3 * * 1-5"); empty when startHour and startMinute say it.
  std::string cronTimes;

  bool operator==(const DailyTask&) const = default;
};

// Whether the task exists, or the scheduler cannot be asked.
enum class TaskPresence { kExists, kMissing, kUnavailable };

enum class SchedulerResult {
  kDone,
  kUnavailable,  // the scheduler cannot be reached (COM, crontab missing)
  kExists,       // Create: a task of that name is there already
  kMissing,      // Edit, Remove: no task of that name
  kFailed,       // any other refusal (the save, the crontab write)
};

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual TaskPresence Check(const std::string& name) = 0;
  // Creates the task; with `edit`, the system's editor for it is shown before it is
  // saved (the task is saved whatever the user does there). Never replaces a task.
  virtual SchedulerResult Create(const DailyTask& task, bool edit) = 0;
  // Shows the system's editor for the task (it saves the task itself).
  virtual SchedulerResult Edit(const std::string& name) = 0;
  virtual SchedulerResult Remove(const std::string& name) = 0;
  // The task as the scheduler holds it now (for `vexa schedule show` and tests).
  virtual std::optional<DailyTask> Read(const std::string& name) = 0;
};

// The scheduler in force: the system's, or one a test put in place. Any thread.
Scheduler& CurrentScheduler();
// Puts `scheduler` (not owned; null restores the system's) in place. For tests.
void SetScheduler(Scheduler* scheduler);
Scheduler& SystemScheduler();

// The name of the user this process runs as (GetUserNameA; the login name elsewhere);
// empty when it cannot be found.
std::string CurrentUserName();

// A scheduler in memory that records every call, for tests.
class FakeScheduler : public Scheduler {
 public:
  bool unavailable = false;
  bool failSave = false;
  std::vector<DailyTask> tasks;
  // "check NAME", "create NAME edit=0|1", "edit NAME", "remove NAME", "read NAME".
  std::vector<std::string> calls;

  TaskPresence Check(const std::string& name) override;
  SchedulerResult Create(const DailyTask& task, bool edit) override;
  SchedulerResult Edit(const std::string& name) override;
  SchedulerResult Remove(const std::string& name) override;
  std::optional<DailyTask> Read(const std::string& name) override;
};

// The crontab line that runs `task` daily (off Windows): minute hour * * *, the
// environment settings and the program with its parameters, all quoted for sh, then
// "# " and the task's name as the marker that finds the line again.
std::string CrontabLine(const DailyTask& task);
// The task a crontab line made by CrontabLine holds, or nothing for any other line.
// Times edited by the user are kept in cronTimes.
std::optional<DailyTask> ParseCrontabLine(const std::string& line, const std::string& name);
// Whether `line` is the crontab line of task `name`: a command line that ends with its
// marker, whatever else was edited in it.
bool CrontabLineMarked(const std::string& line, const std::string& name);
// Whether a text of `task` holds a line break, which would end the crontab line early
// and start another: such a task cannot be written to a crontab.
bool HoldsLineBreak(const DailyTask& task);

}  // namespace platform
