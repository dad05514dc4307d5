// The job thread and the polling thread of DefragShell, and the state they share with
// the main window.
//
// Starting a job makes two threads that free themselves: the job thread makes the one
// blocking engine call, opens the report, sends the finished notice and then, when a
// defragmentation ran to its end, applies the turn-off or else the restart switch; the
// polling thread reads the engine's status record every 51 ms (by the clock, whatever
// the length of the system's sleep) while the job runs,
// turns it into texts, a progress length and a fresh colour copy, and notifies the
// window. After the job it waits 200 ms, polls once more and refreshes the colours.
//
// Every job has its own record (letters, kind, running flag, stop request, live thread
// count) that its threads hold, so a late thread of an old job can never clear the flag
// of a newer one. A new job is refused while any thread of the previous job is alive.
// The display state (texts, progress length, current drive, colour copy) is written by
// the polling thread, or by the main thread between jobs, under one mutex, and read by
// the main thread when notified.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "model/cluster_map.h"
#include "platform/power.h"
#include "model/poll_clock.h"
#include "vexa/vexa.h"

namespace shell {

// DefragShell's job kinds; each calls the engine export of job mode kind - 1.
enum class JobKind { kAnalyse = 1, kDefragment = 2, kInDepth = 3 };

// The engine's three job exports, named by the job each runs.
using JobExport = std::int32_t(VEXA_CALL*)(const char* letters);
struct JobExports {
  JobExport analyse;  // DLL_AnalyseVolume
  JobExport quick;    // DLL_DefragVolume
  JobExport inDepth;  // DLL_OptimizedDefragVolume
};

// The export a job of `kind` calls: the analysis for kind 1, the quick defragmentation
// for kind 2, the in-depth one for kind 3.
JobExport ExportFor(JobKind kind, const JobExports& exports);

// The four notifications to the main window. The values are the codes of the window's
// private message.
enum class Notice { kDefragFinished = 84, kAnalysisFinished = 85, kMap = 86, kStatus = 87 };

// The engine as the threads use it (the DLL_* exports in the program; a scripted
// engine in tests). Records returned are the engine's; copied at once, never freed.
class JobEngine {
 public:
  virtual ~JobEngine() = default;
  // Runs one job over `letters`, blocking until it has ended.
  virtual std::int32_t RunJob(JobKind kind, const char* letters) = 0;
  virtual void Stop() = 0;
  virtual const VexaWorkingStatus* Status() = 0;
  virtual const std::int32_t* ColorTable(char letter) = 0;
  virtual void ShowReport(std::int32_t kind) = 0;
  virtual bool Logout() = 0;
  virtual bool Restart() = 0;
  // Saves the engine's state files before the session is ended (which ends the program
  // before the engine unloads).
  virtual void SaveState() = 0;
};

// What the window shows, as one consistent copy.
struct Display {
  std::string stateText;
  std::string clusterText;
  std::string fileText;
  int progressLength = 0;
  char drive = 0;
  ColorCopy colors{};
};

// Callbacks into the program. `notify` sends a notice to the main window and returns
// when the window has handled it (`job` is the id of the job it comes from, 0 for the
// main thread's own colour refresh); `power` asks the system to end the session (the
// program passes platform::RequestPower). They are called on the job and polling threads.
struct JobHooks {
  std::function<void(Notice notice, int job)> notify;
  std::function<void(platform::PowerRequest request)> power;
};

// Timing of the polling thread; tests shorten it or give it a clock of their own.
struct PollTiming {
  int pollIntervalMs = 51;  // elapsed time between two polls
  int finalPollDelayMs = 200;
  PollClock* clock = nullptr;  // null: the steady clock
};

// What the window's buttons need of the jobs (JobRunner; a scripted one in tests).
// Main thread.
class JobControl {
 public:
  virtual ~JobControl() = default;
  // Starts a job; false, and nothing starts, while a thread of the previous job lives.
  [[nodiscard]] virtual bool Start(JobKind kind, const std::string& letters) = 0;
  virtual void RequestStop() = 0;
  virtual bool ThreadsAlive() const = 0;
  virtual bool LastJobRefused() const = 0;
  virtual int LastJob() const = 0;
};

class JobRunner final : public JobControl {
 public:
  // `engine` and the hooks must outlive every job thread (see ThreadsAlive).
  JobRunner(JobEngine& engine, JobHooks hooks, PollTiming timing = {});
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;
  ~JobRunner();

  // Starts a job of `kind` over `letters` (at most 26 are kept) and makes its first
  // letter the current drive. False, and nothing starts, while a thread of the previous
  // job is alive. Main thread.
  [[nodiscard]] bool Start(JobKind kind, const std::string& letters) override;

  // Asks the engine to stop and ends the polling loop of the running job. Main thread.
  void RequestStop() override;

  // True while a thread of the last job is alive. Any thread.
  bool ThreadsAlive() const override;

  // The last job's running flag: set from its start until its engine call has returned
  // (and the finished notice was sent) or a stop was requested. Main thread, or the
  // last job's own threads.
  bool JobRunning() const;

  // True when the engine refused the last job because another process runs an engine
  // job on this computer (read it on that job's finished notice). Main thread.
  bool LastJobRefused() const override;

  // Id of the last job started (1, 2, ...), 0 before the first. Main thread.
  int LastJob() const override { return lastJob_; }

  // Colour refresh: copies the engine's codes for `letter` and sends the map notice.
  // `job` as for JobHooks::notify. Main thread between jobs, or the polling thread.
  void RefreshColors(char letter, int job = 0);

  // Makes `letter` the current drive. Main thread between jobs.
  void SetDrive(char letter);

  // A copy of the display state. Any thread.
  Display Snapshot() const;

 private:
  struct Job;
  struct Shared;
  static void JobThread(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job);
  static void PollThread(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job);
  static void Poll(Shared& shared, const Job& job);
  static void Refresh(Shared& shared, char letter, int job);

  std::shared_ptr<Shared> shared_;
  std::shared_ptr<Job> current_;
  int lastJob_ = 0;
};

}  // namespace shell
