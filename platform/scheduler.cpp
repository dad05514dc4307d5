// The scheduler in force, the recording fake, and the crontab line of a daily task.
#include "platform/scheduler.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

namespace platform {
namespace {

std::atomic<Scheduler*> gScheduler{nullptr};

// `text` quoted for sh: inside single quotes, a quote written as '\''. A "%" is escaped
// too, because cron turns a bare one into a line break.
std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else if (c == '%') {
      quoted += "\\%";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Splits the command part of a line made by CrontabLine into sh words. False for
// anything it did not make (unterminated quotes, characters outside quotes other
// than the separators and "=" of an assignment).
bool SplitWords(const std::string& text, std::vector<std::string>& words) {
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ') {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else if (c == '\'') {
      inWord = true;
      const std::size_t end = text.find('\'', i + 1);
      if (end == std::string::npos) return false;
      std::string piece = text.substr(i + 1, end - i - 1);
      for (std::size_t at = piece.find("\\%"); at != std::string::npos; at = piece.find("\\%", at + 1)) {
        piece.erase(at, 1);
      }
      word += piece;
      i = end;
    } else if (c == '\\' && i + 1 < text.size() && text[i + 1] == '\'') {
      word += '\'';
      inWord = true;
      ++i;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return true;
}

}  // namespace

Scheduler& CurrentScheduler() {
  Scheduler* replaced = gScheduler.load(std::memory_order_acquire);
  return replaced != nullptr ? *replaced : SystemScheduler();
}

void SetScheduler(Scheduler* scheduler) { gScheduler.store(scheduler, std::memory_order_release); }

std::string CrontabLine(const DailyTask& task) {
  std::string line = std::to_string(task.startMinute) + " " + std::to_string(task.startHour) + " ";
  line += task.daysInterval > 1 ? "*/" + std::to_string(task.daysInterval) : std::string("*");
  line += " * * cd " + ShellQuote(task.workingDirectory) + " &&";
  for (const std::string& setting : task.environment) {
    const std::size_t eq = setting.find('=');
    line += " " + setting.substr(0, eq + 1) + ShellQuote(eq == std::string::npos ? "" : setting.substr(eq + 1));
  }
  line += " " + ShellQuote(task.application);
  if (!task.parameters.empty()) line += " " + ShellQuote(task.parameters);
  return line + " # " + task.name;
}

namespace {

// The line without the blanks and carriage return an editor may leave at its end.
std::string TrimmedEnd(const std::string& line) {
  std::size_t end = line.size();
  while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  return line.substr(0, end);
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

bool CrontabLineMarked(const std::string& line, const std::string& name) {
  const std::string text = TrimmedEnd(line);
  const std::string marker = " # " + name;
  const std::size_t first = text.find_first_not_of(" \t");
  // A comment line is no task, even one that ends with the marker.
  if (first == std::string::npos || text[first] == '#') return false;
  return text.size() > marker.size() && text.compare(text.size() - marker.size(), marker.size(), marker) == 0;
}

bool HoldsLineBreak(const DailyTask& task) {
  if (HasLineBreak(task.name) || HasLineBreak(task.application) || HasLineBreak(task.parameters) ||
      HasLineBreak(task.workingDirectory)) {
    return true;
  }
  return std::any_of(task.environment.begin(), task.environment.end(), HasLineBreak);
}

std::optional<DailyTask> ParseCrontabLine(const std::string& line, const std::string& name) {
  if (!CrontabLineMarked(line, name)) return std::nullopt;
  const std::string text = TrimmedEnd(line);
  const std::string marker = " # " + name;
  std::vector<std::string> words;
  if (!SplitWords(text.substr(0, text.size() - marker.size()), words)) return std::nullopt;
  // minute hour day month weekday (or one "@daily"-style word), then
  // cd FOLDER && [NAME=VALUE ...] PROGRAM [PARAMETERS]
  const std::size_t times = !words.empty() && !words[0].empty() && words[0][0] == '@' ? 1 : 5;
  if (words.size() < times + 4 || words[times] != "cd" || words[times + 2] != "&&") return std::nullopt;
  DailyTask task;
  task.name = name;
  int minute = -1;
  int hour = -1;
  int interval = 1;
  char extra = 0;
  const bool daily =
      times == 5 && words[3] == "*" && words[4] == "*" &&
      std::sscanf(words[0].c_str(), "%d%c", &minute, &extra) == 1 &&
      std::sscanf(words[1].c_str(), "%d%c", &hour, &extra) == 1 && minute >= 0 && minute <= 59 && hour >= 0 &&
      hour <= 23 &&
      (words[2] == "*" || (std::sscanf(words[2].c_str(), "*/%d%c", &interval, &extra) == 1 && interval > 0 &&
                           interval < 65536));
  if (daily) {
    task.startMinute = static_cast<std::uint16_t>(minute);
    task.startHour = static_cast<std::uint16_t>(hour);
    task.daysInterval = static_cast<std::uint16_t>(interval);
  } else {
    for (std::size_t i = 0; i < times; ++i) task.cronTimes += (i > 0 ? " " : "") + words[i];
  }
  task.workingDirectory = words[times + 1];
  std::size_t at = times + 3;
  // An assignment's name is unquoted, so its word holds "=" before any quoted part.
  while (at < words.size() && words[at].find('=') != std::string::npos &&
         words[at].find('/') > words[at].find('=')) {
    task.environment.push_back(words[at++]);
  }
  if (at >= words.size()) return std::nullopt;
  task.application = words[at++];
  if (at < words.size()) task.parameters = words[at++];
  if (at != words.size()) return std::nullopt;
  return task;
}

TaskPresence FakeScheduler::Check(const std::string& name) {
  calls.push_back("check " + name);
  if (unavailable) return TaskPresence::kUnavailable;
  return Read(name) ? TaskPresence::kExists : TaskPresence::kMissing;
}

SchedulerResult FakeScheduler::Create(const DailyTask& task, bool edit) {
  calls.push_back("create " + task.name + " edit=" + (edit ? "1" : "0"));
  if (unavailable) return SchedulerResult::kUnavailable;
  for (const DailyTask& existing : tasks) {
    if (existing.name == task.name) return SchedulerResult::kExists;
  }
  if (failSave) return SchedulerResult::kFailed;
  tasks.push_back(task);
  return SchedulerResult::kDone;
}

SchedulerResult FakeScheduler::Edit(const std::string& name) {
  calls.push_back("edit " + name);
  if (unavailable) return SchedulerResult::kUnavailable;
  for (const DailyTask& existing : tasks) {
    if (existing.name == name) return SchedulerResult::kDone;
  }
  return SchedulerResult::kMissing;
}

SchedulerResult FakeScheduler::Remove(const std::string& name) {
  calls.push_back("remove " + name);
  if (unavailable) return SchedulerResult::kUnavailable;
  const auto found = std::find_if(tasks.begin(), tasks.end(), [&](const DailyTask& t) { return t.name == name; });
  if (found == tasks.end()) return SchedulerResult::kMissing;
  tasks.erase(found);
  return SchedulerResult::kDone;
}

std::optional<DailyTask> FakeScheduler::Read(const std::string& name) {
  for (const DailyTask& existing : tasks) {
    if (existing.name == name) return existing;
  }
  return std::nullopt;
}

}  // namespace platform
