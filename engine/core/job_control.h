// Engine jobs: the job state, the job exports' start-and-wait, the stop request and
// the status record.
//
// A job export copies its letters, clears the stop flag, marks the analysis slot
// busy and starts the analysis worker; the worker, when it has visited every letter
// of a defragmentation job without a stop, marks the defragmentation slot busy before
// it frees its own and starts the defragmentation worker. The export waits on a
// condition variable until its job has ended (both slots free), and wakes as soon as
// the last worker empties its slot. A slot is an atomic flag that is set before its
// worker starts and cleared by the worker (EmptySlot) as its very last step, so a
// slot is free exactly when its worker has finished its output.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/shared_text.h"
#include "vexa/vexa.h"

namespace vexa {

enum JobMode : std::int32_t { kJobAnalyse = 0, kJobDefrag = 1, kJobOptimize = 2 };

struct JobState {
  char letters[256] = {};  // the job's drive letters; written before the worker starts
  std::atomic<std::int32_t> mode{kJobAnalyse};
  std::atomic<bool> stop{true};
  std::atomic<bool> analysisRunning{false};
  std::atomic<bool> defragRunning{false};
  std::atomic<std::int32_t> currentSlot{0};
  std::atomic<char> currentLetter{0};
};

extern JobState gJob;

inline bool StopRequested() { return gJob.stop.load(std::memory_order_relaxed); }

// Runs one job in `mode` over `letters` and returns when every worker has ended.
// A call while a job of this engine runs returns at once (true). A call while another
// process holds the machine-wide job lock starts nothing and returns false at once.
// Any thread but a worker's; the machine-wide lock is taken and given back on it.
[[nodiscard]] bool RunJob(const char* letters, JobMode mode);

// A job that runs on the caller's thread (the per-file commands of the command-line
// program): claims the defragmentation slot and the machine-wide job lock as a job
// export does, and clears the stop flag. False, with nothing held, when a job of this
// engine runs or another process holds the lock. ReleaseCallerJob gives both back.
// Any thread but a worker's.
[[nodiscard]] bool ClaimCallerJob();
void ReleaseCallerJob();

// Empties a worker's slot (gJob.analysisRunning or gJob.defragRunning) and, when both
// are then empty, ends the job and wakes the export waiting for it. A worker's very
// last step; the worker's thread.
void EmptySlot(std::atomic<bool>& slot);

// A worker's body failed with an exception (memory, a provider): the job ends as if
// stopped at that point. Raises the stop flag and the stopped flag, lowers the moving
// and in-depth flags and resets the job mode. Never throws. The failing worker only.
void EndJobAfterFailure() noexcept;

// Starts the defragmentation worker from the analysis worker (the hand-over).
// Returns false when the thread could not be started.
[[nodiscard]] bool StartDefragWorker();

// Windows' MulDiv: a * b / c formed in 64 bits, rounded to nearest with halves away
// from zero; -1 when c is 0 or the result does not fit in 32 bits.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

// A pass's progress in percent from its processed and used cluster counts, formed in
// 64 bits and rounded as MulDiv rounds: 0 to 100 (processed counts beyond the used
// ones read 100), or -1 when no cluster is in use.
std::int32_t ProgressPercent(std::uint64_t processed, std::uint64_t used);

// Fills `status` from the job state and work context. One polling thread at a time.
void FillStatus(VexaWorkingStatus& status);

// Resets the job state to idle (start-up).
void ResetJobState();

}  // namespace vexa
