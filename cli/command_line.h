// The command line of vexa: commands, drive letters and options, and the usage text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

enum class Command { kNone, kAnalyze, kDefrag, kOptimize, kDemo, kHelp, kVersion, kCheck, kContig, kPut };

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
// "C:\GAMES\X.ISO", "GAMES/X.ISO") made a full path ("C:\GAMES\X.ISO"); a trailing
// separator is kept. False, with *error set, when it names another drive.
[[nodiscard]] bool VolumePath(char letter, const std::string& text, std::string* path, std::string* error);

// Parses the arguments after the program name. Command names are matched before
// drive letters, so "vexa demo" is the demo and "vexa CE" a quick defragmentation; a
// word of more than three letters, all lower case, is a mistyped command, not letters.
// False, with *error saying what is wrong, for bad usage.
[[nodiscard]] bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error);

// The usage text with examples; `engineFolder` is where reports land.
std::string UsageText(const std::string& engineFolder);

}  // namespace cli
