// vexa options and vexa schedule, through the engine's exports.
#include "settings_command.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine_api.h"
#include "exit_codes.h"
#include "platform/library.h"
#include "volume_setup.h"

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

#ifndef _WIN32
// The volume map the scheduled run reads, kept in the engine's folder: a run started by
// cron has neither the --volume options nor the environment of the shell that added it.
constexpr char kScheduleMapName[] = "schedule-volumes.ini";

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Checks that every letter of the run is mapped and that cron can hold every path, and
// writes the letters' mappings to `file`. False, with the reason printed, otherwise.
bool WriteScheduleMap(const Options& options, const std::string& engineFolder, const std::string& file) {
  std::vector<std::string> warnings;
  const std::vector<platform::VolumeMapEntry> map = CombinedVolumeMap(engineFolder, options.volumes, &warnings);
  for (const std::string& warning : warnings) std::fprintf(stderr, "vexa: %s\n", warning.c_str());
  std::string unmapped;
  for (char letter : options.letters) {
    if (!MapServes(map, letter)) unmapped += letter;
  }
  if (!unmapped.empty()) {
    std::fprintf(stderr,
                 "vexa: %s %s no image or device to run on; give %s with --volume %c=PATH "
                 "(or map %s in the volume map)\n",
                 unmapped.c_str(), unmapped.size() == 1 ? "has" : "have", unmapped.size() == 1 ? "it" : "each",
                 unmapped[0], unmapped.size() == 1 ? "it" : "them");
    return false;
  }
  const std::string program = platform::ProgramPath();
  for (const std::string& path : {engineFolder, program}) {
    if (HasLineBreak(path)) {
      std::fprintf(stderr, "vexa: a crontab line cannot hold the path \"%s\", which has a line break\n", path.c_str());
      return false;
    }
  }
  std::string text = "; the volumes of the scheduled run (vexa schedule add)\n[volumes]\n";
  for (const auto& entry : map) {
    if (options.letters.find(entry.letter) == std::string::npos) continue;
    if (HasLineBreak(entry.path)) {
      std::fprintf(stderr, "vexa: the path of %c has a line break; a volume map cannot hold it\n", entry.letter);
      return false;
    }
    text += std::string(1, entry.letter) + "=" + entry.path + "\n";
  }
  // Written beside and renamed, so a failed write leaves the old map whole.
  const std::string partial = file + ".new";
  std::ofstream out(partial, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  std::error_code error;
  if (!out || (std::filesystem::rename(partial, file, error), error)) {
    std::filesystem::remove(partial, error);
    std::fprintf(stderr, "vexa: cannot write the scheduled run's volume map %s\n", file.c_str());
    return false;
  }
  return true;
}
#endif

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
    case ScheduleAction::kAdd: {
#ifdef _WIN32
      result = api.addSchedule(options.letters.c_str());
#else
      // A task that is there already keeps the map it runs with.
      result = api.readSchedule(nullptr);
      if (result == VEXA_SCHEDULE_DONE) result = VEXA_SCHEDULE_EXISTS;
      if (result == VEXA_SCHEDULE_MISSING) {
        const std::string map = engineFolder + kScheduleMapName;
        if (!WriteScheduleMap(options, engineFolder, map)) return kExitVolume;
        // The engine names the map in force in the line it makes.
        result = platform::SetProcessEnvironment("VEXA_VOLUMES", map.c_str())
                     ? api.addSchedule(options.letters.c_str())
                     : VEXA_SCHEDULE_FAILED;
        if (result != VEXA_SCHEDULE_DONE) {
          std::error_code error;
          std::filesystem::remove(map, error);
        }
      }
#endif
      if (result == VEXA_SCHEDULE_DONE) {
        std::printf("Scheduled: vexa %s daily at 15:00.\n", options.letters.c_str());
      } else if (result == VEXA_SCHEDULE_EXISTS) {
        std::fprintf(stderr, "vexa: a run is scheduled already; remove it first (vexa schedule remove)\n");
      }
      break;
    }
    case ScheduleAction::kRemove:
      result = api.removeSchedule();
      if (result == VEXA_SCHEDULE_DONE) {
#ifndef _WIN32
        std::error_code error;
        std::filesystem::remove(engineFolder + kScheduleMapName, error);
#endif
        std::printf("Scheduled run removed.\n");
      }
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
