// One engine job, run as DefragShell runs it: a job thread makes the blocking export
// call while a polling thread reads the status record about every 51 ms and shows it.
//
// The polling thread passes a 1 ms sleep loop and polls on every 51st pass until the
// job thread's call has returned, then polls once more after 200 ms. It also turns stop
// signals into notes ("Stopping ...", then "already stopping"); the engine's stop
// export itself is called by the signal handler (stop_request.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine_api.h"
#include "progress_display.h"

namespace cli {

enum class JobKind { kAnalyse = 1, kDefrag = 2, kOptimize = 3 };

struct JobOutcome {
  bool stopped = false;               // a stop signal arrived while the job ran
  bool refused = false;               // another process runs an engine job: nothing started
  int engineMessages = 0;             // messages the engine raised (too little free space, ...)
  std::vector<std::string> messages;  // their texts, in the order raised
  double seconds = 0;                 // wall time of the export call
};

// Given an engine message, a line that says more about it, or empty. Called on the
// engine's thread while the job runs.
using MessageExplainer = std::function<std::string(const std::string& message)>;

// Runs `kind` over `letters` through `api` and returns when the engine's call has
// returned and the last poll has been shown. The engine's messages go to `display` as
// notes while the job runs, each followed by what `explain` (when set) adds to it.
// Main thread; one job at a time.
JobOutcome RunEngineJob(const EngineApi& api, JobKind kind, const std::string& letters, ProgressDisplay& display,
                        const MessageExplainer& explain = nullptr);

// What vexa says when the engine refuses a job because another runs on the computer.
inline constexpr char kBusyMessage[] = "Another defragmentation job is running on this computer.";

// The drive letter an engine message about too little free space names ("Not enough
// disk space, volume C can not be defragged."), or 0 when it is another message.
char LetterOfSpaceMessage(const std::string& message);

// The name of a job kind for texts: "analysis", "defragmentation", "in-depth defragmentation".
const char* JobKindName(JobKind kind);

}  // namespace cli
