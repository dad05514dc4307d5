// The scheduler off Windows: the invoking user's crontab, read with "crontab -l" and
// written whole with "crontab -". The task is the command line that ends with "# " and
// the task's name, found by that marker even after its times were edited; every other
// line of the crontab is written back byte for byte. There is no editor for a task
// here, and no begin date: a line runs from the day it is added.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/scheduler.h"

extern char** environ;

namespace platform {
namespace {

enum class ReadOutcome { kRead, kUnavailable };

// The crontab cut into lines, each with its own bytes but without its line feed.
struct Table {
  std::vector<std::string> lines;
};

// Runs "crontab -l" with its standard output and standard error kept apart: a warning
// crontab prints must never be taken for a line of the table.
bool ListCrontab(std::string* out, std::string* err, int* status) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  char program[] = "crontab";
  char list[] = "-l";
  char* argv[] = {program, list, nullptr};
  pid_t child = -1;
  const int spawned = ::posix_spawnp(&child, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return false;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
  while (::waitpid(child, status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return open == 0;
}

// The user's crontab. No crontab yet is an empty one.
ReadOutcome ReadCrontab(Table& table) {
  std::string text;
  std::string err;
  int status = 0;
  if (!ListCrontab(&text, &err, &status) || !WIFEXITED(status)) return ReadOutcome::kUnavailable;
  if (WEXITSTATUS(status) != 0) {
    // Debian's crontab says "no crontab for USER" and exits 1 when there is none; any
    // other failure must not be taken for an empty table, which would then replace it.
    return err.find("no crontab for") != std::string::npos ? ReadOutcome::kRead : ReadOutcome::kUnavailable;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      table.lines.push_back(text.substr(start));
      break;
    }
    table.lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return ReadOutcome::kRead;
}

bool WriteCrontab(const Table& table) {
  std::string text;
  for (const std::string& line : table.lines) {
    // Every line ends with a line feed, the last one too: cron passes over a last line without one.
    text += line + '\n';
  }
  std::FILE* pipe = popen("crontab - >/dev/null 2>&1", "w");
  if (pipe == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), pipe) == text.size();
  const int status = pclose(pipe);
  return ok && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::size_t Find(const Table& table, const std::string& name) {
  for (std::size_t i = 0; i < table.lines.size(); ++i) {
    if (CrontabLineMarked(table.lines[i], name)) return i;
  }
  return table.lines.size();
}

class CrontabScheduler : public Scheduler {
 public:
  TaskPresence Check(const std::string& name) override {
    Table table;
    if (ReadCrontab(table) != ReadOutcome::kRead) return TaskPresence::kUnavailable;
    return Find(table, name) < table.lines.size() ? TaskPresence::kExists : TaskPresence::kMissing;
  }

  SchedulerResult Create(const DailyTask& task, bool) override {
    // A line break in any text would end the line there and make the rest a line of its own.
    if (HoldsLineBreak(task)) return SchedulerResult::kFailed;
    Table table;
    if (ReadCrontab(table) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    if (Find(table, task.name) < table.lines.size()) return SchedulerResult::kExists;
    table.lines.push_back(CrontabLine(task));
    return WriteCrontab(table) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  SchedulerResult Edit(const std::string& name) override {
    Table table;
    if (ReadCrontab(table) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    return Find(table, name) < table.lines.size() ? SchedulerResult::kDone : SchedulerResult::kMissing;
  }

  SchedulerResult Remove(const std::string& name) override {
    Table table;
    if (ReadCrontab(table) != ReadOutcome::kRead) return SchedulerResult::kUnavailable;
    std::size_t at = Find(table, name);
    if (at >= table.lines.size()) return SchedulerResult::kMissing;
    // Every marked line goes: a copy of the line the user made would run the job too.
    while (at < table.lines.size()) {
      table.lines.erase(table.lines.begin() + static_cast<std::ptrdiff_t>(at));
      at = Find(table, name);
    }
    return WriteCrontab(table) ? SchedulerResult::kDone : SchedulerResult::kFailed;
  }

  std::optional<DailyTask> Read(const std::string& name) override {
    Table table;
    if (ReadCrontab(table) != ReadOutcome::kRead) return std::nullopt;
    const std::size_t at = Find(table, name);
    if (at >= table.lines.size()) return std::nullopt;
    if (std::optional<DailyTask> task = ParseCrontabLine(table.lines[at], name)) return task;
    // A line whose command was edited beyond reading is still the task: shown as it stands.
    DailyTask edited;
    edited.name = name;
    edited.cronTimes = table.lines[at];
    return edited;
  }
};

}  // namespace

Scheduler& SystemScheduler() {
  static CrontabScheduler scheduler;
  return scheduler;
}

}  // namespace platform

#include <pwd.h>

namespace platform {

std::string CurrentUserName() {
  if (const passwd* user = getpwuid(geteuid()); user != nullptr && user->pw_name != nullptr) return user->pw_name;
  return {};
}

}  // namespace platform
