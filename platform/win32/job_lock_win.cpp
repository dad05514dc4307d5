// The machine-wide job lock on Windows: a named mutex.
#include <windows.h>

#include "platform/job_lock.h"

namespace platform {
namespace {

constexpr char kMutexName[] = "Global\\Tolvane Disk Defrag job";

class MutexJobLock final : public JobLock {
 public:
  ~MutexJobLock() override { Unlock(); }

  bool TryLock() override {
    if (mutex_ != nullptr) return false;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kMutexName);
    if (mutex == nullptr) return false;
    const DWORD waited = WaitForSingleObject(mutex, 0);
    // An abandoned mutex (its holder died) is ours now: the job it guarded is over.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      CloseHandle(mutex);
      return false;
    }
    mutex_ = mutex;
    return true;
  }

  void Unlock() override {
    if (mutex_ == nullptr) return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
  }

 private:
  HANDLE mutex_ = nullptr;
};

}  // namespace

std::unique_ptr<JobLock> CreateMachineJobLock(const std::string&) { return std::make_unique<MutexJobLock>(); }

}  // namespace platform
