// The clock the polling thread keeps time by: a monotonic reading and a short sleep.
//
// A sleep lasts as long as the system's timer lets it (on Windows, by default, a whole
// 15.6 ms tick for a 1 ms request), so the polling thread reads the time after each
// sleep instead of counting passes.
#pragma once

#include <cstdint>

namespace shell {

class PollClock {
 public:
  virtual ~PollClock() = default;
  // Milliseconds since an arbitrary fixed start; never goes back.
  virtual std::int64_t NowMs() = 0;
  // Sleeps at least `ms` milliseconds (possibly much longer).
  virtual void SleepMs(int ms) = 0;
};

// The steady clock of the C++ library and the thread's own sleep.
PollClock& SteadyPollClock();

}  // namespace shell
