// The Options dialog's logic: snapshot, exclusive switches, and applying a confirmed dialog.
#include "settings/options_dialog.h"

#include <mutex>

#include "core/engine.h"
#include "platform/registry.h"
#include "settings/exclusions.h"
#include "settings/logon_switch.h"
#include "settings/switches.h"

namespace vexa {
namespace {

std::mutex gFlagsMutex;
OptionsFlags gDialogFlags;

void SetDialogFlags(const OptionsFlags& flags) {
  std::lock_guard lock(gFlagsMutex);
  gDialogFlags = flags;
}

// Creates or removes the log-on task that starts DefragShell; true when the scheduler
// now holds what `on` asks for.
bool UpdateStartupEntry(bool on, const Notify& notify) {
  return SetLogonSwitch(kStartupTaskPurpose, on, StartupProgram(gWorkingFolder), ProgramFolderOf(gWorkingFolder),
                        kStartupValueName, notify);
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

std::string ProgramFolderOf(const std::string& workingFolder) {
  std::string folder = workingFolder;
  // Drop the working folder's own separator, then its last name: the program folder.
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  const std::size_t cut = folder.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : folder.substr(0, cut + 1);
}

std::string StartupProgram(const std::string& workingFolder) {
  return ProgramFolderOf(workingFolder) + "DefragShell.exe";
}

std::string StartupCommand(const std::string& workingFolder) { return "\"" + StartupProgram(workingFolder) + "\""; }

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
