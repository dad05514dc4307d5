// The scheduler off Windows: the invoking user's crontab, read with "crontab -l" and
// written whole with "crontab -". The task is the one line that ends with "# " and the
// task's name; every other line of the crontab is kept as it is. There is no editor
// for a task here, and no begin date: a line runs from the day it is added.
#include <sys/wait.h>

#include <cstdio>

#include "platform/scheduler.h"

namespace platform {
namespace {

enum class ReadOutcome { kRead, kUnavailable };

// The user's crontab, line by line. No crontab yet is an empty one.
ReadOutcome ReadCrontab(std::vector<std::string>& lines) {
  std::FILE* pipe = popen("crontab -l 2>&1", "r");
  if (pipe == nullptr) return ReadOutcome::kUnavailable;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = pclose(pipe);
  if (status == -1 || !WIFEXITED(status)) return ReadOutcome::kUnavailable;
  if (WEXITSTATUS(status) != 0) {
    // Debian's crontab says "no crontab for USER" and exits 1 when there is none.
    return text.find("no crontab for") != std::string::npos ? ReadOutcome::kRead : ReadOutcome::kUnavailable;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return ReadOutcome::kRead;
}

bool WriteCrontab(const std::vector<std::string>& lines) {
  std::FILE* pipe = popen("crontab - >/dev/null 2>&1", "w");
  if (pipe == nullptr) return false;
  bool ok = true;
  for (const std::string& line : lines) ok = ok && std::fprintf(pipe, "%s\n", line.c_str()) >= 0;
  const int status = pclose(pipe);
  return ok && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class CrontabScheduler : public Scheduler {
 public:
  TaskPresence Check(const std::string& name) override {
    std::vector<std::string> lines;
    if (ReadCrontab(lines) != ReadOutcome::kRead) return TaskPresence::kUnavailable;
    return Find(lines, name) < lines.size() ? TaskPresence::kExists : TaskPresence::kMissing;
  }

  SchedulerResult Create(const DailyTask& task, bool) override {
    std::vector<std::string> lines;
    if (ReadCrontab(lines) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    if (Find(lines, task.name) < lines.size()) return SchedulerResult::kExists;
    lines.push_back(CrontabLine(task));
    return WriteCrontab(lines) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  SchedulerResult Edit(const std::string& name) override {
    std::vector<std::string> lines;
    if (ReadCrontab(lines) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    return Find(lines, name) < lines.size() ? SchedulerResult::kDone : SchedulerResult::kMissing;
  }

  SchedulerResult Remove(const std::string& name) override {
    std::vector<std::string> lines;
    if (ReadCrontab(lines) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    const std::size_t at = Find(lines, name);
    if (at >= lines.size()) return SchedulerResult::kMissing;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(at));
    return WriteCrontab(lines) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  std::optional<DailyTask> Read(const std::string& name) override {
    std::vector<std::string> lines;
    if (ReadCrontab(lines) != ReadOutcome::kRead) return std::nullopt;
    const std::size_t at = Find(lines, name);
    return at < lines.size() ? ParseCrontabLine(lines[at], name) : std::nullopt;
  }

 private:
  static std::size_t Find(const std::vector<std::string>& lines, const std::string& name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (ParseCrontabLine(lines[i], name)) return i;
    }
    return lines.size();
  }
};

}  // namespace

Scheduler& SystemScheduler() {
  static CrontabScheduler scheduler;
  return scheduler;
}

}  // namespace platform

#include <pwd.h>
#include <unistd.h>

namespace platform {

std::string CurrentUserName() {
  if (const passwd* user = getpwuid(geteuid()); user != nullptr && user->pw_name != nullptr) return user->pw_name;
  return {};
}

}  // namespace platform
