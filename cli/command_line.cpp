// Parsing vexa's command line.
#include "command_line.h"

#include <cctype>

namespace cli {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// Drive letters as typed: "CE", "c", "C:E:". Each letter once, upper case.
bool ParseLetters(const std::string& text, std::string* letters, std::string* error) {
  letters->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':' && i > 0 && IsLetter(text[i - 1])) continue;
    if (!IsLetter(c)) {
      *error = "\"" + text + "\" is not a list of drive letters (for example CE)";
      return false;
    }
    if (letters->find(Upper(c)) == std::string::npos) *letters += Upper(c);
  }
  if (letters->empty()) {
    *error = "no drive letters given";
    return false;
  }
  return true;
}

bool ParseVolume(const std::string& text, VolumeOption* volume, std::string* error) {
  const auto eq = text.find('=');
  std::string key = text.substr(0, eq == std::string::npos ? 0 : eq);
  if (key.size() == 2 && key[1] == ':') key.pop_back();
  if (eq == std::string::npos || key.size() != 1 || !IsLetter(key[0]) || eq + 1 >= text.size()) {
    *error = "--volume wants LETTER=PATH (for example C=card.img), not \"" + text + "\"";
    return false;
  }
  const char letter = Upper(key[0]);
  if (letter < 'C' || letter > 'Z') {
    *error = "--volume " + text + ": drive letters C to Z can be mapped";
    return false;
  }
  volume->letter = letter;
  volume->path = text.substr(eq + 1);
  return true;
}

struct CommandName {
  const char* name;
  Command command;
};
constexpr CommandName kCommands[] = {
    {"analyze", Command::kAnalyze}, {"defrag", Command::kDefrag}, {"optimize", Command::kOptimize},
    {"demo", Command::kDemo},     {"options", Command::kOptions}, {"schedule", Command::kSchedule},
};

// The settings commands: vexa options [changes], vexa schedule show|add LETTERS|remove.
bool ParseSettingsCommand(Command command, const std::vector<std::string>& positional, Options* options,
                          std::string* error) {
  const bool changesOptions = options->folders || options->files || options->types || options->turnOff >= 0 ||
                              options->restart >= 0;
  if (options->json || options->open || !options->volumes.empty()) {
    *error = std::string(command == Command::kOptions ? "options" : "schedule") +
             " takes no --json, --open or --volume";
    return false;
  }
  options->command = command;
  if (command == Command::kOptions) {
    if (positional.size() > 1) {
      *error = "unexpected argument \"" + positional[1] + "\" (options takes only --folders, --files, --types, "
               "--turn-off and --restart)";
      return false;
    }
    if (options->turnOff == 1 && options->restart == 1) {
      *error = "--turn-off on and --restart on exclude each other: the computer is either turned off or restarted";
      return false;
    }
    return true;
  }
  if (changesOptions) {
    *error = "--folders, --files, --types, --turn-off and --restart belong to the options command";
    return false;
  }
  const std::string action = positional.size() > 1 ? positional[1] : "show";
  if (action == "show" || action == "remove") {
    if (positional.size() > 2) {
      *error = "schedule " + action + " takes no more arguments";
      return false;
    }
    options->scheduleAction = action == "show" ? ScheduleAction::kShow : ScheduleAction::kRemove;
    return true;
  }
  if (action != "add") {
    *error = "schedule wants show, add LETTERS or remove, not \"" + action + "\"";
    return false;
  }
  if (positional.size() != 3) {
    *error = "schedule add wants the drive letters as one word (for example CE)";
    return false;
  }
  if (!ParseLetters(positional[2], &options->letters, error)) return false;
  for (char letter : options->letters) {
    if (letter < 'C' || letter > 'Z') {
      *error = "schedule add: drive letters C to Z can be scheduled";
      return false;
    }
  }
  options->scheduleAction = ScheduleAction::kAdd;
  return true;
}

// on|off of --turn-off and --restart.
bool ParseOnOff(const std::string& option, const std::string& value, int* out, std::string* error) {
  if (value == "on" || value == "off") {
    *out = value == "on" ? 1 : 0;
    return true;
  }
  *error = option + " wants on or off, not \"" + value + "\"";
  return false;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error) {
  *options = Options{};
  std::vector<std::string> positional;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      positional.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--open") {
      options->open = true;
    } else if (arg == "--quiet" || arg == "-q") {
      options->quiet = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--volume" || arg.rfind("--volume=", 0) == 0) {
      std::string value;
      if (arg == "--volume") {
        if (i + 1 >= args.size()) {
          *error = "--volume wants LETTER=PATH";
          return false;
        }
        value = args[++i];
      } else {
        value = arg.substr(9);
      }
      VolumeOption volume;
      if (!ParseVolume(value, &volume, error)) return false;
      options->volumes.push_back(volume);
    } else if (arg == "--folders" || arg == "--files" || arg == "--types" || arg == "--turn-off" ||
               arg == "--restart") {
      if (i + 1 >= args.size()) {
        *error = arg + (arg == "--turn-off" || arg == "--restart" ? " wants on or off" : " wants a text (entries separated by ;)");
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "--folders") options->folders = value;
      if (arg == "--files") options->files = value;
      if (arg == "--types") options->types = value;
      if (arg == "--turn-off" && !ParseOnOff(arg, value, &options->turnOff, error)) return false;
      if (arg == "--restart" && !ParseOnOff(arg, value, &options->restart, error)) return false;
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  if (help) {
    options->command = Command::kHelp;
    return true;
  }
  if (version) {
    options->command = Command::kVersion;
    return true;
  }
  if (positional.empty()) {
    *error = "no command given";
    return false;
  }

  Command command = Command::kNone;
  for (const CommandName& c : kCommands) {
    if (positional[0] == c.name) command = c.command;
  }
  if (command == Command::kOptions || command == Command::kSchedule) {
    return ParseSettingsCommand(command, positional, options, error);
  }
  if (options->folders || options->files || options->types || options->turnOff >= 0 || options->restart >= 0) {
    *error = "--folders, --files, --types, --turn-off and --restart belong to the options command";
    return false;
  }
  if (command == Command::kDemo) {
    if (positional.size() > 2) {
      *error = "demo takes at most one folder";
      return false;
    }
    if (options->json) {
      *error = "--json is for analyze, defrag and optimize";
      return false;
    }
    options->command = command;
    if (positional.size() == 2) options->demoFolder = positional[1];
    return true;
  }
  std::size_t lettersAt = 1;
  if (command == Command::kNone) {
    // Letters alone, as a scheduled run passes them: a quick defragmentation.
    command = Command::kDefrag;
    lettersAt = 0;
    // A longer word all in lower case is a mistyped command ("analyse"), never a
    // request to defragment the volumes A, N, L, ...
    bool letters = true;
    bool upper = false;
    for (char c : positional[0]) {
      letters = letters && (IsLetter(c) || c == ':');
      upper = upper || std::isupper(static_cast<unsigned char>(c)) != 0;
    }
    if (!letters || (!upper && positional[0].size() > 3)) {
      *error = "unknown command \"" + positional[0] + "\" (drive letters alone are written in capitals, for example CE)";
      return false;
    }
  }
  if (positional.size() <= lettersAt) {
    *error = positional[0] + " wants the drive letters of the volumes (for example CE)";
    return false;
  }
  if (positional.size() > lettersAt + 1) {
    *error = "unexpected argument \"" + positional[lettersAt + 1] + "\" (give the letters as one word, for example CE)";
    return false;
  }
  if (!ParseLetters(positional[lettersAt], &options->letters, error)) return false;
  options->command = command;
  return true;
}

std::string UsageText(const std::string& engineFolder) {
  std::string text =
      "Usage: vexa [OPTIONS] analyze|defrag|optimize LETTERS\n"
      "       vexa [OPTIONS] LETTERS\n"
      "       vexa [OPTIONS] demo [DIR]\n"
      "       vexa options [--folders TEXT] [--files TEXT] [--types TEXT]\n"
      "                    [--turn-off on|off] [--restart on|off]\n"
      "       vexa schedule show|add LETTERS|remove\n"
      "\n"
      "Tolvane Disk Defrag from the command line: analyses and defragments the volumes named\n"
      "by drive letters. On Linux a letter is a FAT12/16/32 file system in an image file or an\n"
      "unmounted block device, given by --volume or the volume map (volumes.ini).\n"
      "\n"
      "Commands:\n"
      "  analyze LETTERS    analyse the volumes (for example CE) and write the analysis report\n"
      "  defrag LETTERS     quick defragmentation: analyse, then put every fragmented file\n"
      "                     together in the smallest free run that holds it\n"
      "  optimize LETTERS   in-depth defragmentation: as defrag, then move files that are in one\n"
      "                     piece towards the start of the volume, largest first\n"
      "  LETTERS            the same as defrag LETTERS (the form a scheduled run uses)\n"
      "  demo [DIR]         build a fragmented FAT32 demo image in DIR (default: a new folder\n"
      "                     under your cache folder), map it as C, analyse it, defragment it\n"
      "                     in depth and print a summary\n"
      "  options            print the exclusion lists and the switches; with any of the options\n"
      "                     below, change them as a confirmed Options dialog does\n"
      "  schedule show      print the scheduled daily run, if there is one\n"
      "  schedule add LETTERS\n"
      "                     run \"vexa LETTERS\" every day at 15:00 (the Task Scheduler task\n"
      "                     \"Tolvane Disk Defrag Schedule\" on Windows, a line in your crontab\n"
      "                     on Linux, with the volume map of the engine's folder)\n"
      "  schedule remove    remove the scheduled run\n"
      "\n"
      "Options:\n"
      "  --volume L=PATH    serve drive letter L from the image file or unmounted block device\n"
      "                     PATH for this run, on top of the volume map (repeatable)\n"
      "  --open             open the report in the browser afterwards\n"
      "  --quiet, -q        no progress and no summary; errors only\n"
      "  --json             one JSON object per volume (one per line) with the report's figures\n"
      "  --folders TEXT     options: excluded folders, separated by ; (for example \"Temp;Backup\")\n"
      "  --files TEXT       options: excluded files (a name without its extension covers all)\n"
      "  --types TEXT       options: excluded file types (for example \"exe;rar\")\n"
      "  --turn-off on|off  options: turn the computer off after a defragmentation\n"
      "  --restart on|off   options: restart the computer after a defragmentation (turning one\n"
      "                     on turns the other off)\n"
      "  --help, -h         this text\n"
      "  --version          the version\n"
      "\n"
      "Ctrl-C stops a job at the engine's next check point; the report pages are still written.\n"
      "Unmount a device and back it up before you defragment it.\n"
      "\n"
      "Exit status: 0 done; 1 bad usage; 2 a volume does not exist, cannot be opened or is\n"
      "read-only for a defragmentation; 3 the engine cannot be loaded; 5 the settings or the\n"
      "schedule could not be changed; 130 stopped.\n"
      "\n"
      "Examples:\n"
      "  vexa demo\n"
      "  vexa analyze C --volume C=card.img\n"
      "  vexa optimize CE --volume C=disk.img --volume E=/dev/sdb1\n"
      "  vexa --json --quiet analyze C --volume C=card.img > figures.json\n"
      "  vexa CE\n"
      "  vexa options --folders \"Temp;Backup\" --turn-off on\n"
      "  vexa schedule add CE\n";
  text += "\nReports are written to the engine's folder: ";
  text += engineFolder.empty() ? std::string("(the folder of the vexa program)") : engineFolder;
  text += "\n";
  return text;
}

}  // namespace cli
