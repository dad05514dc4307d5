// One job over the named volumes.
#include "volume_command.h"

#include <cstdio>

#include "engine_session.h"
#include "exit_codes.h"
#include "job_results.h"
#include "job_runner.h"
#include "stop_request.h"

namespace cli {
namespace {

// With --json, one object per requested volume also when the job never started.
void PrintRefusedJson(const Options& options, JobKind kind, const std::vector<VolumeProblem>& problems) {
  for (char letter : options.letters) {
    VolumeResult result;
    result.letter = letter;
    for (const VolumeProblem& problem : problems) {
      if (problem.letter == letter || problem.letter == 0) {
        result.error += (result.error.empty() ? "" : "; ") + problem.text;
      }
    }
    if (result.error.empty()) result.error = "not started: another volume of the job cannot be used";
    std::printf("%s\n", VolumeJson(result, kind, false).c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int RunVolumeCommand(const Options& options, const std::string& engineFolder) {
  const JobKind kind = options.command == Command::kAnalyze  ? JobKind::kAnalyse
                       : options.command == Command::kDefrag ? JobKind::kDefrag
                                                             : JobKind::kOptimize;
  EngineSession session;
  std::vector<VolumeProblem> refused;
  const int opened = session.Open(engineFolder, options.volumes, options.letters, kind != JobKind::kAnalyse,
                                  options.quiet, &refused);
  if (opened != kExitDone) {
    if (options.json && !refused.empty()) PrintRefusedJson(options, kind, refused);
    return opened;
  }
  if (StopRequestCount() > 0) return kExitStopped;  // stopped before anything started

  // The free space each volume needs and has, as the engine will judge it.
  std::vector<VolumeSizes> sizes(options.letters.size());
  std::vector<std::uint64_t> needed(options.letters.size(), VEXA_DEFAULT_MINIMUM_FREE);
  for (std::size_t i = 0; i < options.letters.size(); ++i) {
    const char letter = options.letters[i];
    if (const VexaVolumeInfo* info = session.Api().getVolumeInfo(letter); info != nullptr) {
      sizes[i].known = true;
      sizes[i].usedBytes = info->usedClusters * info->bytesPerCluster;
      sizes[i].freeBytes = info->freeClusters * info->bytesPerCluster;
      sizes[i].totalBytes = sizes[i].usedBytes + sizes[i].freeBytes;
    }
    if (options.minFree && session.Mapped(letter)) {
      needed[i] = *options.minFree;
    } else if (options.minFree && !options.quiet) {
      std::fprintf(stderr, "vexa: --min-free applies to image files and devices; volume %c: keeps the %s minimum\n",
                   letter, SizeText(VEXA_DEFAULT_MINIMUM_FREE).c_str());
    }
  }
  if (options.minFree) session.Api().setMappedMinimumFree(*options.minFree);
  const auto spaceText = [&](char letter) {
    const std::size_t i = options.letters.find(letter);
    if (i == std::string::npos || !sizes[i].known) return std::string();
    return std::string(JobKindName(kind)) + " needs " + SizeText(needed[i]) + " free; " + letter + " has " +
           SizeText(sizes[i].freeBytes);
  };

  ProgressDisplay display(DisplayMode(options), DisplayStream(options), DisplayColumns(options));
  const PageStamps before = StampPages(engineFolder, options.letters);
  const JobOutcome outcome = RunEngineJob(session.Api(), kind, options.letters, display, [&](const std::string& text) {
    const char letter = LetterOfSpaceMessage(text);
    return letter != 0 ? spaceText(letter) : std::string();
  });
  if (outcome.refused) {
    std::fprintf(stderr, "vexa: %s\n", kBusyMessage);
    if (options.json) PrintRefusedJson(options, kind, {{0, kBusyMessage}});
    return kExitBusy;
  }
  std::vector<VolumeResult> results = CollectResults(engineFolder, options.letters, kind, before);

  bool passedOver = false;  // a volume the engine declined, or that left no page
  for (std::size_t i = 0; i < results.size(); ++i) {
    VolumeResult& result = results[i];
    result.sizes = sizes[i];
    result.lost = session.Lost(result.letter);
    for (const std::string& message : outcome.messages) {
      if (LetterOfSpaceMessage(message) == result.letter) result.error = message + " " + spaceText(result.letter);
    }
    const bool done = kind == JobKind::kAnalyse ? result.hasAnalysis : result.hasDefrag;
    if (!done && !outcome.stopped) passedOver = true;
    // The files the job left in pieces, once it went over the volume or was stopped.
    if (kind != JobKind::kAnalyse && result.error.empty() && (result.hasDefrag || outcome.stopped)) {
      result.left = CollectLeftFiles(session.Api(), result.letter, outcome.stopped);
      result.leftKnown = true;
    }
  }

  if (options.json) {
    for (const VolumeResult& result : results) std::printf("%s\n", VolumeJson(result, kind, outcome.stopped).c_str());
  } else if (!options.quiet) {
    for (const VolumeResult& result : results) {
      for (const std::string& line : SummaryLines(result, kind, outcome.stopped)) std::printf("%s\n", line.c_str());
    }
    if (outcome.stopped) std::printf("Stopped after %.1f s.\n", outcome.seconds);
    std::printf("Report: %s\n", EntryPage(engineFolder, kind).c_str());
  }
  std::fflush(stdout);
  if (options.open) session.Api().showReport(kind == JobKind::kAnalyse ? 1 : 2);

  if (outcome.stopped) return kExitStopped;
  // The engine passed a volume over (too little free space), or a page is missing.
  if (outcome.engineMessages > 0 || passedOver) return kExitVolume;
  return kExitDone;
}

}  // namespace cli
