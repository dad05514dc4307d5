// Engine start for one run.
#include "engine_session.h"

#include <algorithm>
#include <cstdio>

#include "exit_codes.h"
#include "platform/console.h"
#include "stop_request.h"

namespace cli {
namespace {

void PrintProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) std::fprintf(stderr, "vexa: %s\n", problem.c_str());
}

// Each text once (a problem of two letters is listed for each).
void PrintProblems(const std::vector<VolumeProblem>& problems) {
  std::vector<std::string> texts;
  for (const VolumeProblem& problem : problems) {
    if (std::find(texts.begin(), texts.end(), problem.text) == texts.end()) texts.push_back(problem.text);
  }
  PrintProblems(texts);
}

std::string NoVolumeText(char letter) {
#ifdef _WIN32
  return std::string("volume ") + letter + ": does not exist (no fixed volume has that letter)";
#else
  return std::string("volume ") + letter + ": does not exist (no image or device is mapped to " + letter +
         "; use --volume " + letter + "=PATH)";
#endif
}

}  // namespace

int EngineSession::Open(const std::string& engineFolder, const std::vector<VolumeOption>& volumes,
                        const std::string& letters, bool needWritable, bool quiet, std::vector<VolumeProblem>* refused) {
  std::vector<VolumeProblem> problems;
  const auto fail = [&](int code) {
    PrintProblems(problems);
    if (refused != nullptr) *refused = problems;
    return code;
  };
  std::string why;
  // Checked before anything else: a job whose pages and state cannot be saved would
  // change volumes and then report nothing true about them.
  if (!readOnlyFolder_ && !EngineFolderWritable(engineFolder, &why)) {
    problems.push_back({0, why});
    return fail(kExitVolume);
  }
  std::vector<std::string> warnings;
  map_ = CombinedVolumeMap(engineFolder, volumes, &warnings);
  for (const std::string& warning : warnings) std::fprintf(stderr, "vexa: warning: %s\n", warning.c_str());
  std::vector<std::string> notes;
  for (char letter : letters) {
    // The engine's volume table holds C to Z; it would take any other letter for C.
    if (letter < 'C' || letter > 'Z') {
      problems.push_back({letter, std::string("volume ") + letter + ": does not exist (drive letters C to Z name volumes)"});
    }
  }
  if (needWritable) {
    // Before any check: what an interrupted job of ours left is given back first, and
    // its dirty mark with it (an image in use elsewhere is left alone).
    std::vector<std::string> reclaimed;
    std::vector<std::string> failed;
    ReclaimInterruptedJobs(map_, letters, engineFolder, &reclaimed, &failed);
    for (const std::string& line : reclaimed) std::fprintf(stderr, "vexa: %s\n", line.c_str());
    for (const std::string& text : failed) problems.push_back({0, text});
  }
  CheckMappedVolumes(map_, letters, needWritable, &problems, &notes, engineFolder);
  if (!writer_.empty()) {
    static const std::string kDefrag = " cannot be defragmented: ";
    for (VolumeProblem& problem : problems) {
      if (const auto at = problem.text.find(kDefrag); at != std::string::npos) {
        problem.text.replace(at, kDefrag.size(), " cannot be changed by " + writer_ + ": ");
      }
    }
  }
  lost_.clear();
  for (char letter : letters) {
    for (const auto& entry : map_) {
      if (entry.letter == letter) lost_.emplace_back(letter, LostSpaceOf(entry.path, engineFolder));
    }
  }
#ifndef _WIN32
  // Only the volume map serves volumes here: a letter it does not name is none.
  for (char letter : letters) {
    if (letter >= 'C' && letter <= 'Z' && !MapServes(map_, letter)) problems.push_back({letter, NoVolumeText(letter)});
  }
#endif
  if (!problems.empty()) return fail(kExitVolume);

  TemporaryVolumeMap temporaryMap;
  std::string error;
  // The engine cannot start: no volume of the job is reached.
  if ((!volumes.empty() && !temporaryMap.Install(map_, &error)) || !library_.Load(engineFolder, &error)) {
    problems.push_back({0, error});
    return fail(kExitEngine);
  }
  temporaryMap.Remove();

  for (char letter : letters) {
    if (library_.Api().getVolumeInfo(letter) != nullptr) continue;
    if (MapServes(map_, letter)) {
      // The image may have been taken by another process since the check above: look
      // again, so the reason is told ("in use by another process").
      const std::size_t before = problems.size();
      std::vector<std::string> unused;
      CheckMappedVolumes(map_, std::string(1, letter), needWritable, &problems, &unused, engineFolder);
      if (problems.size() == before) {
        // It opens again now: what held it when the engine opened it has let go. Only
        // another process's hold is that short-lived; our own check released it.
        problems.push_back({letter, std::string("volume ") + letter +
                                        ": could not be opened by the engine: the image is in use by another process"
                                        " (or was, a moment ago)"});
      }
    } else {
      problems.push_back({letter, NoVolumeText(letter)});
    }
  }
  if (!problems.empty()) return fail(kExitVolume);
  if (!quiet) PrintProblems(notes);
  InstallStopHandlers(library_.Api().workingStop);
  return kExitDone;
}

bool EngineSession::Mapped(char letter) const { return MapServes(map_, letter); }

LostSpace EngineSession::Lost(char letter) const {
  for (const auto& [which, lost] : lost_) {
    if (which == letter) return lost;
  }
  return LostSpace{};
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
