// vexa options and vexa schedule, through the engine's exports.
#include "settings_command.h"

#include <cstdio>

#include "engine_api.h"
#include "exit_codes.h"

namespace cli {
namespace {

int gEngineMessages = 0;

// The engine's messages (a registry failure) go to standard error.
void PrintEngineMessage(const char* text) {
  ++gEngineMessages;
  std::fprintf(stderr, "vexa: %s\n", text);
}

bool LoadEngine(EngineLibrary& library, const std::string& engineFolder) {
  std::string error;
  if (!library.Load(engineFolder, &error)) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return false;
  }
  library.Api().setMessageHandler(&PrintEngineMessage);
  return true;
}

const char* OnOff(int32_t value) { return value != 0 ? "on" : "off"; }

}  // namespace

int RunOptionsCommand(const Options& options, const std::string& engineFolder) {
  EngineLibrary library;
  if (!LoadEngine(library, engineFolder)) return kExitEngine;
  const EngineApi& api = library.Api();
  const bool change = options.folders || options.files || options.types || options.turnOff >= 0 || options.restart >= 0;
  bool written = true;
  if (change) {
    written = api.setOptions(options.folders ? options.folders->c_str() : nullptr,
                             options.files ? options.files->c_str() : nullptr,
                             options.types ? options.types->c_str() : nullptr, options.turnOff, options.restart) == 1;
    if (!written) std::fprintf(stderr, "vexa: preset.ini in %s could not be written\n", engineFolder.c_str());
  }
  std::printf("Folders: %s\n", api.getExclusionText(0));
  std::printf("Files: %s\n", api.getExclusionText(1));
  std::printf("Types: %s\n", api.getExclusionText(2));
#ifdef _WIN32
  std::printf("Run at Windows startup: %s\n", OnOff(api.getAutoRun()));
  std::printf("Turn off after defragmentation: %s\n", OnOff(api.getLogout()));
  std::printf("Restart after defragmentation: %s\n", OnOff(api.getRestart()));
#else
  // The switches act only where DefragShell runs: shown here only when changed.
  std::printf("These lists act on every defragmentation, by vexa here and by DefragShell on Windows.\n");
  if (options.turnOff >= 0 || options.restart >= 0) {
    std::printf("Turn off after defragmentation: %s\n", OnOff(api.getLogout()));
    std::printf("Restart after defragmentation: %s\n", OnOff(api.getRestart()));
    std::printf("(Both act only on Windows, after DefragShell's jobs.)\n");
  } else {
    std::printf("Turn off, restart and run at startup act only on Windows, after DefragShell's jobs "
                "(--turn-off and --restart set them).\n");
  }
#endif
  std::fflush(stdout);
  // Unloading saves the switches to "Setting".
  library.Unload();
  return written && gEngineMessages == 0 ? kExitDone : kExitSettings;
}

int RunScheduleCommand(const Options& options, const std::string& engineFolder) {
  EngineLibrary library;
  if (!LoadEngine(library, engineFolder)) return kExitEngine;
  const EngineApi& api = library.Api();
  int32_t result = VEXA_SCHEDULE_DONE;
  switch (options.scheduleAction) {
    case ScheduleAction::kShow: {
      const char* description = nullptr;
      result = api.readSchedule(&description);
      if (result == VEXA_SCHEDULE_DONE) std::printf("%s", description);
      if (result == VEXA_SCHEDULE_MISSING) {
        std::printf("No scheduled run.\n");
        return kExitDone;
      }
      break;
    }
    case ScheduleAction::kAdd:
      result = api.addSchedule(options.letters.c_str());
      if (result == VEXA_SCHEDULE_DONE) {
        std::printf("Scheduled: vexa %s daily at 15:00.\n", options.letters.c_str());
      } else if (result == VEXA_SCHEDULE_EXISTS) {
        std::fprintf(stderr, "vexa: a run is scheduled already; remove it first (vexa schedule remove)\n");
      }
      break;
    case ScheduleAction::kRemove:
      result = api.removeSchedule();
      if (result == VEXA_SCHEDULE_DONE) std::printf("Scheduled run removed.\n");
      if (result == VEXA_SCHEDULE_MISSING) std::fprintf(stderr, "vexa: there is no scheduled run\n");
      break;
  }
  if (result == VEXA_SCHEDULE_UNAVAILABLE) {
    std::fprintf(stderr, "vexa: the scheduler cannot be reached (%s)\n",
#ifdef _WIN32
                 "Task Scheduler"
#else
                 "is crontab installed?"
#endif
    );
  } else if (result == VEXA_SCHEDULE_FAILED) {
    std::fprintf(stderr, "vexa: the scheduler refused the change\n");
  }
  return result == VEXA_SCHEDULE_DONE ? kExitDone : kExitSettings;
}

}  // namespace cli
