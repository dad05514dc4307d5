// The log-on task seam: tasks that start a program when one user logs on, with the
// highest privileges that user has (so an administrator's program starts elevated
// without a prompt, where Windows would block a Run entry of a program that needs
// elevation). The Task Scheduler 2.0 interfaces on Windows; off Windows the tasks are
// values in the registry seam (there is no log-on to start them at); a recording fake
// for tests.
#pragma once

#include <string>
#include <vector>

#include "platform/scheduler.h"

namespace platform {

struct LogonTask {
  std::string name;              // the task's name, its key in the scheduler
  std::string account;           // the user whose log-on starts it, who it runs as
  std::string application;       // full path of the program
  std::string workingDirectory;  // with its trailing separator

  bool operator==(const LogonTask&) const = default;
};

class LogonTasks {
 public:
  virtual ~LogonTasks() = default;
  virtual TaskPresence Check(const std::string& name) = 0;
  // Creates the task, or replaces one of that name, to run with the highest privileges.
  virtual SchedulerResult Register(const LogonTask& task) = 0;
  // kMissing when no task of that name exists.
  virtual SchedulerResult Remove(const std::string& name) = 0;
};

// The log-on tasks in force: the system's, or ones a test put in place. Any thread.
LogonTasks& CurrentLogonTasks();
// Puts `tasks` (not owned; null restores the system's) in place. For tests.
void SetLogonTasks(LogonTasks* tasks);
LogonTasks& SystemLogonTasks();

// The name of the log-on task `purpose` ("Startup", "Real-time") for `account`: one task
// per user, since task names are the machine's.
std::string LogonTaskName(const std::string& purpose, const std::string& account);

// Log-on tasks in memory that record every call, for tests.
class FakeLogonTasks : public LogonTasks {
 public:
  bool unavailable = false;
  bool failSave = false;
  std::vector<LogonTask> tasks;
  // "check NAME", "register NAME", "remove NAME".
  std::vector<std::string> calls;

  TaskPresence Check(const std::string& name) override;
  SchedulerResult Register(const LogonTask& task) override;
  SchedulerResult Remove(const std::string& name) override;
};

}  // namespace platform
