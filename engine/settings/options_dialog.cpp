// The Options dialog's logic: snapshot, exclusive switches, and applying a confirmed dialog.
#include "settings/options_dialog.h"

#include <mutex>

#include "core/engine.h"
#include "platform/registry.h"
#include "settings/exclusions.h"
#include "settings/switches.h"

namespace vexa {
namespace {

std::mutex gFlagsMutex;
OptionsFlags gDialogFlags;

void SetDialogFlags(const OptionsFlags& flags) {
  std::lock_guard lock(gFlagsMutex);
  gDialogFlags = flags;
}

// Sets or deletes "Vexarun"; true when the registry now says what `on` asks for.
bool UpdateStartupEntry(bool on, const Notify& notify) {
  platform::Registry& registry = platform::CurrentRegistry();
  if (!registry.CreateKey(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath)) {
    notify(kFailCreateKey, kProductTitle);
    return false;
  }
  if (on) {
    if (!registry.SetString(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, kStartupValueName,
                            StartupCommand(gWorkingFolder))) {
      notify(kFailWriteKey, kProductTitle);
      return false;
    }
  } else if (!registry.DeleteValue(platform::RegistryRoot::kLocalMachine, platform::kRunKeyPath, kStartupValueName)) {
    notify(kFailDeleteKey, kProductTitle);
    return false;
  }
  return true;
}

}  // namespace

void ResetOptionsDialogFlags() {
  SetDialogFlags({GetSwitch(Switch::kStartup), GetSwitch(Switch::kTurnOff), GetSwitch(Switch::kRestart)});
}

OptionsFlags OptionsDialogFlags() {
  std::lock_guard lock(gFlagsMutex);
  return gDialogFlags;
}

OptionsSession::OptionsSession() : snapshot_{GetExclusionTexts(), OptionsDialogFlags()} {}

OptionsFlags OptionsSession::TurnOffClicked(OptionsFlags controls) {
  if (controls.turnOff == 1) controls.restart = 0;
  return controls;
}

OptionsFlags OptionsSession::RestartClicked(OptionsFlags controls) {
  if (controls.restart == 1) controls.turnOff = 0;
  return controls;
}

void OptionsSession::Confirm(const OptionsData& controls) {
  SetExclusionTexts(controls.texts);
  SetDialogFlags(controls.flags);
}

void OptionsSession::Cancel() {
  SetExclusionTexts(snapshot_.texts);
  SetDialogFlags(snapshot_.flags);
}

std::string StartupCommand(const std::string& workingFolder) {
  std::string folder = workingFolder;
  // Drop the working folder's own separator, then its last name: the program folder.
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  const std::size_t cut = folder.find_last_of("\\/");
  folder = cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
  return "\"" + folder + "DefragShell.exe\"";
}

bool ApplyConfirmedOptions(const Notify& notify) {
  const bool written = RewriteExclusions();
  const OptionsFlags flags = OptionsDialogFlags();
  if (flags.startup != GetSwitch(Switch::kStartup) && UpdateStartupEntry(flags.startup != 0, notify)) {
    SetSwitch(Switch::kStartup, flags.startup);
  }
  SetSwitch(Switch::kTurnOff, flags.turnOff);
  SetSwitch(Switch::kRestart, flags.restart);
  return written;
}

}  // namespace vexa
