// Parsing vexa's command line.
#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>

namespace cli {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
std::string Upper(std::string text) {
  for (char& c : text) c = Upper(c);
  return text;
}
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
    // The engine's volume table starts at C, as Windows' hard disks do; a floppy or card
    // image is served under any free letter of C to Z.
    *error = "--volume " + text + ": drive letters C to Z can be mapped (A and B are kept for the computer's "
             "floppy drives); serve the image under another letter, for example --volume " +
             std::string(1, letter == 'A' ? 'F' : 'G') + "=" + text.substr(eq + 1);
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
    {"demo", Command::kDemo},       {"options", Command::kOptions}, {"schedule", Command::kSchedule},
    {"check", Command::kCheck},     {"contig", Command::kContig},   {"put", Command::kPut},
    {"map", Command::kMap},
};

// The settings commands: vexa options [changes], vexa schedule show|add LETTERS|remove.
bool ParseSettingsCommand(Command command, const std::vector<std::string>& positional, Options* options,
                          std::string* error) {
  const bool changesOptions = options->folders || options->files || options->types || options->turnOff >= 0 ||
                              options->restart >= 0;
  if (options->json || options->open || options->minFree) {
    *error = std::string(command == Command::kOptions ? "options" : "schedule") +
             " takes no --json, --open or --min-free";
    return false;
  }
  // Off Windows the scheduled run keeps the volumes given with schedule add.
#ifdef _WIN32
  const bool volumesTaken = false;
#else
  const bool volumesTaken = command == Command::kSchedule && positional.size() > 1 && positional[1] == "add";
#endif
  if (!options->volumes.empty() && !volumesTaken) {
#ifdef _WIN32
    *error = std::string(command == Command::kOptions ? "options" : "schedule") + " takes no --volume";
#else
    *error = command == Command::kOptions ? "options takes no --volume" : "schedule takes --volume only with add";
#endif
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

std::string Lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Edits (insert, delete, replace, swap of neighbours) that turn `a` into `b`.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// Bare letters are capitals only ("CE", "C:E:"): the form a scheduled run passes.
bool IsBareLetters(const std::string& word) {
  bool any = false;
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    if (c == ':' && i > 0 && word[i - 1] != ':') continue;
    if (c < 'A' || c > 'Z') return false;
    any = true;
  }
  return any;
}

// Why `word` in the place of a command is not one, with what the user may have meant:
// the nearest command, and for a word of letters the capitals that would name volumes.
std::string UnknownCommand(const std::string& word) {
  std::string error = "unknown command \"" + word + "\"";
  const std::string lower = Lower(word);
  const char* nearest = nullptr;
  std::size_t best = 3;  // more edits than this is no longer a typing slip
  for (const CommandName& c : kCommands) {
    const std::string name = c.name;
    const std::size_t distance = EditDistance(lower, name);
    const bool prefix = lower.size() >= 2 && name.compare(0, lower.size(), lower) == 0;
    if ((prefix && best > 0) || distance < best) {  // the first command a prefix names wins
      best = prefix ? 0 : distance;
      nearest = c.name;
    }
  }
  // Short words are within a few edits of everything; only close calls count there.
  if (nearest != nullptr && lower.size() <= 3 && best > 1) nearest = nullptr;
  // A word of letters may have meant volumes.
  bool letters = true;
  for (char c : word) letters = letters && (c == ':' || IsLetter(c));
  if (nearest != nullptr) {
    error += std::string("; did you mean \"") + nearest + "\"?";
    return error;
  }
  // The word is never turned into a command line to run: "ls" in capitals would
  // defragment L and S. Say how commands and letters are written instead.
  error += "; commands are words:";
  for (std::size_t i = 0; i < std::size(kCommands); ++i) {
    error += i == 0 ? " " : i + 1 == std::size(kCommands) ? " and " : ", ";
    error += kCommands[i].name;
  }
  if (letters) error += "; drive letters alone are capitals (vexa CE defragments C and E)";
  return error;
}

// One short option letter; false for an unknown one.
bool ShortOption(char c, Options* options, bool* help, bool* version) {
  switch (c) {
    case 'h':
      *help = true;
      return true;
    case 'q':
      options->quiet = true;
      return true;
    case 'V':
    case 'v':
      *version = true;
      return true;
    default:
      return false;
  }
}

bool PerFileCommand(Command command) {
  return command == Command::kCheck || command == Command::kContig || command == Command::kPut;
}

// check LETTER [PATH...], contig LETTER PATH..., put LETTER SOURCE DEST.
bool ParsePerFile(Command command, const std::vector<std::string>& positional, Options* options, std::string* error) {
  const std::string& name = positional[0];
  if (positional.size() < 2) {
    *error = name + " wants the drive letter of a volume (for example C)";
    return false;
  }
  std::string letter;
  if (!ParseLetters(positional[1], &letter, error)) return false;
  if (letter.size() != 1) {
    *error = name + " works on one volume: give one drive letter, not \"" + positional[1] + "\"";
    return false;
  }
  const std::vector<std::string> rest(positional.begin() + 2, positional.end());
  if (command == Command::kContig && rest.empty()) {
    *error = "contig wants the paths of the files to make contiguous";
    return false;
  }
  if (command == Command::kPut && rest.size() != 2) {
    *error = "put wants the file to copy in and its path on the volume (put C game.iso /GAMES/GAME.ISO)";
    return false;
  }
  if (options->makeRoom && command != Command::kContig) {
    *error = "--make-room is for contig";
    return false;
  }
  if (options->replace && command != Command::kPut) {
    *error = "--replace is for put";
    return false;
  }
  if (options->maxPiecesGiven && command == Command::kContig) {
    *error = "--max-pieces is for check and put";
    return false;
  }
  if (options->open) {
    *error = "--open is for analyze, defrag and optimize";
    return false;
  }
  if (options->minFree) {
    *error = "--min-free is for defrag and optimize";
    return false;
  }
  if (options->folders || options->files || options->types || options->turnOff >= 0 || options->restart >= 0) {
    *error = "--folders, --files, --types, --turn-off and --restart belong to the options command";
    return false;
  }
  options->letters = letter;
  const std::size_t firstPath = command == Command::kPut ? 1 : 0;
  if (command == Command::kPut) options->source = rest[0];
  for (std::size_t i = firstPath; i < rest.size(); ++i) {
    std::string path;
    if (!VolumePath(letter[0], rest[i], &path, error)) return false;
    options->paths.push_back(path);
  }
  options->command = command;
  return true;
}

}  // namespace

bool VolumePath(char letter, const std::string& text, std::string* path, std::string* error) {
  std::string rest = text;
  if (rest.size() >= 2 && rest[1] == ':' && IsLetter(rest[0])) {
    if (Upper(rest[0]) != Upper(letter)) {
      *error = "\"" + text + "\" is on drive " + Upper(rest[0]) + ":, not " + Upper(letter) + ":";
      return false;
    }
    rest = rest.substr(2);
  }
  for (char& c : rest) {
    if (c == '/') c = '\\';
  }
  // "." and ".." resolved here, by name, as Windows does: ".." at the root stays there.
  // A trailing separator (or a last "." or "..") says the path is a folder: kept.
  std::vector<std::string> names;
  std::string last;
  std::size_t at = 0;
  while (at <= rest.size()) {
    const std::size_t next = std::min(rest.find('\\', at), rest.size());
    last = rest.substr(at, next - at);
    if (last == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!last.empty() && last != ".") {
      names.push_back(last);
    }
    at = next + 1;
  }
  const bool folder = last.empty() || last == "." || last == "..";
  std::string joined;
  for (const std::string& name : names) joined += "\\" + name;
  if (joined.empty() || folder) joined += "\\";
  *path = std::string(1, Upper(letter)) + ":" + joined;
  return true;
}

std::string FileNameProblem(const std::string& name) {
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string("\"*/:<>?\\|").find(c) != std::string::npos) {
      const std::string shown = u < 0x20 ? "control characters" : std::string("\"") + c + "\"";
      return "a FAT file name cannot contain " + shown + "; choose another name";
    }
  }
  if (name.find_first_not_of(". ") == std::string::npos) return "a file name needs more than dots and spaces";
  // Windows takes these for devices whatever follows the first dot, and in any case.
  std::string stem = Upper(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  bool device = std::find_if(std::begin(kDevices), std::end(kDevices),
                             [&](const char* d) { return stem == d; }) != std::end(kDevices);
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
      stem[3] <= '9') {
    device = true;
  }
  if (device) {
    return "Windows reserves the name " + stem + " for a device, also with an extension; choose another name";
  }
  return "";
}

bool ParseSize(const std::string& text, std::uint64_t* bytes) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 19) return false;
  std::uint64_t unit = 1;
  const std::string suffix = Lower(text.substr(digits));
  if (suffix == "k") {
    unit = 1ULL << 10;
  } else if (suffix == "m") {
    unit = 1ULL << 20;
  } else if (suffix == "g") {
    unit = 1ULL << 30;
  } else if (!suffix.empty()) {
    return false;
  }
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    if (value > ((1ULL << 63) - 9) / 10) return false;
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
  }
  if (value > (1ULL << 63) / unit) return false;
  *bytes = value * unit;
  return true;
}

std::string GroupedNumber(std::uint64_t value) {
  std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string SizeText(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  int unit = 0;
  std::uint64_t scale = 1024;
  while (unit < 3 && bytes / scale >= 1024) {
    scale *= 1024;
    ++unit;
  }
  // Tenths cut, never rounded up: 49.99 MiB must not read as the 50 MiB it lacks.
  const std::uint64_t tenths = bytes / (scale / 1024) * 10 / 1024;
  char text[48];
  if (tenths % 10 == 0) {
    std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(tenths / 10), kUnits[unit]);
  } else {
    std::snprintf(text, sizeof text, "%llu.%llu %s", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10), kUnits[unit]);
  }
  return text;
}

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
    } else if (arg == "--help") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--open") {
      options->open = true;
    } else if (arg == "--quiet") {
      options->quiet = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--map") {
      options->map = true;
    } else if (arg == "--make-room") {
      options->makeRoom = true;
    } else if (arg == "--replace") {
      options->replace = true;
    } else if (arg == "--max-pieces" || arg.rfind("--max-pieces=", 0) == 0) {
      std::string value;
      if (arg == "--max-pieces") {
        if (i + 1 >= args.size()) {
          *error = "--max-pieces wants a number of pieces";
          return false;
        }
        value = args[++i];
      } else {
        value = arg.substr(13);
      }
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || value[0] == '-' || *end != 0 || n < 1 || n > 1000000) {
        *error = "--max-pieces wants a number of pieces from 1, not \"" + value + "\"";
        return false;
      }
      options->maxPieces = static_cast<std::uint32_t>(n);
      options->maxPiecesGiven = true;
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
      // Two paths for one letter is a slip (a copied line not edited): which one was meant
      // is not ours to guess, and the wrong one would be changed.
      for (const VolumeOption& earlier : options->volumes) {
        if (earlier.letter == volume.letter) {
          *error = std::string("--volume ") + volume.letter + "= is given twice (" + earlier.path + " and " +
                   volume.path + "); map each letter once";
          return false;
        }
      }
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
    } else if (arg == "--min-free" || arg.rfind("--min-free=", 0) == 0) {
      std::string value;
      if (arg == "--min-free") {
        if (i + 1 >= args.size()) {
          *error = "--min-free wants a size (for example 1M)";
          return false;
        }
        value = args[++i];
      } else {
        value = arg.substr(11);
      }
      std::uint64_t bytes = 0;
      if (!ParseSize(value, &bytes)) {
        *error = "--min-free wants a size in bytes or with a K, M or G suffix (for example 1M), not \"" + value + "\"";
        return false;
      }
      options->minFree = bytes;
    } else if (arg[1] != '-') {
      for (std::size_t k = 1; k < arg.size(); ++k) {
        if (!ShortOption(arg[k], options, &help, &version)) {
          *error = std::string("unknown option -") + arg[k] + (arg.size() > 2 ? " in " + arg : std::string());
          return false;
        }
      }
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
  if (positional[0] == "help") {
    options->command = Command::kHelp;
    return true;
  }

  Command command = Command::kNone;
  for (const CommandName& c : kCommands) {
    if (positional[0] == c.name) command = c.command;
  }
  if (options->map && command != Command::kAnalyze && command != Command::kDefrag && command != Command::kOptimize &&
      command != Command::kNone) {
    *error = "--map is for analyze, defrag and optimize (vexa map LETTERS prints the map alone)";
    return false;
  }
  if (PerFileCommand(command)) return ParsePerFile(command, positional, options, error);
  if (options->makeRoom || options->replace || options->maxPiecesGiven) {
    *error = "--make-room, --replace and --max-pieces are for check, contig and put";
    return false;
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
    if (options->minFree) {
      *error = "--min-free is for defrag and optimize";
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
    // Only capitals name volumes here: "vexa ce" or "vexa ls" is a mistyped command,
    // never a request to defragment C and E, or L and S.
    if (!IsBareLetters(positional[0])) {
      *error = UnknownCommand(positional[0]);
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
  if (options->minFree && (command == Command::kAnalyze || command == Command::kMap)) {
    *error = "--min-free is for defrag and optimize (an analysis moves nothing)";
    return false;
  }
  options->command = command;
  return true;
}

std::string UsageText(const std::string& engineFolder) {
  std::string text =
      "Usage: vexa [OPTIONS] analyze|defrag|optimize LETTERS\n"
      "       vexa [OPTIONS] LETTERS\n"
      "       vexa [OPTIONS] map LETTERS\n"
      "       vexa [OPTIONS] demo [DIR]\n"
      "       vexa options [--folders TEXT] [--files TEXT] [--types TEXT]\n"
      "                    [--turn-off on|off] [--restart on|off]\n"
      "       vexa schedule show|add LETTERS [--volume L=PATH]...|remove\n"
      "       vexa [OPTIONS] check LETTER [PATH...] [--max-pieces N]\n"
      "       vexa [OPTIONS] contig LETTER PATH... [--make-room]\n"
      "       vexa [OPTIONS] put LETTER SOURCE DEST [--max-pieces N] [--replace]\n"
      "\n"
      "Tolvane Disk Defrag from the command line: analyses and defragments the volumes named\n"
      "by drive letters. On Linux a letter is a FAT12/16/32 or exFAT file system in an image\n"
      "file or an unmounted block device, given by --volume or the volume map (volumes.ini).\n"
      "\n"
      "Commands:\n"
      "  analyze LETTERS    analyse the volumes (for example CE) and write the analysis report\n"
      "  defrag LETTERS     quick defragmentation: analyse, then put every fragmented file\n"
      "                     together in the smallest free run that holds it\n"
      "  optimize LETTERS   in-depth defragmentation: as defrag, then move files that are in one\n"
      "                     piece towards the start of the volume, largest first\n"
      "  LETTERS            the same as defrag LETTERS (the form a scheduled run uses)\n"
      "  map LETTERS        analyse the volumes and print each one's cluster map as the window\n"
      "                     paints it: 1000 cells, 50 to a row, in its colours, with a legend\n"
      "                     (letters instead of colours through a pipe or with NO_COLOR set)\n"
      "  demo [DIR]         build a fragmented FAT32 demo image in DIR (default: a new folder\n"
      "                     under your cache folder), map it as C, analyse it, defragment it\n"
      "                     in depth and print a summary\n"
      "  options            print the exclusion lists (and on Windows the switches, which act\n"
      "                     only there); with any of the options below, change them as a\n"
      "                     confirmed Options dialog does\n"
      "  schedule show      print the scheduled daily run, if there is one\n"
      "  schedule add LETTERS\n"
      "                     run \"vexa LETTERS\" every day at 15:00 (the Task Scheduler task\n"
      "                     \"Tolvane Disk Defrag Schedule\" on Windows, a line in your crontab\n"
      "                     on Linux that runs this vexa program). On Linux every letter must\n"
      "                     be mapped, by --volume or the volume map; the mappings are kept\n"
      "                     for the scheduled run in schedule-volumes.ini in the engine's folder\n"
      "  schedule remove    remove the scheduled run\n"
      "  check LETTER [PATH...]\n"
      "                     list each file (every file under a folder; the whole volume when\n"
      "                     no PATH is given) with its size and the number of pieces it lies\n"
      "                     in, and whether it meets --max-pieces (default 1); reads only\n"
      "  contig LETTER PATH...\n"
      "                     make each file one piece, in the smallest free run that holds it\n"
      "  put LETTER SOURCE DEST\n"
      "                     copy the file SOURCE into the volume as DEST, in one piece (or at\n"
      "                     most --max-pieces pieces); a DEST ending in / or naming a folder\n"
      "                     takes SOURCE's name\n"
      "                     Paths inside the volume may be written \\GAMES\\X.ISO, /GAMES/X.ISO\n"
      "                     or C:\\GAMES\\X.ISO, in any case, with long names or 8.3 names.\n"
      "\n"
      "Options:\n"
      "  --volume L=PATH    serve drive letter L from the image file or unmounted block device\n"
      "                     PATH for this run, on top of the volume map (repeatable)\n"
      "  --open             open the report in the browser afterwards\n"
      "  --map              analyze, defrag, optimize: print the cluster map too (before and\n"
      "                     after a defragmentation; with --json, its 1000 colour codes)\n"
      "  --min-free SIZE    free space a defragmentation needs on a volume served from an image\n"
      "                     file or device: bytes, or a number with K, M or G (for example 1M);\n"
      "                     relocation still needs a free run as large as each file it moves\n"
      "  --quiet, -q        no progress and no summary; errors only\n"
      "  --json             one JSON object per volume (one per line) with the report's figures,\n"
      "                     or with \"error\" saying why the volume was not done; for check,\n"
      "                     contig and put one object per file\n"

      "  --max-pieces N     check and put: the most pieces a file may lie in (default 1)\n"
      "  --make-room        contig: when no free run is large enough, first move other files\n"
      "                     toward the start of the volume until one is\n"
      "  --replace          put: replace a file of the same name (its clusters are freed only\n"
      "                     once the new file is in place)\n"
      "  --folders TEXT     options: excluded folders, separated by ; (for example \"Temp;Backup\")\n"
      "  --files TEXT       options: excluded files (a name without its extension covers all)\n"
      "  --types TEXT       options: excluded file types (for example \"exe;rar\")\n"
      "  --turn-off on|off  options: turn the computer off after a defragmentation\n"
      "  --restart on|off   options: restart the computer after a defragmentation (turning one\n"
      "                     on turns the other off)\n"
      "  --help, -h, help   this text\n"
      "  --version, -V, -v  the version\n"
      "\n"
      "A defragmentation needs at least 50 MiB free on a volume (the engine's rule); a volume\n"
      "with less is passed over with a message. --min-free sets another for images and devices.\n"
      "Ctrl-C stops a job at the engine's next check point; the report pages are still written.\n"
      "After defrag, optimize and contig the summary (\"leftFragmented\" or \"reason\" in --json)\n"
      "names each file still in more than one piece and why: no free run large enough (with\n"
      "both sizes), excluded by the Options lists, a system file, a read-only volume, stopped.\n"
      "Unmount a device and back it up before you defragment it.\n"
      "\n"
      "Cluster numbers (contig, put, --json) are the file system's own, as fsck and mshowfat\n"
      "print them: on FAT and exFAT the first data cluster is 2.\n"
      "\n"
      "Exit status: 0 done; 1 bad usage (also a PATH or SOURCE that does not exist, or a DEST\n"
      "that exists without --replace); 2 a volume cannot be used (missing, not FAT, in use,\n"
      "refused, read-only, too little free space, or it refused a write) or the engine's folder\n"
      "is not writable; 3 the engine cannot be loaded; 4 another defragmentation job is running\n"
      "on this computer; 5 check found files in more pieces than allowed; 6 contig or put found\n"
      "no free run (or not N runs) large enough; 7 the settings or the schedule could not be\n"
      "changed; 130 stopped.\n"
      "\n"
      "Examples:\n"
      "  vexa demo\n"
      "  vexa analyze C --volume C=card.img\n"
      "  vexa map C --volume C=card.img\n"
      "  vexa defrag C --volume C=floppy.img --min-free 64K\n"
      "  vexa optimize CE --volume C=disk.img --volume E=/dev/sdb1\n"
      "  vexa --json --quiet analyze C --volume C=card.img > figures.json\n"
      "  vexa check C /GAMES --max-pieces 40 --volume C=/dev/sdb1\n"
      "  vexa contig C /GAMES/X.ISO --make-room --volume C=/dev/sdb1\n"
      "  vexa put C game.iso /GAMES/ --volume C=/dev/sdb1\n"
      "  vexa CE\n"
      "  vexa options --folders \"Temp;Backup\" --turn-off on\n"
      "  vexa schedule add CE\n";
  text += "\nReports are written to the engine's folder: ";
  text += engineFolder.empty() ? std::string("(the folder of the vexa program)") : engineFolder;
  text += "\n";
  return text;
}

}  // namespace cli
