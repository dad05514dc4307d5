// The DLL_* exports of the engine's dialogs, and the settings exports for front ends
// without windows (the vexa program's "options" and "schedule" commands).
//
// Each export catches everything: no exception crosses the library boundary.
#include <cstdio>
#include <string>

#include "platform/message_box.h"
#include "platform/scheduler.h"
#include "settings/dialogs.h"
#include "settings/exclusions.h"
#include "settings/options_dialog.h"
#include "settings/schedule.h"
#include "vexa/vexa.h"

using namespace vexa;

namespace {

std::string gExclusionText;
std::string gScheduleText;

int32_t ScheduleCode(platform::SchedulerResult result) {
  switch (result) {
    case platform::SchedulerResult::kDone: return VEXA_SCHEDULE_DONE;
    case platform::SchedulerResult::kExists: return VEXA_SCHEDULE_EXISTS;
    case platform::SchedulerResult::kMissing: return VEXA_SCHEDULE_MISSING;
    case platform::SchedulerResult::kUnavailable: return VEXA_SCHEDULE_UNAVAILABLE;
    case platform::SchedulerResult::kFailed: break;
  }
  return VEXA_SCHEDULE_FAILED;
}

std::string Describe(const platform::DailyTask& task) {
  std::string text = "Task: " + task.name + "\n";
  text += "Program: " + task.application + "\n";
  text += "Parameters: " + task.parameters + "\n";
  text += "Working folder: " + task.workingDirectory + "\n";
  char when[64];
  std::snprintf(when, sizeof when, "%s at %02u:%02u", task.daysInterval > 1 ? "every few days" : "daily",
                static_cast<unsigned>(task.startHour), static_cast<unsigned>(task.startMinute));
  // Times the user edited in the crontab are shown as they stand.
  text += task.cronTimes.empty() ? std::string("Runs: ") + when : "Runs: at the crontab times " + task.cronTimes;
  if (task.beginYear != 0) {
    std::snprintf(when, sizeof when, " from %04u-%02u-%02u", static_cast<unsigned>(task.beginYear),
                  static_cast<unsigned>(task.beginMonth), static_cast<unsigned>(task.beginDay));
    text += when;
  }
  text += "\n";
  for (const std::string& setting : task.environment) text += "Environment: " + setting + "\n";
  if (!task.account.empty()) text += "Account: " + task.account + "\n";
  if (!task.comment.empty()) text += "Comment: " + task.comment + "\n";
  return text;
}

}  // namespace

#ifndef _WIN32
namespace vexa {
// No dialogs off Windows: the settings are changed through the exports below.
void ShowOptionsDialog() {}
void ShowAdvanceDialog() {}
}  // namespace vexa
#endif

extern "C" {

void VEXA_CALL DLL_Options(void) {
  try {
    ShowOptionsDialog();
  } catch (...) {
  }
}

int32_t VEXA_CALL DLL_Advance(void) {
  try {
    ShowAdvanceDialog();
  } catch (...) {
  }
  return 0;
}

const char* VEXA_CALL VexaGetExclusionText(int32_t which) {
  try {
    const ExclusionTexts texts = GetExclusionTexts();
    switch (which) {
      case 0: gExclusionText = texts.folder; break;
      case 1: gExclusionText = texts.file; break;
      case 2: gExclusionText = texts.type; break;
      default: return nullptr;
    }
    return gExclusionText.c_str();
  } catch (...) {
    return nullptr;
  }
}

int32_t VEXA_CALL VexaSetOptions(const char* folders, const char* files, const char* types, int32_t turnOff,
                                 int32_t restart) {
  try {
    OptionsSession session;
    OptionsData data = session.Shown();
    if (folders != nullptr) data.texts.folder = folders;
    if (files != nullptr) data.texts.file = files;
    if (types != nullptr) data.texts.type = types;
    // The same order of clicks as in the dialog: the box set last wins.
    if (turnOff == 0 || turnOff == 1) {
      data.flags.turnOff = turnOff;
      data.flags = OptionsSession::TurnOffClicked(data.flags);
    }
    if (restart == 0 || restart == 1) {
      data.flags.restart = restart;
      data.flags = OptionsSession::RestartClicked(data.flags);
    }
    session.Confirm(data);
    const bool written = ApplyConfirmedOptions(
        [](const char* text, const char* title) { platform::ShowMessage(text, title); });
    return written ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t VEXA_CALL VexaAddSchedule(const char* letters) {
  try {
    return ScheduleCode(platform::CurrentScheduler().Create(ScheduleTaskForToday(letters != nullptr ? letters : ""), false));
  } catch (...) {
    return VEXA_SCHEDULE_FAILED;
  }
}

int32_t VEXA_CALL VexaRemoveSchedule(void) {
  try {
    return ScheduleCode(platform::CurrentScheduler().Remove(kScheduleTaskName));
  } catch (...) {
    return VEXA_SCHEDULE_FAILED;
  }
}

int32_t VEXA_CALL VexaReadSchedule(const char** description) {
  try {
    platform::Scheduler& scheduler = platform::CurrentScheduler();
    const platform::TaskPresence presence = scheduler.Check(kScheduleTaskName);
    if (presence == platform::TaskPresence::kUnavailable) return VEXA_SCHEDULE_UNAVAILABLE;
    const std::optional<platform::DailyTask> task =
        presence == platform::TaskPresence::kExists ? scheduler.Read(kScheduleTaskName) : std::nullopt;
    if (!task) return VEXA_SCHEDULE_MISSING;
    gScheduleText = Describe(*task);
    if (description != nullptr) *description = gScheduleText.c_str();
    return VEXA_SCHEDULE_DONE;
  } catch (...) {
    return VEXA_SCHEDULE_FAILED;
  }
}

}  // extern "C"
