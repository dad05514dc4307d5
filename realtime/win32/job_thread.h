// The job thread of the real-time defragmenter: loads the engine from the program's own
// folder, runs the quick defragmentations of one run at background priority, unloads
// the engine (so no volume stays open while the program waits) and reports to the
// window through posted messages.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <string>

#include "auto_defrag.h"
#include "engine_api.h"

namespace realtime {

// Posted to the window when events wait in the queue (wParam, lParam unused).
inline constexpr UINT kJobEventMessage = WM_APP + 2;

struct JobEvent {
  enum Kind { VolumeStarted, VolumeFinished, RunEnded } kind = RunEnded;
  char letter = 0;
  VolumeResult result;       // VolumeFinished
  std::string fixedVolumes;  // RunEnded: the engine's volumes ("" when it did not load)
  std::string failure;       // RunEnded: why the engine could not be loaded
};

class JobThread {
 public:
  // `engineFolder`: the folder of VEXAAUTO.exe and vexa.dll, ending with '\'.
  JobThread(HWND window, std::string engineFolder);
  ~JobThread();  // waits for a running thread
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;

  // Starts one run; false when a run is still going or the thread cannot be made.
  // Main thread.
  [[nodiscard]] bool Start();
  // Asks the running run to stop: the flag checked between volumes and DLL_WorkingStop.
  // Main thread; harmless when nothing runs.
  void Stop();
  // Stop, then waits until the thread of the run has ended (the engine unloaded).
  // Main thread.
  void StopAndWait();
  // Copies the engine's status record while the engine is loaded. Main thread only
  // (the engine allows one polling thread).
  [[nodiscard]] bool Poll(VexaWorkingStatus* status);
  // Moves the waiting events into *events. Main thread.
  void TakeEvents(std::deque<JobEvent>* events);
  // Whether the thread of the last run is still alive (it may be unloading the engine).
  bool Alive() const;

 private:
  static DWORD WINAPI Main(void* self);
  void Run();
  void Post(JobEvent event);

  HWND window_;
  std::string engineFolder_;
  HANDLE thread_ = nullptr;
  std::atomic<bool> stop_{false};

  // engine_ is loaded and unloaded by the job thread only; engineReady_ (under the
  // mutex) says when the main thread may call it, so it is never unloaded under a poll.
  std::mutex engineMutex_;
  bool engineReady_ = false;
  cli::EngineLibrary engine_;

  std::mutex eventMutex_;
  std::deque<JobEvent> events_;
};

}  // namespace realtime
