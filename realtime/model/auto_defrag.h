// The real-time defragmenter's rules, apart from any window or thread: when a run of
// quick defragmentations starts, when it must stop, the pause, and the tray tip text.
//
// The program feeds it a reading on every timer tick (Tick) and the events of the run
// (VolumeStarted, Progress, VolumeFinished, RunEnded); it answers with what to do.
// A run starts when the user has left keyboard and mouse alone for 10 minutes, the
// computer runs on mains power, nothing is paused, no other engine job holds the
// machine, and this idle period has not had its run yet. A run stops as soon as input
// comes back (or the power goes to battery, or the user pauses), and the next run waits
// for the next idle period. Volumes defragmented less than a day ago are skipped (the
// run skips them; before a run, volumes seen in earlier runs are checked so that an
// idle machine whose volumes are all recent never loads the engine).
//
// Everything here runs on the program's main thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/job_lock.h"
#include "vexa/vexa.h"

namespace realtime {

inline constexpr std::int64_t kIdleBeforeRunMs = 10 * 60 * 1000;
inline constexpr std::int64_t kPauseMs = 60 * 60 * 1000;
// After a run that the engine refused (another process's job held the machine).
inline constexpr std::int64_t kRefusedRetryMs = 60 * 1000;
// Timer periods: waiting for an idle period, and watching a run (input must stop it
// within a second).
inline constexpr int kWaitingTickMs = 5000;
inline constexpr int kRunningTickMs = 250;

// One reading of the machine, taken for a tick.
struct Observation {
  std::int64_t nowMs = 0;        // a steady clock, in milliseconds
  std::time_t wallTime = 0;      // the wall clock: texts and the day rule
  bool idleKnown = false;        // false when the idle reading failed: the user counts as present
  std::int64_t idleMs = 0;       // since the last keyboard or mouse input
  bool onAcPower = true;
  bool otherJobRunning = false;  // another process's engine job holds the machine
};

// How one volume's quick defragmentation went.
struct VolumeResult {
  char letter = 0;
  bool ran = false;                      // the engine ran the job (its report page was written)
  bool stopped = false;                  // the job was asked to stop before it ended
  std::int64_t filesDefragmented = -1;   // from the volume's report page; -1 unknown
  std::string message;                   // what the engine would have shown in a message box
  bool solidState = false;               // passed over, not run: a solid-state drive
};

enum class Command {
  None,
  StartRun,  // start the job thread now
  StopRun,   // ask the engine to stop (DLL_WorkingStop) and let the run end
};

class AutoDefrag {
 public:
  // `volumeDue(letter, now)` is the day rule for one volume.
  explicit AutoDefrag(std::function<bool(char letter, std::time_t now)> volumeDue);

  // A timer tick. StartRun puts the model into the running state at once; StopRun is
  // answered once per run and repeated only while the run is stopping.
  Command Tick(const Observation& now);
  // "Pause for one hour": no run until an hour from now (a second pause counts from
  // its own time). Answers StopRun while a run is going.
  Command Pause(const Observation& now);

  // Events of the run, passed on from the job thread.
  void VolumeStarted(char letter);
  void Progress(const VexaWorkingStatus& status);
  void VolumeFinished(const VolumeResult& result);
  // The run is over and the engine unloaded; `fixedVolumes` are the letters the engine
  // found (empty when it could not be loaded), `failure` says why nothing ran when the
  // engine could not be loaded ("" otherwise).
  void RunEnded(const Observation& now, const std::string& fixedVolumes, const std::string& failure);

  bool Running() const { return running_; }
  bool Stopping() const { return running_ && stopRequested_; }
  bool Paused() const { return pausedUntilMs_ > lastNowMs_; }
  int TickIntervalMs() const { return running_ ? kRunningTickMs : kWaitingTickMs; }

  // The tip of the tray icon, one line of at most 127 characters: "Idle",
  // "Scanning C: 12%", "Defragmenting C: 40%", "Stopping", "Paused until 15:20",
  // "Last run: C: 12 files defragmented, 14:02".
  std::string TipText() const;

 private:
  bool InputSince(const Observation& now, std::int64_t sinceMs) const;
  bool AnyKnownVolumeDue(std::time_t now) const;

  std::function<bool(char, std::time_t)> volumeDue_;
  std::int64_t lastNowMs_ = 0;

  bool running_ = false;
  bool stopRequested_ = false;
  std::int64_t runStartMs_ = 0;
  char currentLetter_ = 0;
  std::optional<VexaWorkingStatus> status_;
  std::vector<VolumeResult> results_;

  std::int64_t pausedUntilMs_ = 0;
  std::time_t pausedUntilWall_ = 0;
  // The idle period that has had its run: set to the start of that run, cleared by the
  // first input after it.
  std::optional<std::int64_t> periodUsedSinceMs_;
  std::int64_t retryAfterMs_ = 0;
  std::string knownVolumes_;

  std::string lastRunText_;  // "Last run: ..." once a run has done something
};

// Whether another process's engine job holds the machine-wide job lock: the lock is
// taken and given back at once. A lock that cannot be formed counts as held, so nothing
// runs beside a job that might exist. Main thread, while no run of ours goes.
bool AnotherJobHolds(platform::JobLock& lock);

// "HH:MM" of a wall time in local time.
std::string ClockText(std::time_t when);

// The text of a finished run's results (without "Last run: "), ending with the time:
// "C: 12 files defragmented, 14:02", "C: 3 files defragmented, stopped, 14:02",
// "C: stopped, 14:02" (stopped before the engine had written anything). Empty when no
// volume ran or was stopped.
std::string RunSummaryText(const std::vector<VolumeResult>& results, std::time_t endedAt);

}  // namespace realtime
