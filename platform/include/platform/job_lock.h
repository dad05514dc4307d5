// One engine job per machine: a lock the process running a job holds for the job's
// whole life, so two processes (DefragShell, vexa, the real-time defragmenter) never
// work on volumes or write the shared report pages at once.
//
//   - Windows: the named mutex "Global\Tolvane Disk Defrag job"; the thread that takes
//     it gives it back.
//   - Linux: an exclusive flock on the file "joblock" in the engine's working folder,
//     created when missing; the kernel lets go of it when the process ends.
//   - Tests: FakeJobLock, where locks made on one FakeJobLockSite stand for processes.
#pragma once

#include <atomic>
#include <memory>
#include <string>

namespace platform {

class JobLock {
 public:
  virtual ~JobLock() = default;
  // Takes the lock without waiting. False when another holder has it (or the lock
  // cannot be formed at all). Not re-entrant: call Unlock before taking it again.
  [[nodiscard]] virtual bool TryLock() = 0;
  // Gives the lock back; nothing when it is not held. The thread that took it.
  virtual void Unlock() = 0;
};

// The machine-wide job lock; `workingFolder` ends with its separator (Linux keeps the
// lock file there). Never null.
std::unique_ptr<JobLock> CreateMachineJobLock(const std::string& workingFolder);

// What several FakeJobLocks share: whether one of them holds the lock.
struct FakeJobLockSite {
  std::atomic<bool> held{false};
};

// A job lock for tests: locks on one site exclude one another as processes would.
class FakeJobLock final : public JobLock {
 public:
  explicit FakeJobLock(FakeJobLockSite& site) : site_(site) {}
  ~FakeJobLock() override { Unlock(); }
  bool TryLock() override {
    if (mine_) return false;
    bool expected = false;
    mine_ = site_.held.compare_exchange_strong(expected, true);
    return mine_;
  }
  void Unlock() override {
    if (mine_) site_.held.store(false);
    mine_ = false;
  }

 private:
  FakeJobLockSite& site_;
  bool mine_ = false;
};

}  // namespace platform
