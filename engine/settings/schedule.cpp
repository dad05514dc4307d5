// Scheduled runs: the task's settings and the Schedule buttons.
#include "settings/schedule.h"

#include <cstdlib>
#include <ctime>

#include "core/engine.h"
#include "platform/library.h"
#include "platform/processes.h"

namespace vexa {
namespace {

#ifdef _WIN32
constexpr char kProgramName[] = "vexa.exe";
#else
constexpr char kProgramName[] = "vexa";
#endif

}  // namespace

std::string ScheduleAccount(const std::string& userName) {
  return platform::SameNameIgnoringCase(userName, "Administrator") ? std::string("Administrator") : userName;
}

platform::DailyTask ScheduleTask(const std::string& workingFolder, const std::string& letters,
                                 const std::string& userName, int year, int month, int day,
                                 const std::string& program, const std::string& volumeMap) {
  platform::DailyTask task;
  task.name = kScheduleTaskName;
  task.comment = kScheduleComment;
  task.account = ScheduleAccount(userName);
  task.application = program.empty() ? workingFolder + kProgramName : program;
  task.parameters = letters;
  task.workingDirectory = workingFolder;
  task.flags = kScheduleFlags;
  task.beginYear = static_cast<std::uint16_t>(year);
  task.beginMonth = static_cast<std::uint16_t>(month);
  task.beginDay = static_cast<std::uint16_t>(day);
  task.startHour = 15;
  task.startMinute = 0;
  task.daysInterval = 1;
#ifndef _WIN32
  // cron starts the program with an environment of its own: the volume map is named.
  task.environment.push_back("VEXA_VOLUMES=" + (volumeMap.empty() ? workingFolder + "volumes.ini" : volumeMap));
#else
  (void)volumeMap;
#endif
  return task;
}

platform::DailyTask ScheduleTaskForToday(const std::string& letters) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  int year = 0, month = 0, day = 0;
#ifdef _WIN32
  const bool known = localtime_s(&local, &now) == 0;
#else
  const bool known = localtime_r(&now, &local) != nullptr;
#endif
  if (known) {
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
  }
#ifdef _WIN32
  return ScheduleTask(gWorkingFolder, letters, platform::CurrentUserName(), year, month, day);
#else
  const char* map = std::getenv("VEXA_VOLUMES");
  return ScheduleTask(gWorkingFolder, letters, platform::CurrentUserName(), year, month, day, platform::ProgramPath(),
                      map != nullptr ? map : "");
#endif
}

ScheduleButtons ScheduleButtonsFor(platform::TaskPresence presence) {
  switch (presence) {
    case platform::TaskPresence::kExists: return {false, true, true};
    case platform::TaskPresence::kMissing: return {true, false, false};
    case platform::TaskPresence::kUnavailable: break;
  }
  return {};
}

ScheduleButtons AddSchedule(const std::string& letters, ScheduleButtons buttons, bool edit, const Notify& notify) {
  const platform::SchedulerResult result =
      platform::CurrentScheduler().Create(ScheduleTaskForToday(letters), edit);
  if (result != platform::SchedulerResult::kDone) {
    notify(kFailCreateSchedule, nullptr);
    return buttons;
  }
  return {false, true, true};
}

ScheduleButtons EditSchedule(ScheduleButtons buttons, const Notify& notify) {
  if (platform::CurrentScheduler().Edit(kScheduleTaskName) != platform::SchedulerResult::kDone) {
    notify(kFailEditSchedule, nullptr);
  }
  return buttons;
}

ScheduleButtons RemoveSchedule(ScheduleButtons buttons, const Notify& notify) {
  if (platform::CurrentScheduler().Remove(kScheduleTaskName) != platform::SchedulerResult::kDone) {
    notify(kFailDeleteSchedule, nullptr);
    return buttons;
  }
  return {true, false, false};
}

}  // namespace vexa
