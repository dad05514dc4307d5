// The job thread and the polling thread.
#include "model/job_runner.h"

#include <cstring>
#include <thread>

#include "model/status_texts.h"

namespace shell {

JobExport ExportFor(JobKind kind, const JobExports& exports) {
  switch (kind) {
    case JobKind::kAnalyse:
      return exports.analyse;
    case JobKind::kDefragment:
      return exports.quick;
    case JobKind::kInDepth:
      return exports.inDepth;
  }
  return nullptr;
}

struct JobRunner::Job {
  int id = 0;
  JobKind kind = JobKind::kAnalyse;
  char letters[27] = {};
  std::atomic<bool> running{true};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> refused{false};  // the engine started nothing: a job runs elsewhere
};

struct JobRunner::Shared {
  Shared(JobEngine& e, JobHooks h, PollTiming t) : engine(e), hooks(std::move(h)), timing(t) {}
  JobEngine& engine;
  JobHooks hooks;
  PollTiming timing;
  std::atomic<int> liveThreads{0};
  mutable std::mutex displayLock;
  Display display;
};

JobRunner::JobRunner(JobEngine& engine, JobHooks hooks, PollTiming timing)
    : shared_(std::make_shared<Shared>(engine, std::move(hooks), timing)) {}

JobRunner::~JobRunner() = default;

bool JobRunner::ThreadsAlive() const { return shared_->liveThreads.load(std::memory_order_acquire) != 0; }

bool JobRunner::Start(JobKind kind, const std::string& letters) {
  if (ThreadsAlive()) return false;
  auto job = std::make_shared<Job>();
  job->id = ++lastJob_;
  job->kind = kind;
  std::strncpy(job->letters, letters.c_str(), 26);
  current_ = job;
  // The map follows the job's first volume even when the job ends before the first poll.
  if (job->letters[0] != 0) SetDrive(job->letters[0]);
  shared_->liveThreads.store(2, std::memory_order_release);
  std::thread(JobThread, shared_, job).detach();
  std::thread(PollThread, shared_, job).detach();
  return true;
}

void JobRunner::RequestStop() {
  shared_->engine.Stop();
  if (current_ != nullptr) {
    current_->stopRequested.store(true);
    current_->running.store(false);
  }
}

void JobRunner::SetDrive(char letter) {
  std::lock_guard<std::mutex> lock(shared_->displayLock);
  shared_->display.drive = letter;
}

Display JobRunner::Snapshot() const {
  std::lock_guard<std::mutex> lock(shared_->displayLock);
  return shared_->display;
}

void JobRunner::RefreshColors(char letter, int job) { Refresh(*shared_, letter, job); }

void JobRunner::Refresh(Shared& shared, char letter, int job) {
  const std::int32_t* table = shared.engine.ColorTable(letter);
  {
    std::lock_guard<std::mutex> lock(shared.displayLock);
    if (table != nullptr) std::memcpy(shared.display.colors.data(), table, sizeof(ColorCopy));
  }
  shared.hooks.notify(Notice::kMap, job);
}

void JobRunner::Poll(Shared& shared, const Job& job) {
  try {
    const VexaWorkingStatus* record = shared.engine.Status();
    if (record == nullptr) return;
    VexaWorkingStatus status;
    std::memcpy(&status, record, sizeof status);
    char drive;
    {
      std::lock_guard<std::mutex> lock(shared.displayLock);
      drive = shared.display.drive;
    }
    const PollView view = ReadStatus(status, drive);
    {
      std::lock_guard<std::mutex> lock(shared.displayLock);
      shared.display.stateText = view.stateText;
      shared.display.clusterText = view.clusterText;
      shared.display.fileText = view.fileText;
      shared.display.progressLength = view.progressLength;
      shared.display.drive = view.drive;
    }
    if (!view.engineIdle) Refresh(shared, view.drive, job.id);
    shared.hooks.notify(Notice::kStatus, job.id);
  } catch (...) {
    // A failed poll shows nothing; the next one tries again.
  }
}

void JobRunner::PollThread(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job) {
  PollClock& clock = shared->timing.clock != nullptr ? *shared->timing.clock : SteadyPollClock();
  const int interval = shared->timing.pollIntervalMs;
  // Polls fall due on a deadline: a sleep of 1 ms may last a whole timer tick, so
  // counting passes would stretch the period by the tick's length.
  std::int64_t due = clock.NowMs() + interval;
  while (job->running.load()) {
    const std::int64_t now = clock.NowMs();
    if (now >= due) {
      Poll(*shared, *job);
      due += interval;
      // After a long stall (a slow notify), the next poll is a whole period away
      // rather than a burst of late ones.
      if (due <= now) due = now + interval;
    }
    clock.SleepMs(1);
  }
  clock.SleepMs(shared->timing.finalPollDelayMs);
  Poll(*shared, *job);
  char drive;
  {
    std::lock_guard<std::mutex> lock(shared->displayLock);
    drive = shared->display.drive;
  }
  try {
    Refresh(*shared, drive, job->id);
  } catch (...) {
  }
  shared->liveThreads.fetch_sub(1, std::memory_order_acq_rel);
}

void JobRunner::JobThread(std::shared_ptr<Shared> shared, std::shared_ptr<Job> job) {
  const bool analysis = job->kind == JobKind::kAnalyse;
  try {
    // 0: the engine started nothing, since another process runs an engine job; there is
    // no report of this job to open.
    if (shared->engine.RunJob(job->kind, job->letters) == 0) {
      job->refused.store(true);
    } else {
      shared->engine.ShowReport(analysis ? 1 : 2);
    }
    shared->hooks.notify(analysis ? Notice::kAnalysisFinished : Notice::kDefragFinished, job->id);
  } catch (...) {
  }
  job->running.store(false);
  // Only a defragmentation that ran to its end may end the session: never an analysis,
  // never a job the user stopped.
  if (!analysis && !job->stopRequested.load() && !job->refused.load()) {
    try {
      // With both switches on only the power-off is asked for: a restart request after
      // it would race it, and the machine might come back up.
      const bool turnOff = shared->engine.Logout() && shared->hooks.power;
      const bool restart = !turnOff && shared->engine.Restart() && shared->hooks.power;
      if (turnOff || restart) shared->engine.SaveState();
      if (turnOff) shared->hooks.power(platform::PowerRequest::kTurnOff);
      if (restart) shared->hooks.power(platform::PowerRequest::kRestart);
    } catch (...) {
    }
  }
  shared->liveThreads.fetch_sub(1, std::memory_order_acq_rel);
}

bool JobRunner::JobRunning() const { return current_ != nullptr && current_->running.load(); }

bool JobRunner::LastJobRefused() const { return current_ != nullptr && current_->refused.load(); }

}  // namespace shell
