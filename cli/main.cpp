// vexa: the command-line front end of the engine (scripted and scheduled runs, and FAT
// images and unmounted devices on Linux).
//
// The engine library is loaded at run time from the program's own folder, after the
// run's volume map is in place, and driven only through its DLL_* exports.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "demo_command.h"
#include "exit_codes.h"
#include "per_file_command.h"
#include "platform/library.h"
#include "settings_command.h"
#include "volume_command.h"
#include "working_folder.h"

#ifndef VEXA_VERSION
#define VEXA_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    const char* xdgDataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const cli::EngineLayout layout = cli::FindEngineLayout(platform::ProgramFolder(), xdgDataHome ? xdgDataHome : "",
                                                           home ? home : "");
    const std::string& engineFolder = layout.engineFolder;
    cli::Options options;
    std::string error;
    if (!cli::ParseCommandLine(args, &options, &error)) {
      // One line that says what is wrong: the whole usage would scroll it away.
      std::fprintf(stderr, "vexa: %s\nTry 'vexa --help'.\n", error.c_str());
      return cli::kExitUsage;
    }
    switch (options.command) {
      case cli::Command::kHelp:
        std::printf("%s", cli::UsageText(engineFolder).c_str());
        return cli::kExitDone;
      case cli::Command::kVersion:
        std::printf("vexa %s (Tolvane Disk Defrag)\n", VEXA_VERSION);
        return cli::kExitDone;
      default:
        break;
    }
    std::string why;
    if (const cli::PreparedFolder prepared = cli::PrepareEngineFolder(layout, &why);
        prepared != cli::PreparedFolder::kReady) {
      std::fprintf(stderr, "vexa: %s\n", why.c_str());
      return prepared == cli::PreparedFolder::kNotWritable ? cli::kExitVolume : cli::kExitEngine;
    }
    switch (options.command) {
      case cli::Command::kDemo:
        return cli::RunDemoCommand(options, engineFolder);
      case cli::Command::kOptions:
        return cli::RunOptionsCommand(options, engineFolder);
      case cli::Command::kSchedule:
        return cli::RunScheduleCommand(options, engineFolder);
      case cli::Command::kCheck:
      case cli::Command::kContig:
      case cli::Command::kPut:
        return cli::RunPerFileCommand(options, engineFolder);
      default:
        return cli::RunVolumeCommand(options, engineFolder);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vexa: %s\n", e.what());
    return cli::kExitEngine;
  }
}
