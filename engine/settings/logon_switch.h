// The two start-at-log-on switches ("Run at Windows startup", "Run Real-time defragment
// at windows startup") as log-on tasks of the current user that run with the highest
// privileges: Windows does not start a program that needs elevation from a Run value at
// log-on, so the Run values "Vexarun" and "VEXAAUTO" are no longer written, and one left
// by an earlier version is removed when its switch is next confirmed.
//
// The tasks, not "Setting", say what is in force: at load each switch is read back from
// whether its task exists, so a crash between the task's change and the unload that saves
// "Setting" cannot leave the switch contradicting what Windows will do.
#pragma once

#include <string>

#include "settings/dialog_texts.h"
#include "settings/switches.h"

namespace vexa {

// Task purposes, part of each task's name (with the user's name).
inline constexpr char kStartupTaskPurpose[] = "Startup";
inline constexpr char kRealTimeTaskPurpose[] = "Real-time";

// Creates (`on`) or removes the current user's log-on task `purpose` that starts
// `program` in `folder`, then deletes the earlier version's machine Run value
// `legacyValue`. True when the scheduler now holds what `on` asks for; otherwise the
// failure is shown through `notify` (titled kProductTitle): the scheduler out of reach
// as kFailCreateKey, a refused save as kFailWriteKey, a refused removal as kFailDeleteKey.
bool SetLogonSwitch(const char* purpose, bool on, const std::string& program, const std::string& folder,
                    const char* legacyValue, const Notify& notify);

// Load, after "Setting" is read: each switch becomes whether its task exists; one whose
// task the scheduler cannot be asked about keeps what "Setting" says.
void ReadLogonSwitchesBack();

}  // namespace vexa
