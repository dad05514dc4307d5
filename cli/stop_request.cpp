// Stop signals: the handler only counts and calls the engine's stop export, which sets
// one atomic flag, so it is safe inside a signal handler; everything the user is told
// is printed by the polling thread.
#include "stop_request.h"

#include <atomic>
#include <csignal>

namespace cli {
namespace {

std::atomic<int> gStopRequests{0};
std::atomic<WorkingStopFunction> gWorkingStop{nullptr};

extern "C" void OnStopSignal(int signal) {
  gStopRequests.fetch_add(1);
  if (WorkingStopFunction stop = gWorkingStop.load()) stop();
#ifdef _WIN32
  // The Windows C runtime resets a handler to the default after each signal.
  std::signal(signal, OnStopSignal);
#else
  (void)signal;
#endif
}

}  // namespace

void InstallStopHandlers(WorkingStopFunction workingStop) {
  gWorkingStop.store(workingStop);
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
#ifdef SIGBREAK
  std::signal(SIGBREAK, OnStopSignal);
#endif
}

void ClearStopTarget() { gWorkingStop.store(nullptr); }

int StopRequestCount() { return gStopRequests.load(); }

}  // namespace cli
