// The log-on tasks in force, their names and the recording fake.
#include "platform/logon_tasks.h"

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::atomic<LogonTasks*> gLogonTasks{nullptr};

}  // namespace

LogonTasks& CurrentLogonTasks() {
  LogonTasks* replaced = gLogonTasks.load(std::memory_order_acquire);
  return replaced != nullptr ? *replaced : SystemLogonTasks();
}

void SetLogonTasks(LogonTasks* tasks) { gLogonTasks.store(tasks, std::memory_order_release); }

std::string LogonTaskName(const std::string& purpose, const std::string& account) {
  // A domain account's separator is not allowed in a task name.
  std::string user = account;
  std::replace(user.begin(), user.end(), '\\', '.');
  return "Tolvane Disk Defrag " + purpose + " (" + user + ")";
}

TaskPresence FakeLogonTasks::Check(const std::string& name) {
  calls.push_back("check " + name);
  if (unavailable) return TaskPresence::kUnavailable;
  return std::any_of(tasks.begin(), tasks.end(), [&](const LogonTask& t) { return t.name == name; })
             ? TaskPresence::kExists
             : TaskPresence::kMissing;
}

SchedulerResult FakeLogonTasks::Register(const LogonTask& task) {
  calls.push_back("register " + task.name);
  if (unavailable) return SchedulerResult::kUnavailable;
  if (failSave) return SchedulerResult::kFailed;
  tasks.erase(std::remove_if(tasks.begin(), tasks.end(), [&](const LogonTask& t) { return t.name == task.name; }),
              tasks.end());
  tasks.push_back(task);
  return SchedulerResult::kDone;
}

SchedulerResult FakeLogonTasks::Remove(const std::string& name) {
  calls.push_back("remove " + name);
  if (unavailable) return SchedulerResult::kUnavailable;
  const auto found = std::find_if(tasks.begin(), tasks.end(), [&](const LogonTask& t) { return t.name == name; });
  if (found == tasks.end()) return SchedulerResult::kMissing;
  if (failSave) return SchedulerResult::kFailed;
  tasks.erase(found);
  return SchedulerResult::kDone;
}

}  // namespace platform
