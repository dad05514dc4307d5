// The job thread and the polling thread of one engine job.
#include "job_runner.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "stop_request.h"

namespace cli {
namespace {

constexpr int kPollEveryPasses = 50;  // a poll on every 51st pass of 1 ms

// Where the engine's messages go while a job runs (the handler is a plain function).
std::atomic<ProgressDisplay*> gMessageDisplay{nullptr};
std::atomic<int> gMessageCount{0};
std::mutex gMessageLock;
std::vector<std::string> gMessages;            // guarded by gMessageLock
const MessageExplainer* gExplain = nullptr;    // set while a job runs

void OnEngineMessage(const char* raw) {
  const std::string text = raw != nullptr ? raw : "";
  gMessageCount.fetch_add(1);
  std::string more;
  {
    std::lock_guard<std::mutex> guard(gMessageLock);
    gMessages.push_back(text);
    if (gExplain != nullptr && *gExplain) more = (*gExplain)(text);
  }
  if (ProgressDisplay* display = gMessageDisplay.load()) {
    display->Note(text);
    if (!more.empty()) display->Note(more);
  }
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

char LetterOfSpaceMessage(const std::string& message) {
  static const std::string kLead = "Not enough disk space, volume ";
  static const std::string kTail = " can not be defragged.";
  if (message.size() != kLead.size() + 1 + kTail.size() || message.compare(0, kLead.size(), kLead) != 0 ||
      message.compare(kLead.size() + 1, kTail.size(), kTail) != 0) {
    return 0;
  }
  return message[kLead.size()];
}

JobOutcome RunEngineJob(const EngineApi& api, JobKind kind, const std::string& letters, ProgressDisplay& display,
                        const MessageExplainer& explain) {
  JobOutcome outcome;
  gMessageDisplay.store(&display);
  gMessageCount.store(0);
  {
    std::lock_guard<std::mutex> guard(gMessageLock);
    gMessages.clear();
    gExplain = &explain;
  }
  api.setMessageHandler(OnEngineMessage);
  const int stopsBefore = StopRequestCount();

  std::atomic<bool> running{true};
  const auto started = std::chrono::steady_clock::now();
  std::thread job([&] {
    switch (kind) {
      case JobKind::kAnalyse:
        outcome.refused = api.analyseVolume(letters.c_str()) == 0;
        break;
      case JobKind::kDefrag:
        outcome.refused = api.defragVolume(letters.c_str()) == 0;
        break;
      case JobKind::kOptimize:
        outcome.refused = api.optimizedDefragVolume(letters.c_str()) == 0;
        break;
    }
    running.store(false);
  });

  std::thread poller([&] {
    int stopsSeen = stopsBefore;
    // Whether the engine's status names a working volume: from then on it is shown.
    auto poll = [&] {
      const VexaWorkingStatus* status = api.getWorkingStatus();
      return status != nullptr && display.Show(MakeStatusTexts(*status));
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
    // Stops are passed on at every pass; the status is polled at every pass until the
    // job's first state is shown (so the user sees at once what it does), then on
    // every 51st.
    int passes = 0;
    bool shown = false;
    while (running.load()) {
      tellStops();
      if (!shown || passes == kPollEveryPasses) {
        passes = 0;
        shown = poll() || shown;
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
  {
    std::lock_guard<std::mutex> guard(gMessageLock);
    gExplain = nullptr;
    outcome.messages.swap(gMessages);
  }
  outcome.stopped = StopRequestCount() != stopsBefore;
  outcome.engineMessages = gMessageCount.load();
  return outcome;
}

}  // namespace cli
