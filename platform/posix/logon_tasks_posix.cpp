// Log-on tasks off Windows: there is no log-on that starts programs, so the scheduler
// cannot be reached; the switches that use it keep what "Setting" says.
#include "platform/logon_tasks.h"

namespace platform {
namespace {

class NoLogonTasks : public LogonTasks {
 public:
  TaskPresence Check(const std::string&) override { return TaskPresence::kUnavailable; }
  SchedulerResult Register(const LogonTask&) override { return SchedulerResult::kUnavailable; }
  SchedulerResult Remove(const std::string&) override { return SchedulerResult::kUnavailable; }
};

}  // namespace

LogonTasks& SystemLogonTasks() {
  static NoLogonTasks tasks;
  return tasks;
}

}  // namespace platform
