// The logic of the advanced options dialog (class Advance), apart from its window: the
// real-time defragmenter's button ("Turn on" / "Turn off"), the check box that has
// Windows start the real-time defragmenter at log-on (a log-on task), and
// the data that lives as long as the engine.
//
// The real-time defragmenter is "VEXAAUTO.exe" in the working folder, a program of its
// own, one per user's session. Only a process of the caller's session with that full
// image path counts: another user's copy, or an unrelated program of the same name, is
// neither shown nor ended. Turning it off looks it up at the press (a process id kept
// from earlier may belong to another program by then), asks its tray window to close,
// waits at most 3 s, then ends it hard (waiting at most 3 s more), each only while the
// process is still the one found (path and start time); turning it on starts it by its
// full path in the caller's session and waits at most 10 s for it to appear there. The
// start-up switch changes only when the scheduler agrees with it.
#pragma once

#include <cstdint>
#include <string>

#include "settings/dialog_texts.h"

namespace vexa {

inline constexpr char kRealTimeImageName[] = "VEXAAUTO.exe";
inline constexpr char kRealTimeValueName[] = "VEXAAUTO";
inline constexpr char kTurnOnText[] = "Turn on";
inline constexpr char kTurnOffText[] = "Turn off";
// How long a started real-time defragmenter may take to appear, how often it is looked
// for meanwhile, and how long an ended one may take to go (ms).
inline constexpr std::uint32_t kRealTimeStartWaitMs = 10000;
inline constexpr std::uint32_t kRealTimeLookIntervalMs = 100;
inline constexpr std::uint32_t kRealTimeCloseWaitMs = 3000;
inline constexpr std::uint32_t kRealTimeEndWaitMs = 3000;

// The full path of the real-time defragmenter in `workingFolder` (ending with the
// separator).
std::string RealTimeImagePath(const std::string& workingFolder);

// Load: the check box data becomes the live real-time start-up switch (after it is read
// from "Setting"); the running flag and process id are cleared.
void ResetAdvanceDialog();

// The check box (114) as the dialog shows it when it opens.
std::int32_t AdvanceCheckBox();

// The dialog is shown: looks the real-time defragmenter up and returns the text of
// button 2000. Front end's thread.
const char* RealTimeShown();
// Button 2000 pressed: turns the real-time defragmenter off or on as the running flag
// says and returns the button's new text. A start that does not show up within
// kRealTimeStartWaitMs shows kRealTimeNotStarted (titled kProductTitle) through
// `notify` and leaves the button "Turn on". Front end's thread; blocks while it waits.
const char* RealTimePressed(const Notify& notify);
// Whether the engine believes the real-time defragmenter runs, and its process id.
bool RealTimeRunning();
std::uint32_t RealTimeProcessId();

// The Run value's data: the quoted full path of VEXAAUTO.exe in `workingFolder`.
std::string RealTimeStartupCommand(const std::string& workingFolder);

// OK with the check box showing `checked`: stores it and, when it differs from the live
// switch, creates or removes the log-on task that starts VEXAAUTO.exe (and removes an
// earlier version's Run value "VEXAAUTO"; failures through `notify`, titled
// kProductTitle); the live switch follows only a scheduler that agrees.
// Front end's thread.
void ConfirmAdvance(std::int32_t checked, const Notify& notify);

}  // namespace vexa
