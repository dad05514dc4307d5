// Job exports' start-and-wait, the worker hand-over and the status record.
#include "core/job_control.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "analysis/analysis_worker.h"
#include "core/engine.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "platform/name_text.h"
#include "defrag/defrag_worker.h"

namespace vexa {

JobState gJob;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The job exports' wait: every slot is emptied under gSlotLock, and the emptying that
// leaves both slots empty ends a job and wakes the waiting export. Jobs are numbered as
// they start, so a waiting export returns when its own job has ended, even when a
// second job claims the slots before the waiter wakes.
std::mutex gSlotLock;
std::condition_variable gSlotEmptied;
std::uint64_t gJobsStarted = 0;  // under gSlotLock
std::uint64_t gJobsEnded = 0;    // under gSlotLock

// The export that starts a job joins its worker threads before it returns, so no worker
// is still inside the engine's code (leaving its thread function after emptying its
// slot) when the caller unloads the library. The threads belong to the export's own
// frame, since the next job may start as soon as this one's slots are empty: the
// analysis thread gets the address of the export's place for the defragmentation thread
// that it starts at the hand-over.
thread_local std::thread* tDefragThread = nullptr;

// Status-thread-only counter of polls during one move.
std::uint64_t gPollCounter = 0;
std::uint32_t gSeenMoveSerial = 0;

}  // namespace

std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c) {
  if (c == 0) return -1;
  const std::int64_t p = static_cast<std::int64_t>(a) * b;
  std::int64_t q = p / c;
  const std::int64_t r = p % c;
  const std::int64_t absR = r < 0 ? -r : r;
  const std::int64_t absC = c < 0 ? -static_cast<std::int64_t>(c) : c;
  if (2 * absR >= absC) q += ((p < 0) != (c < 0)) ? -1 : 1;
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<std::int32_t>(q);
}

std::int32_t ProgressPercent(std::uint64_t processed, std::uint64_t used) {
  if (used == 0) return -1;
  if (processed >= used) return 100;
  // processed < used, so the product fits once both are small enough; scaling both by
  // the same factor keeps the ratio to far better than a percent.
  while (processed > UINT64_MAX / 200) {
    processed >>= 1;
    used >>= 1;
  }
  return static_cast<std::int32_t>((processed * 200 + used) / (2 * used));
}

void ResetJobState() {
  std::memset(gJob.letters, 0, sizeof gJob.letters);
  gJob.mode.store(kJobAnalyse);
  gJob.stop.store(true);
  gJob.analysisRunning.store(false);
  gJob.defragRunning.store(false);
  gJob.currentSlot.store(0);
  gJob.currentLetter.store(0);
  gPollCounter = 0;
  gSeenMoveSerial = gWork.moveSerial.load();
}

void EmptySlot(std::atomic<bool>& slot) {
  std::lock_guard<std::mutex> guard(gSlotLock);
  slot.store(false, std::memory_order_release);
  if (!gJob.analysisRunning.load(std::memory_order_acquire) && !gJob.defragRunning.load(std::memory_order_acquire)) {
    ++gJobsEnded;
    gSlotEmptied.notify_all();
  }
}

namespace {

// Holds the machine-wide job lock for one job; gives it back on every way out.
class MachineJob {
 public:
  MachineJob() : held_(gJobLock != nullptr && gJobLock->TryLock()) {}
  ~MachineJob() {
    if (held_) gJobLock->Unlock();
  }
  MachineJob(const MachineJob&) = delete;
  MachineJob& operator=(const MachineJob&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_;
};

}  // namespace

bool ClaimCallerJob() {
  {
    std::lock_guard<std::mutex> guard(gSlotLock);
    bool expected = false;
    if (gJob.analysisRunning.load() || !gJob.defragRunning.compare_exchange_strong(expected, true)) return false;
  }
  if (gJobLock == nullptr || !gJobLock->TryLock()) {
    std::lock_guard<std::mutex> guard(gSlotLock);
    gJob.defragRunning.store(false);
    gSlotEmptied.notify_all();
    return false;
  }
  gJob.stop.store(false);
  return true;
}

void ReleaseCallerJob() {
  gJobLock->Unlock();
  std::lock_guard<std::mutex> guard(gSlotLock);
  gJob.defragRunning.store(false, std::memory_order_release);
  gSlotEmptied.notify_all();
}

bool RunJob(const char* letters, JobMode mode) {
  // One job at a time in this engine: claim the analysis slot, or return when a job runs.
  std::uint64_t job = 0;
  {
    std::lock_guard<std::mutex> guard(gSlotLock);
    bool expected = false;
    if (gJob.defragRunning.load() || !gJob.analysisRunning.compare_exchange_strong(expected, true)) return true;
    job = ++gJobsStarted;
  }
  // One job at a time on the machine: the lock is held until the last worker has ended.
  const MachineJob machineJob;
  if (!machineJob.Held()) {
    EmptySlot(gJob.analysisRunning);
    return false;
  }
  std::memset(gJob.letters, 0, sizeof gJob.letters);
  if (letters != nullptr) {
    // At most 255 letters: the buffer keeps its last byte as the terminator.
    std::size_t n = 0;
    while (n < sizeof gJob.letters - 1 && letters[n] != 0) ++n;
    std::memcpy(gJob.letters, letters, n);
  }
  gJob.mode.store(mode);
  gJob.stop.store(false);
  std::thread analysis;
  std::thread defrag;  // set by the analysis thread at the hand-over
  try {
    analysis = std::thread([&defrag] {
      tDefragThread = &defrag;
      AnalysisWorkerMain();
    });
  } catch (const std::system_error&) {
    gJob.stop.store(true);
    EmptySlot(gJob.analysisRunning);
    return true;
  }
  {
    // Woken by the last worker's EmptySlot; the timeout only bounds a lost wake-up.
    std::unique_lock<std::mutex> lock(gSlotLock);
    while (gJobsEnded < job) gSlotEmptied.wait_for(lock, std::chrono::milliseconds(gJobWaitMs));
  }
  analysis.join();  // after this, `defrag` is as the analysis thread left it
  if (defrag.joinable()) defrag.join();
  return true;
}

void EndJobAfterFailure() noexcept {
  gJob.stop.store(true);
  gWork.stopped = true;
  gWork.moving.store(false, kRelaxed);
  gWork.optimizing.store(false, kRelaxed);
  gJob.mode.store(kJobAnalyse);
}

bool StartDefragWorker() {
  gJob.defragRunning.store(true, std::memory_order_release);
  try {
    std::thread worker(DefragWorkerMain);
    if (tDefragThread != nullptr) {
      *tDefragThread = std::move(worker);  // joined by the job export
    } else {
      worker.detach();  // a worker started outside a job export (tests)
    }
  } catch (const std::system_error&) {
    // The analysis slot is still occupied: the job goes on to its end there.
    gJob.defragRunning.store(false, std::memory_order_release);
    return false;
  }
  return true;
}

void FillStatus(VexaWorkingStatus& status) {
  status.letter = gJob.currentLetter.load(kRelaxed);
  status.reserved = 0;
  gWork.currentName.CopyTo(status.currentName, sizeof status.currentName);
  platform::CutToWholeCharacters(status.currentName);
  status.padding1[0] = status.padding1[1] = 0;
  std::memset(status.padding2, 0, sizeof status.padding2);

  // The poll counter restarts with every move the worker begins.
  const bool moving = gWork.moving.load(kRelaxed);
  const std::uint32_t serial = gWork.moveSerial.load(kRelaxed);
  if (serial != gSeenMoveSerial) {
    gSeenMoveSerial = serial;
    gPollCounter = 0;
  }

  const int s = gJob.currentSlot.load(kRelaxed);
  status.progressRange = 100;
  status.progressPosition = 1;
  if (OpenVolumeOfSlot(s) == nullptr) {
    status.state = VEXA_STATE_IDLE;
    return;
  }
  auto percentage = [] {
    return ProgressPercent(gWork.processedClusters.load(kRelaxed), gWork.usedClusters.load(kRelaxed));
  };
  if (gJob.analysisRunning.load(kRelaxed)) {
    status.state = VEXA_STATE_ANALYSING;
    status.progressPosition = percentage();
    return;
  }
  if (gJob.defragRunning.load(kRelaxed)) {
    const bool optimizing = gWork.optimizing.load(kRelaxed);
    std::uint64_t source = 0;
    std::uint64_t target = 0;
    if (moving) {
      ++gPollCounter;
      source = (optimizing ? gWork.candidateFirstCluster.load(kRelaxed) : gWork.moveStartingVcn.load(kRelaxed)) +
               gPollCounter;
      target = gWork.moveTargetLcn.load(kRelaxed) + gPollCounter;
    }
    if (optimizing) {
      status.state = VEXA_STATE_OPTIMIZING;
      status.progressRange = gWork.inDepthCount.load(kRelaxed);
      status.progressPosition = gWork.inDepthIndex.load(kRelaxed);
    } else {
      status.state = VEXA_STATE_DEFRAGMENTING;
      status.progressPosition = percentage();
    }
    status.moveSource = source;
    status.moveTarget = target;
    return;
  }
  status.state = VEXA_STATE_IDLE;
}

}  // namespace vexa
