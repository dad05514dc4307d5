// The advanced options dialog's logic: the real-time button and the start-up check box.
#include "settings/advance_dialog.h"

#include <algorithm>
#include <atomic>

#include "core/engine.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "settings/logon_switch.h"
#include "settings/switches.h"

namespace vexa {
namespace {

// Dialog data, engine-wide. Written on the front end's thread; atomics so a stray
// reader on another thread reads whole values.
std::atomic<std::int32_t> gCheckBox{0};
std::atomic<std::uint32_t> gProcessId{0};
std::atomic<bool> gRunning{false};

}  // namespace

void ResetAdvanceDialog() {
  gCheckBox.store(GetSwitch(Switch::kRealTimeStartup));
  gProcessId.store(0);
  gRunning.store(false);
}

std::int32_t AdvanceCheckBox() { return gCheckBox.load(); }

bool RealTimeRunning() { return gRunning.load(); }

std::uint32_t RealTimeProcessId() { return gProcessId.load(); }

std::string RealTimeImagePath(const std::string& workingFolder) { return workingFolder + kRealTimeImageName; }

const char* RealTimeShown() {
  const std::uint32_t id = platform::CurrentProcesses().FindInSession(RealTimeImagePath(gWorkingFolder)).id;
  gProcessId.store(id);
  gRunning.store(id != 0);
  return id != 0 ? kTurnOffText : kTurnOnText;
}

const char* RealTimePressed(const Notify& notify) {
  platform::Processes& processes = platform::CurrentProcesses();
  if (gRunning.load()) {
    // An end that fails (it has ended already) still leaves it off.
    const platform::ProcessIdentity found = processes.FindInSession(RealTimeImagePath(gWorkingFolder));
    if (found.id != 0) static_cast<void>(processes.EndGently(found, kRealTimeCloseWaitMs, kRealTimeEndWaitMs));
    gRunning.store(false);
    gProcessId.store(0);
    return kTurnOnText;
  }
  if (processes.Start(RealTimeImagePath(gWorkingFolder), gWorkingFolder)) {
    const std::uint64_t started = processes.NowMs();
    for (;;) {
      if (const std::uint32_t id = processes.FindInSession(RealTimeImagePath(gWorkingFolder)).id; id != 0) {
        gProcessId.store(id);
        gRunning.store(true);
        return kTurnOffText;
      }
      const std::uint64_t waited = processes.NowMs() - started;
      if (waited >= kRealTimeStartWaitMs) break;
      processes.SleepMs(static_cast<std::uint32_t>(
          std::min<std::uint64_t>(kRealTimeLookIntervalMs, kRealTimeStartWaitMs - waited)));
    }
  }
  notify(kRealTimeNotStarted, kProductTitle);
  return kTurnOnText;
}

std::string RealTimeStartupCommand(const std::string& workingFolder) {
  return "\"" + workingFolder + kRealTimeImageName + "\"";
}

void ConfirmAdvance(std::int32_t checked, const Notify& notify) {
  gCheckBox.store(checked);
  if (checked == GetSwitch(Switch::kRealTimeStartup)) return;
  if (!SetLogonSwitch(kRealTimeTaskPurpose, checked != 0, RealTimeImagePath(gWorkingFolder), gWorkingFolder,
                      kRealTimeValueName, notify)) {
    return;
  }
  SetSwitch(Switch::kRealTimeStartup, checked);
}

}  // namespace vexa
