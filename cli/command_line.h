// The command line of vexa: commands, drive letters and options, and the usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Command { kNone, kAnalyze, kDefrag, kOptimize, kDemo, kHelp, kVersion, kOptions, kSchedule };

// What `vexa schedule` does.
enum class ScheduleAction { kShow, kAdd, kRemove };

// One --volume L=PATH: drive letter (upper case, C to Z) and the path as given.
struct VolumeOption {
  char letter = 0;
  std::string path;
};

struct Options {
  Command command = Command::kNone;
  std::string letters;               // upper case, each letter once, in the order given
  std::string demoFolder;            // demo [DIR]; empty = a new folder of its own
  std::vector<VolumeOption> volumes; // in the order given; a later one for a letter wins
  bool open = false;
  bool quiet = false;
  bool json = false;
  // options: the texts and switches to change (unset: keep); -1 keeps a switch.
  std::optional<std::string> folders;
  std::optional<std::string> files;
  std::optional<std::string> types;
  int turnOff = -1;
  int restart = -1;
  // schedule: the action; add takes `letters`.
  ScheduleAction scheduleAction = ScheduleAction::kShow;
};

// Parses the arguments after the program name. Command names are matched before
// drive letters, so "vexa demo" is the demo and "vexa CE" a quick defragmentation; a
// word of more than three letters, all lower case, is a mistyped command, not letters.
// False, with *error saying what is wrong, for bad usage.
[[nodiscard]] bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error);

// The usage text with examples; `engineFolder` is where reports land.
std::string UsageText(const std::string& engineFolder);

}  // namespace cli
