// The process seam: finding a running program by its executable's name, ending it, and
// starting a program by its full path; with the Windows calls behind it on Windows,
// /proc and signals elsewhere, and a recording fake for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class Processes {
 public:
  virtual ~Processes() = default;

  // Id of the first running process whose executable's file name equals `imageName`
  // without regard to ASCII case ("VEXAAUTO.exe"), or 0 when none runs.
  virtual std::uint32_t Find(const std::string& imageName) = 0;
  // Looks the process up by `imageName` now, ends it (exit code 0) and waits at most
  // `waitMs` for it to be gone, on a handle held from the look-up on, so a recycled id
  // can never be hit. False when none runs or it cannot be ended.
  virtual bool EndByName(const std::string& imageName, std::uint32_t waitMs) = 0;
  // Starts the program at `path` (a full path) in the folder `folder`, without
  // arguments, shown normally. False when it cannot be started; success says nothing
  // about how long it runs.
  virtual bool Start(const std::string& path, const std::string& folder) = 0;
  // Milliseconds on a steady clock, and a pause of the calling thread: the waits of the
  // callers run on these, so a fake can make them instant.
  virtual std::uint64_t NowMs() = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
};

// The processes in force: the system's, or the ones a test put in place. Any thread.
Processes& CurrentProcesses();
// Puts `processes` (not owned; null restores the system's) in place. For tests.
void SetProcesses(Processes* processes);
Processes& SystemProcesses();

// A process table in memory that records every call, for tests. Time is a counter that
// only SleepMs advances.
class FakeProcesses : public Processes {
 public:
  struct Entry {
    std::uint32_t id;
    std::string imageName;
  };
  std::vector<Entry> running;
  // What Start does: when `startSucceeds`, the program appears in `running` (as the
  // file name of its path, id `nextId`) once `appearAfterMs` have passed on the clock.
  bool startSucceeds = true;
  std::uint64_t appearAfterMs = 0;
  std::uint32_t nextId = 1000;
  bool endFails = false;
  std::uint64_t now = 0;
  // "find NAME", "end NAME wait=MS", "start PATH in FOLDER", "sleep MS".
  std::vector<std::string> calls;

  std::uint32_t Find(const std::string& imageName) override;
  bool EndByName(const std::string& imageName, std::uint32_t waitMs) override;
  bool Start(const std::string& path, const std::string& folder) override;
  std::uint64_t NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override;

 private:
  void Arrive();
  std::string pending_;
  std::uint64_t pendingAt_ = 0;
};

// ASCII case-insensitive equality of two names.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace platform
