// The logic of the Options dialog (class Filter), apart from its window: the dialog
// data that lives as long as the engine, the snapshot taken when it is shown, the
// mutual exclusion of the turn-off and restart boxes, and what a confirmed dialog
// changes (the preset file, the start-up log-on task, the live switches).
//
// The three texts are the engine's exclusion texts themselves (settings/exclusions.h);
// the three flags are the dialog's own, copied from the live switches at load and kept
// between openings. A live switch changes only when the scheduler agrees with it, so a
// failed task change leaves the start-up switch as it was (and the next confirmed
// dialog tries again).
#pragma once

#include <cstdint>
#include <string>

#include "settings/dialog_texts.h"
#include "settings/preset_file.h"

namespace vexa {

// The value name of the start-up entry an earlier version wrote under the machine's Run
// key; removed when the switch is next confirmed.
inline constexpr char kStartupValueName[] = "Vexarun";

// The check boxes: start-up (104), turn-off (105), restart (106); 0 or 1 each.
struct OptionsFlags {
  std::int32_t startup = 0;
  std::int32_t turnOff = 0;
  std::int32_t restart = 0;
  bool operator==(const OptionsFlags&) const = default;
};

// Everything the dialog's controls show.
struct OptionsData {
  ExclusionTexts texts;
  OptionsFlags flags;
  bool operator==(const OptionsData&) const = default;
};

// Load: the dialog flags become the live switches (after they are read from "Setting").
// Thread: the one that loads the engine.
void ResetOptionsDialogFlags();
// The dialog flags as they stand between openings.
OptionsFlags OptionsDialogFlags();

// One showing of the dialog. Front end's thread only.
class OptionsSession {
 public:
  // The dialog is shown: takes the snapshot of the texts and flags.
  OptionsSession();
  // What the controls show first.
  OptionsData Shown() const { return snapshot_; }
  // Box 105 or 106 was clicked; `controls` is what the boxes show now. Returns what
  // they must show: the other box cleared when the clicked one is on.
  static OptionsFlags TurnOffClicked(OptionsFlags controls);
  static OptionsFlags RestartClicked(OptionsFlags controls);
  // OK: the controls become the dialog data (texts and flags).
  void Confirm(const OptionsData& controls);
  // Close: the texts and flags go back to the snapshot.
  void Cancel();

 private:
  OptionsData snapshot_;
};

// The program folder: the parent of the engine's working folder (`workingFolder` ends
// with its separator), with its own separator.
std::string ProgramFolderOf(const std::string& workingFolder);
// The program the start-up task starts: the full path of DefragShell.exe in the program
// folder; StartupCommand quotes it.
std::string StartupProgram(const std::string& workingFolder);
std::string StartupCommand(const std::string& workingFolder);

// What a confirmed dialog changes, after the dialog data holds the controls' values:
// rewrites "preset.ini" from the texts, brings the start-up entry in line with the
// start-up flag when that differs from the live switch (messages through `notify`,
// titled kProductTitle) and sets the live switches. Returns whether "preset.ini" was
// written. Front end's thread.
bool ApplyConfirmedOptions(const Notify& notify);

}  // namespace vexa
