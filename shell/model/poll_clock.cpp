// The steady clock the polling thread uses outside tests.
#include "model/poll_clock.h"

#include <chrono>
#include <thread>

namespace shell {
namespace {

class Steady final : public PollClock {
 public:
  std::int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepMs(int ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

PollClock& SteadyPollClock() {
  static Steady clock;
  return clock;
}

}  // namespace shell
