// The start-at-log-on switches as log-on tasks (see logon_switch.h).
#include "settings/logon_switch.h"

#include "platform/logon_tasks.h"
#include "platform/registry.h"

namespace vexa {
namespace {

void ReadBack(Switch which, const char* purpose) {
  const std::string account = platform::CurrentUserName();
  if (account.empty()) return;
  const platform::TaskPresence presence =
      platform::CurrentLogonTasks().Check(platform::LogonTaskName(purpose, account));
  if (presence == platform::TaskPresence::kUnavailable) return;
  SetSwitch(which, presence == platform::TaskPresence::kExists ? 1 : 0);
}

}  // namespace

bool SetLogonSwitch(const char* purpose, bool on, const std::string& program, const std::string& folder,
                    const char* legacyValue, const Notify& notify) {
  const std::string account = platform::CurrentUserName();
  if (account.empty()) {
    notify(kFailCreateKey, kProductTitle);
    return false;
  }
  platform::LogonTasks& tasks = platform::CurrentLogonTasks();
  const std::string name = platform::LogonTaskName(purpose, account);
  const platform::SchedulerResult result =
      on ? tasks.Register({name, account, program, folder}) : tasks.Remove(name);
  if (result == platform::SchedulerResult::kUnavailable) {
    notify(kFailCreateKey, kProductTitle);
    return false;
  }
  if (result != platform::SchedulerResult::kDone && !(result == platform::SchedulerResult::kMissing && !on)) {
    notify(on ? kFailWriteKey : kFailDeleteKey, kProductTitle);
    return false;
  }
  // Windows would block the earlier version's entry at every log-on and say so. Its
  // removal failing changes nothing of what the task does.
  static_cast<void>(platform::CurrentRegistry().DeleteValue(platform::RegistryRoot::kLocalMachine,
                                                            platform::kRunKeyPath, legacyValue));
  return true;
}

void ReadLogonSwitchesBack() {
  ReadBack(Switch::kStartup, kStartupTaskPurpose);
  ReadBack(Switch::kRealTimeStartup, kRealTimeTaskPurpose);
}

}  // namespace vexa
