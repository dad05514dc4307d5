// The processes in force and the recording fake.
#include "platform/processes.h"

#include <algorithm>
#include <atomic>

namespace platform {
namespace {

std::atomic<Processes*> gProcesses{nullptr};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string BaseName(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

Processes& CurrentProcesses() {
  Processes* replaced = gProcesses.load(std::memory_order_acquire);
  return replaced != nullptr ? *replaced : SystemProcesses();
}

void SetProcesses(Processes* processes) { gProcesses.store(processes, std::memory_order_release); }

void FakeProcesses::Arrive() {
  if (!pending_.empty() && now >= pendingAt_) {
    running.push_back({nextId++, pending_, pendingPath_, kOwnSession, now, true});
    pending_.clear();
  }
}

std::uint32_t FakeProcesses::Find(const std::string& imageName) {
  calls.push_back("find " + imageName);
  Arrive();
  for (const Entry& entry : running) {
    if (SameNameIgnoringCase(entry.imageName, imageName)) return entry.id;
  }
  return 0;
}

bool FakeProcesses::EndByName(const std::string& imageName, std::uint32_t waitMs) {
  calls.push_back("end " + imageName + " wait=" + std::to_string(waitMs));
  Arrive();
  if (endFails) return false;
  const auto found = std::find_if(running.begin(), running.end(),
                                  [&](const Entry& entry) { return SameNameIgnoringCase(entry.imageName, imageName); });
  if (found == running.end()) return false;
  running.erase(found);
  return true;
}

ProcessIdentity FakeProcesses::FindInSession(const std::string& imagePath) {
  calls.push_back("find-in-session " + imagePath);
  Arrive();
  for (const Entry& entry : running) {
    if (entry.session == kOwnSession && SameNameIgnoringCase(entry.imagePath, imagePath)) {
      return {entry.id, entry.imagePath, entry.startTime};
    }
  }
  return {};
}

bool FakeProcesses::EndGently(const ProcessIdentity& found, std::uint32_t closeWaitMs, std::uint32_t endWaitMs) {
  Arrive();
  const auto same = std::find_if(running.begin(), running.end(), [&](const Entry& entry) {
    return entry.id == found.id && entry.session == kOwnSession && SameNameIgnoringCase(entry.imagePath, found.imagePath) &&
           entry.startTime == found.startTime;
  });
  if (same == running.end()) {
    calls.push_back("refuse " + std::to_string(found.id));
    return false;
  }
  calls.push_back("close " + std::to_string(found.id));
  if (same->closesOnRequest) {
    running.erase(same);
    return true;
  }
  now += closeWaitMs;
  calls.push_back("terminate " + std::to_string(found.id));
  if (endFails) return false;
  now += endWaitMs > 0 ? 1 : 0;
  running.erase(same);
  return true;
}

bool FakeProcesses::Start(const std::string& path, const std::string& folder) {
  calls.push_back("start " + path + " in " + folder);
  if (!startSucceeds) return false;
  pending_ = BaseName(path);
  pendingPath_ = path;
  pendingAt_ = now + appearAfterMs;
  return true;
}

void FakeProcesses::SleepMs(std::uint32_t ms) {
  calls.push_back("sleep " + std::to_string(ms));
  now += ms;
}

}  // namespace platform
