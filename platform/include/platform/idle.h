// The idle seam: how long the user has left the keyboard and mouse alone, and whether
// the computer runs on mains power.
//
// Variants: the system's readings (GetLastInputInfo and GetSystemPowerStatus on Windows;
// terminal access times and /sys/class/power_supply elsewhere), a file that another
// process steers (the test hook of the real-time defragmenter), and a fake set by tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct IdleReading {
  std::int64_t idleMilliseconds = 0;  // since the last keyboard or mouse input
  bool onAcPower = true;              // false while running on battery
};

class IdleSource {
 public:
  virtual ~IdleSource() = default;
  // Fills *reading. False when the time since the last input cannot be found; the
  // caller then treats the user as present. Called from one thread at a time.
  [[nodiscard]] virtual bool Read(IdleReading* reading) = 0;
};

// The system's own readings. Never null.
std::unique_ptr<IdleSource> MakeSystemIdleSource();

// Readings taken from the text file at `path`, read afresh on every call, so a test
// harness in another process can say "idle since T" and "input now". Lines:
//   input=SECONDS   the last input, in seconds since 1970-01-01 UTC (fractions allowed)
//   power=ac|battery
// A missing file or a missing or malformed input line makes Read fail; a missing power
// line means mains power.
std::unique_ptr<IdleSource> MakeFileIdleSource(const std::string& path);

// Parses the text of such a file against `nowSeconds` (the same scale). False as above.
[[nodiscard]] bool ParseIdleFile(const std::string& text, double nowSeconds, IdleReading* reading);

// A source whose readings a test sets; counts the reads.
class FakeIdleSource : public IdleSource {
 public:
  bool Read(IdleReading* reading) override;
  void Set(std::int64_t idleMilliseconds, bool onAcPower) {
    reading_ = {idleMilliseconds, onAcPower};
    known_ = true;
  }
  void SetUnknown() { known_ = false; }
  int Reads() const { return reads_; }

 private:
  IdleReading reading_;
  bool known_ = false;
  int reads_ = 0;
};

}  // namespace platform
