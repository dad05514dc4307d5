// One job over the named volumes.
#include "volume_command.h"

#include <cstdio>

#include "engine_session.h"
#include "exit_codes.h"
#include "job_results.h"
#include "job_runner.h"
#include "stop_request.h"

namespace cli {

int RunVolumeCommand(const Options& options, const std::string& engineFolder) {
  const JobKind kind = options.command == Command::kAnalyze  ? JobKind::kAnalyse
                       : options.command == Command::kDefrag ? JobKind::kDefrag
                                                             : JobKind::kOptimize;
  EngineSession session;
  const int opened =
      session.Open(engineFolder, options.volumes, options.letters, kind != JobKind::kAnalyse, options.quiet);
  if (opened != kExitDone) return opened;
  if (StopRequestCount() > 0) return kExitStopped;  // stopped before anything started

  ProgressDisplay display(DisplayMode(options), DisplayStream(options), DisplayColumns(options));
  const PageStamps before = StampPages(engineFolder, options.letters);
  const JobOutcome outcome = RunEngineJob(session.Api(), kind, options.letters, display);
  const std::vector<VolumeResult> results = CollectResults(engineFolder, options.letters, kind, before);

  if (options.json) {
    for (const VolumeResult& result : results) std::printf("%s\n", VolumeJson(result, kind, outcome.stopped).c_str());
  } else if (!options.quiet) {
    for (const VolumeResult& result : results) {
      for (const std::string& line : SummaryLines(result, kind)) std::printf("%s\n", line.c_str());
    }
    if (outcome.stopped) std::printf("Stopped after %.1f s.\n", outcome.seconds);
    std::printf("Report: %s\n", EntryPage(engineFolder, kind).c_str());
  }
  std::fflush(stdout);
  if (options.open) session.Api().showReport(kind == JobKind::kAnalyse ? 1 : 2);

  if (outcome.stopped) return kExitStopped;
  // The engine's messages say a volume was passed over (too little free space).
  if (outcome.engineMessages > 0) return kExitVolume;
  return kExitDone;
}

}  // namespace cli
