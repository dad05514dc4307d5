// Scheduled runs: the daily task "Tolvane Disk Defrag Schedule" that runs vexa with the
// chosen drive letters (a quick defragmentation), and the Schedule buttons of the
// advanced dialog (Add, Edit, Remove), apart from their windows.
//
// The task runs the command-line program with the letters as its only argument, daily at
// 15:00 from today, in the working folder. On Windows the program is "vexa.exe" in the
// working folder; elsewhere it is the program that asked for the task (the working
// folder of an installed copy holds no program), and the task names the volume map in
// force, so the run finds the volumes that were checked when it was added.
#pragma once

#include <string>

#include "platform/scheduler.h"
#include "settings/dialog_texts.h"

namespace vexa {

inline constexpr char kScheduleTaskName[] = "Tolvane Disk Defrag Schedule";
inline constexpr char kScheduleComment[] = "Run Tolvane Disk Defrag at schedule time.";
// Run interactively (0x0001), only when the user is logged on (0x2000).
inline constexpr std::uint32_t kScheduleFlags = 0x2001;

// The account a task runs as: "Administrator" for any spelling of that name, else the
// user's name as it is.
std::string ScheduleAccount(const std::string& userName);

// The task for `letters` (for example "CE"), made in `workingFolder` (ending with its
// separator) for `userName`, beginning on the given local date (0s when unknown).
// `program` and (off Windows) `volumeMap` default to "vexa" and "volumes.ini" in the
// working folder.
platform::DailyTask ScheduleTask(const std::string& workingFolder, const std::string& letters,
                                 const std::string& userName, int year, int month, int day,
                                 const std::string& program = {}, const std::string& volumeMap = {});
// The same for today (local date) and the current user, in the engine's working folder.
platform::DailyTask ScheduleTaskForToday(const std::string& letters);

// Which Schedule buttons are enabled: 107 Add, 108 Edit, 109 Remove.
struct ScheduleButtons {
  bool add = false;
  bool edit = false;
  bool remove = false;
  bool operator==(const ScheduleButtons&) const = default;
};

// The buttons for what Check says when the dialog is shown: Add alone when there is no
// task, Edit and Remove when there is one, none when the scheduler cannot be asked.
ScheduleButtons ScheduleButtonsFor(platform::TaskPresence presence);

// The three buttons, each after its own step (the volume selection for Add is done by
// the caller; an Add cancelled there never gets here). Each returns the buttons as they
// must be afterwards (unchanged after a failure) and shows its failure message through
// `notify` with the system's default caption. `edit` shows the scheduler's editor.
ScheduleButtons AddSchedule(const std::string& letters, ScheduleButtons buttons, bool edit, const Notify& notify);
ScheduleButtons EditSchedule(ScheduleButtons buttons, const Notify& notify);
ScheduleButtons RemoveSchedule(ScheduleButtons buttons, const Notify& notify);

}  // namespace vexa
