// The command line of vexa: commands, drive letters and options, and the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class Command { kNone, kAnalyze, kDefrag, kOptimize, kDemo, kHelp, kVersion, kOptions, kSchedule,
                     kCheck, kContig, kPut, kMap };

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
  std::vector<VolumeOption> volumes; // in the order given; each letter once
  bool open = false;
  bool quiet = false;
  bool json = false;
  bool map = false;                  // --map: the cluster map before and after the job
  // options: the texts and switches to change (unset: keep); -1 keeps a switch.
  std::optional<std::string> folders;
  std::optional<std::string> files;
  std::optional<std::string> types;
  int turnOff = -1;
  int restart = -1;
  // schedule: the action; add takes `letters`.
  ScheduleAction scheduleAction = ScheduleAction::kShow;
  // --min-free: the free space a defragmentation needs on a volume served from an image
  // file or device, in bytes; none = the engine's own rule.
  std::optional<std::uint64_t> minFree;

  // check, contig and put (letters holds their one letter)
  std::vector<std::string> paths;  // full volume paths ("C:\GAMES\X.ISO"); put: the destination;
                                   // check without paths: the root
  std::string source;              // put: the file to copy in
  std::uint32_t maxPieces = 1;     // --max-pieces
  bool maxPiecesGiven = false;
  bool makeRoom = false;           // contig --make-room
  bool replace = false;            // put --replace
};

// A path inside the volume of `letter` as typed ("\GAMES\X.ISO", "/GAMES/X.ISO",
// "C:\GAMES\X.ISO", "GAMES/X.ISO") made a full path ("C:\GAMES\X.ISO"), with "." and ".."
// resolved by name; a trailing separator is kept. False, with *error set, when it names another drive.
[[nodiscard]] bool VolumePath(char letter, const std::string& text, std::string* path, std::string* error);

// Why `name` cannot name a file that Windows reads back: a name Windows reserves for a
// device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, also with an extension, as in
// "aux.txt"), a character FAT forbids (" * / : < > ? \ | and control characters), or a
// name that is only dots and spaces. Empty when the name is fine.
std::string FileNameProblem(const std::string& name);

// Parses the arguments after the program name. Command names are matched before
// drive letters, so "vexa demo" is the demo and "vexa CE" a quick defragmentation.
// Letters alone are capitals only: any other word there is a mistyped command, and the
// error suggests what may have been meant. Short options combine ("-qh").
// False, with *error saying what is wrong, for bad usage.
[[nodiscard]] bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error);

// A size as --min-free takes it: bytes, or a whole number with a K, M or G suffix
// (powers of 1024, either case). False for anything else or a size past 2^63.
[[nodiscard]] bool ParseSize(const std::string& text, std::uint64_t* bytes);

// A byte count for messages: "50 MiB", "30.2 MiB", "1.4 MiB", "512 bytes", "12.5 KiB".
std::string SizeText(std::uint64_t bytes);

// "1,024,000".
std::string GroupedNumber(std::uint64_t value);

// The usage text with examples; `engineFolder` is where reports land.
std::string UsageText(const std::string& engineFolder);

}  // namespace cli
