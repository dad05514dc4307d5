// The process seam: finding a running program by its executable's name, or one of the
// caller's session by its full image path, ending it (gently or not), and starting a
// program by its full path; with the Windows calls behind it on Windows,
// /proc and signals elsewhere, and a recording fake for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A process as a look-up found it. Ids are recycled; the image path and the start time
// together tell whether an id still names the same process.
struct ProcessIdentity {
  std::uint32_t id = 0;  // 0: none found
  std::string imagePath;
  std::uint64_t startTime = 0;  // system-specific units, compared only for equality
};

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
  // The first process of the caller's own session (on Windows the log-on session; off
  // Windows the caller's user) whose full image path equals `imagePath` without regard
  // to ASCII case; id 0 when none runs. Another user's copy, or a program of the same
  // name elsewhere, is never found.
  virtual ProcessIdentity FindInSession(const std::string& imagePath) = 0;
  // Ends `found` gently: holding the process from here on, checks that it is still the
  // one found (image path and start time), asks it to close (a close message to its
  // top-level windows; off Windows SIGTERM) and waits at most `closeWaitMs`, then ends
  // it hard and waits at most `endWaitMs`. False, and nothing is touched, when it is gone
  // or no longer that process; false too when it cannot be ended.
  virtual bool EndGently(const ProcessIdentity& found, std::uint32_t closeWaitMs, std::uint32_t endWaitMs) = 0;
  // Starts the program at `path` (a full path) in the folder `folder`, without
  // arguments, shown normally, in the caller's session (as the caller's user, never
  // through a service or task). False when it cannot be started; success says nothing
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
  static constexpr std::uint32_t kOwnSession = 1;
  struct Entry {
    std::uint32_t id;
    std::string imageName;
    std::string imagePath;  // the full path; "" for entries only Find looks at
    std::uint32_t session = kOwnSession;
    std::uint64_t startTime = 0;
    bool closesOnRequest = true;  // ends on the close message, or only when ended hard
  };
  std::vector<Entry> running;
  // The folder a started program's path is in is its image path; its start time is the
  // clock at its arrival.
  // What Start does: when `startSucceeds`, the program appears in `running` (as the
  // file name of its path, id `nextId`) once `appearAfterMs` have passed on the clock.
  bool startSucceeds = true;
  std::uint64_t appearAfterMs = 0;
  std::uint32_t nextId = 1000;
  bool endFails = false;
  std::uint64_t now = 0;
  // "find NAME", "end NAME wait=MS", "start PATH in FOLDER", "sleep MS",
  // "find-in-session PATH", "close ID", "terminate ID", "refuse ID" (not the one found).
  std::vector<std::string> calls;

  std::uint32_t Find(const std::string& imageName) override;
  bool EndByName(const std::string& imageName, std::uint32_t waitMs) override;
  ProcessIdentity FindInSession(const std::string& imagePath) override;
  bool EndGently(const ProcessIdentity& found, std::uint32_t closeWaitMs, std::uint32_t endWaitMs) override;
  bool Start(const std::string& path, const std::string& folder) override;
  std::uint64_t NowMs() override { return now; }
  void SleepMs(std::uint32_t ms) override;

 private:
  void Arrive();
  std::string pending_;
  std::string pendingPath_;
  std::uint64_t pendingAt_ = 0;
};

// ASCII case-insensitive equality of two names.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace platform
