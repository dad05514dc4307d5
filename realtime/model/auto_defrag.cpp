// The real-time defragmenter's rules: starting and stopping runs, pause, tip texts.
#include "auto_defrag.h"

#include <cstdio>
#include <utility>

namespace realtime {
namespace {

constexpr std::size_t kTipLength = 127;  // NOTIFYICONDATA's tip holds 128 bytes

std::string LetterText(char letter) { return std::string(1, letter) + ":"; }

int Percent(const VexaWorkingStatus& status) {
  if (status.progressRange <= 0 || status.progressPosition <= 0) return 0;
  const std::int64_t percent =
      static_cast<std::int64_t>(status.progressPosition) * 100 / status.progressRange;
  return percent > 100 ? 100 : static_cast<int>(percent);
}

std::string VolumeText(const VolumeResult& result) {
  const std::string letter = LetterText(result.letter);
  if (result.message.rfind("Not enough disk space", 0) == 0) return letter + " not enough free space";
  if (!result.message.empty()) return letter + " " + result.message;
  if (result.filesDefragmented < 0) return letter + " defragmented";
  return letter + " " + std::to_string(result.filesDefragmented) +
         (result.filesDefragmented == 1 ? " file defragmented" : " files defragmented");
}

std::string Cut(std::string text) {
  if (text.size() > kTipLength) text = text.substr(0, kTipLength - 3) + "...";
  return text;
}

}  // namespace

std::string ClockText(std::time_t when) {
  std::tm local = {};
#ifdef _WIN32
  localtime_s(&local, &when);
#else
  localtime_r(&when, &local);
#endif
  char text[8];
  std::snprintf(text, sizeof(text), "%02d:%02d", local.tm_hour, local.tm_min);
  return text;
}

std::string RunSummaryText(const std::vector<VolumeResult>& results, std::time_t endedAt) {
  std::string text;
  bool stopped = false;
  for (const VolumeResult& result : results) {
    if (result.solidState) {
      if (!text.empty()) text += ", ";
      text += LetterText(result.letter) + " passed over (solid-state drive)";
      continue;
    }
    // A volume stopped before the engine wrote anything (during its analysis) still
    // tells the user the run was cut short; one the engine refused says nothing.
    if (!result.ran && !result.stopped) continue;
    if (!text.empty()) text += ", ";
    if (result.ran) {
      text += VolumeText(result);
      stopped = stopped || result.stopped;
    } else {
      text += LetterText(result.letter) + " stopped";
    }
  }
  if (text.empty()) return {};
  if (stopped) text += ", stopped";
  return text + ", " + ClockText(endedAt);
}

bool AnotherJobHolds(platform::JobLock& lock) {
  if (!lock.TryLock()) return true;
  lock.Unlock();
  return false;
}

AutoDefrag::AutoDefrag(std::function<bool(char, std::time_t)> volumeDue) : volumeDue_(std::move(volumeDue)) {}

bool AutoDefrag::InputSince(const Observation& now, std::int64_t sinceMs) const {
  // An unreadable idle time counts as a user at the keyboard.
  return !now.idleKnown || now.idleMs < now.nowMs - sinceMs;
}

bool AutoDefrag::AnyKnownVolumeDue(std::time_t now) const {
  // Before the first run the engine has not said which volumes exist: only a run finds out.
  if (knownVolumes_.empty()) return true;
  for (const char letter : knownVolumes_) {
    if (volumeDue_(letter, now)) return true;
  }
  return false;
}

Command AutoDefrag::Tick(const Observation& now) {
  lastNowMs_ = now.nowMs;
  if (running_) {
    if (stopRequested_) return Command::StopRun;  // repeated: a stop may fall between two volumes
    if (InputSince(now, runStartMs_) || !now.onAcPower || Paused()) {
      stopRequested_ = true;
      return Command::StopRun;
    }
    return Command::None;
  }
  if (periodUsedSinceMs_ && InputSince(now, *periodUsedSinceMs_)) periodUsedSinceMs_.reset();
  if (Paused() || periodUsedSinceMs_ || now.nowMs < retryAfterMs_) return Command::None;
  if (!now.idleKnown || now.idleMs < kIdleBeforeRunMs || !now.onAcPower || now.otherJobRunning) {
    return Command::None;
  }
  if (!AnyKnownVolumeDue(now.wallTime)) {
    periodUsedSinceMs_ = now.nowMs;  // nothing to do in this idle period
    return Command::None;
  }
  running_ = true;
  stopRequested_ = false;
  runStartMs_ = now.nowMs;
  currentLetter_ = 0;
  status_.reset();
  results_.clear();
  return Command::StartRun;
}

Command AutoDefrag::Pause(const Observation& now) {
  lastNowMs_ = now.nowMs;
  pausedUntilMs_ = now.nowMs + kPauseMs;
  pausedUntilWall_ = now.wallTime + kPauseMs / 1000;
  if (!running_) return Command::None;
  stopRequested_ = true;
  return Command::StopRun;
}

void AutoDefrag::VolumeStarted(char letter) {
  currentLetter_ = letter;
  status_.reset();
}

void AutoDefrag::Progress(const VexaWorkingStatus& status) {
  if (running_) status_ = status;
}

void AutoDefrag::VolumeFinished(const VolumeResult& result) {
  results_.push_back(result);
  status_.reset();
}

void AutoDefrag::RunEnded(const Observation& now, const std::string& fixedVolumes, const std::string& failure) {
  lastNowMs_ = now.nowMs;
  running_ = false;
  status_.reset();
  if (!fixedVolumes.empty()) knownVolumes_ = fixedVolumes;
  bool refused = false;
  for (const VolumeResult& result : results_) {
    // A solid-state drive passed over is no refusal: retrying would pass it over again.
    refused = refused || (!result.ran && !result.stopped && !result.solidState);
  }
  if (refused) {
    // The engine started nothing: another job held the machine. Try again shortly,
    // in the same idle period.
    retryAfterMs_ = now.nowMs + kRefusedRetryMs;
  } else {
    periodUsedSinceMs_ = runStartMs_;
  }
  const std::string summary = RunSummaryText(results_, now.wallTime);
  if (!summary.empty()) {
    lastRunText_ = "Last run: " + summary;
  } else if (!failure.empty()) {
    lastRunText_ = "Last run: " + failure + ", " + ClockText(now.wallTime);
  }
  stopRequested_ = false;
}

std::string AutoDefrag::TipText() const {
  if (running_) {
    if (stopRequested_) return "Stopping";
    const char letter = status_ && status_->letter != 0 ? status_->letter : currentLetter_;
    if (letter == 0) return "Defragmenting";
    if (status_ && status_->state == VEXA_STATE_ANALYSING) {
      return "Scanning " + LetterText(letter) + " " + std::to_string(Percent(*status_)) + "%";
    }
    if (status_ && status_->state == VEXA_STATE_DEFRAGMENTING) {
      return "Defragmenting " + LetterText(letter) + " " + std::to_string(Percent(*status_)) + "%";
    }
    return "Defragmenting " + LetterText(letter);
  }
  if (Paused()) return "Paused until " + ClockText(pausedUntilWall_);
  if (!lastRunText_.empty()) return Cut(lastRunText_);
  return "Idle";
}

}  // namespace realtime
