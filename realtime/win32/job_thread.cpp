// The job thread: one run of quick defragmentations through the engine's exports.
#include "job_thread.h"

#include <utility>

#include "defrag_dates.h"
#include "volume_run.h"

namespace realtime {

JobThread::JobThread(HWND window, std::string engineFolder)
    : window_(window), engineFolder_(std::move(engineFolder)) {}

JobThread::~JobThread() {
  StopAndWait();
  if (thread_ != nullptr) ::CloseHandle(thread_);
}

void JobThread::StopAndWait() {
  if (thread_ == nullptr) return;
  Stop();
  ::WaitForSingleObject(thread_, INFINITE);
}

bool JobThread::Alive() const { return thread_ != nullptr && ::WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT; }

bool JobThread::Start() {
  if (Alive()) return false;
  if (thread_ != nullptr) {
    ::CloseHandle(thread_);
    thread_ = nullptr;
  }
  stop_.store(false);
  thread_ = ::CreateThread(nullptr, 0, &JobThread::Main, this, 0, nullptr);
  return thread_ != nullptr;
}

void JobThread::Stop() {
  stop_.store(true);
  std::lock_guard lock(engineMutex_);
  if (engineReady_) engine_.Api().workingStop();
}

bool JobThread::Poll(VexaWorkingStatus* status) {
  std::lock_guard lock(engineMutex_);
  if (!engineReady_) return false;
  *status = *engine_.Api().getWorkingStatus();
  return true;
}

void JobThread::TakeEvents(std::deque<JobEvent>* events) {
  std::lock_guard lock(eventMutex_);
  while (!events_.empty()) {
    events->push_back(std::move(events_.front()));
    events_.pop_front();
  }
}

void JobThread::Post(JobEvent event) {
  {
    std::lock_guard lock(eventMutex_);
    events_.push_back(std::move(event));
  }
  ::PostMessageA(window_, kJobEventMessage, 0, 0);
}

DWORD WINAPI JobThread::Main(void* self) {
  static_cast<JobThread*>(self)->Run();
  return 0;
}

void JobThread::Run() {
  // Background mode lowers this thread's CPU and disk priority; the engine does its
  // work on threads of its own, which the process-wide mode reaches as well. Both end
  // with the run, so the tray stays at normal priority while the program waits.
  ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN);
  ::SetPriorityClass(::GetCurrentProcess(), PROCESS_MODE_BACKGROUND_BEGIN);

  JobEvent end;
  std::string error;
  // Loading runs the engine's start-up (it opens and reads every volume), so it happens
  // outside the lock the main thread's polls take.
  if (!engine_.Load(engineFolder_, &error)) {
    end.failure = "cannot load vexa.dll";
  } else {
    {
      std::lock_guard lock(engineMutex_);
      engineReady_ = true;
    }
    end.fixedVolumes = FixedVolumes(engine_.Api());
    const std::string dates = engineFolder_ + "defragdate";
    RunEvents events;
    events.volumeStarted = [this](char letter) {
      JobEvent event;
      event.kind = JobEvent::VolumeStarted;
      event.letter = letter;
      Post(std::move(event));
    };
    events.volumeFinished = [this](const VolumeResult& result) {
      JobEvent event;
      event.kind = JobEvent::VolumeFinished;
      event.letter = result.letter;
      event.result = result;
      Post(std::move(event));
    };
    DefragDueVolumes(
        engine_.Api(), engineFolder_, end.fixedVolumes,
        [&dates](char letter) { return VolumeDue(dates, letter, std::time(nullptr)); }, stop_, events);
    {
      std::lock_guard lock(engineMutex_);
      engineReady_ = false;
    }
    engine_.Unload();
  }

  ::SetPriorityClass(::GetCurrentProcess(), PROCESS_MODE_BACKGROUND_END);
  ::SetThreadPriority(::GetCurrentThread(), THREAD_MODE_BACKGROUND_END);
  end.kind = JobEvent::RunEnded;
  Post(std::move(end));
}

}  // namespace realtime
