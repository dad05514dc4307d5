// Engine start for one run.
#include "engine_session.h"

#include <cstdio>

#include "exit_codes.h"
#include "platform/console.h"
#include "stop_request.h"
#include "volume_setup.h"

namespace cli {
namespace {

void PrintProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) std::fprintf(stderr, "vexa: %s\n", problem.c_str());
}

}  // namespace

int EngineSession::Open(const std::string& engineFolder, const std::vector<VolumeOption>& volumes,
                        const std::string& letters, bool needWritable, bool quiet) {
  const std::vector<platform::VolumeMapEntry> map = CombinedVolumeMap(engineFolder, volumes);
  std::vector<std::string> problems;
  std::vector<std::string> notes;
  for (char letter : letters) {
    // The engine's volume table holds C to Z; it would take any other letter for C.
    if (letter < 'C' || letter > 'Z') {
      problems.push_back(std::string("volume ") + letter + ": does not exist (drive letters C to Z name volumes)");
    }
  }
  CheckMappedVolumes(map, letters, needWritable, &problems, &notes);
  if (!problems.empty()) {
    PrintProblems(problems);
    return kExitVolume;
  }

  TemporaryVolumeMap temporaryMap;
  std::string error;
  if (!volumes.empty() && !temporaryMap.Install(map, &error)) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return kExitEngine;
  }
  if (!library_.Load(engineFolder, &error)) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return kExitEngine;
  }
  temporaryMap.Remove();

  for (char letter : letters) {
    if (library_.Api().getVolumeInfo(letter) != nullptr) continue;
    if (MapServes(map, letter)) {
      problems.push_back(std::string("volume ") + letter + ": could not be opened by the engine");
    } else {
#ifdef _WIN32
      problems.push_back(std::string("volume ") + letter + ": does not exist (no fixed volume has that letter)");
#else
      problems.push_back(std::string("volume ") + letter + ": does not exist (no image or device is mapped to " +
                         letter + "; use --volume " + letter + "=PATH)");
#endif
    }
  }
  if (!problems.empty()) {
    PrintProblems(problems);
    return kExitVolume;
  }
  if (!quiet) PrintProblems(notes);
  InstallStopHandlers(library_.Api().workingStop);
  return kExitDone;
}

void EngineSession::Close() {
  if (!library_.Loaded()) return;
  ClearStopTarget();
  library_.Unload();
}

ProgressDisplay::Mode DisplayMode(const Options& options) {
  if (options.quiet) return ProgressDisplay::Mode::kSilent;
  const auto stream = options.json ? platform::ConsoleStream::kError : platform::ConsoleStream::kOutput;
  return platform::IsTerminal(stream) ? ProgressDisplay::Mode::kLine : ProgressDisplay::Mode::kPlain;
}

std::FILE* DisplayStream(const Options& options) { return options.json ? stderr : stdout; }

int DisplayColumns(const Options& options) {
  return platform::TerminalColumns(options.json ? platform::ConsoleStream::kError : platform::ConsoleStream::kOutput);
}

}  // namespace cli
