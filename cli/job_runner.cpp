// The job thread and the polling thread of one engine job.
#include "job_runner.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "stop_request.h"

namespace cli {
namespace {

constexpr int kPollEveryPasses = 50;  // a poll on every 51st pass of 1 ms

// Where the engine's messages go while a job runs (the handler is a plain function).
std::atomic<ProgressDisplay*> gMessageDisplay{nullptr};
std::atomic<int> gMessageCount{0};

void OnEngineMessage(const char* text) {
  gMessageCount.fetch_add(1);
  if (ProgressDisplay* display = gMessageDisplay.load()) display->Note(text != nullptr ? text : "");
}

}  // namespace

const char* JobKindName(JobKind kind) {
  switch (kind) {
    case JobKind::kAnalyse:
      return "analysis";
    case JobKind::kDefrag:
      return "defragmentation";
    case JobKind::kOptimize:
      return "in-depth defragmentation";
  }
  return "job";
}

JobOutcome RunEngineJob(const EngineApi& api, JobKind kind, const std::string& letters, ProgressDisplay& display) {
  JobOutcome outcome;
  gMessageDisplay.store(&display);
  gMessageCount.store(0);
  api.setMessageHandler(OnEngineMessage);
  const int stopsBefore = StopRequestCount();

  std::atomic<bool> running{true};
  const auto started = std::chrono::steady_clock::now();
  std::thread job([&] {
    switch (kind) {
      case JobKind::kAnalyse:
        api.analyseVolume(letters.c_str());
        break;
      case JobKind::kDefrag:
        api.defragVolume(letters.c_str());
        break;
      case JobKind::kOptimize:
        api.optimizedDefragVolume(letters.c_str());
        break;
    }
    running.store(false);
  });

  std::thread poller([&] {
    int stopsSeen = stopsBefore;
    auto poll = [&] {
      const VexaWorkingStatus* status = api.getWorkingStatus();
      if (status != nullptr) display.Show(MakeStatusTexts(*status));
    };
    auto tellStops = [&] {
      const int stops = StopRequestCount();
      if (stops == stopsSeen) return;
      // Again from here: a signal that came just before the engine cleared its stop
      // flag for this job would otherwise be lost.
      api.workingStop();
      if (stopsSeen == stopsBefore) {
        display.Note("stopping at the engine's next check point; the report pages are still written");
      }
      if (stops - stopsBefore >= 2) display.Note("already stopping; waiting for the engine to finish its current step");
      stopsSeen = stops;
    };
    int passes = 0;
    while (running.load()) {
      if (passes == kPollEveryPasses) {
        passes = 0;
        tellStops();
        poll();
      } else {
        ++passes;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The job has ended: one last look, at once, so the program ends with the work.
    tellStops();
    poll();
  });

  job.join();
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  poller.join();
  display.Finish();
  api.setMessageHandler(nullptr);
  gMessageDisplay.store(nullptr);
  outcome.stopped = StopRequestCount() != stopsBefore;
  outcome.engineMessages = gMessageCount.load();
  return outcome;
}

}  // namespace cli
