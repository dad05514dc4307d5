// The system's idle readings on Windows: GetLastInputInfo and GetSystemPowerStatus.
#define NOMINMAX
#include <windows.h>

#include "platform/idle.h"

namespace platform {
namespace {

class SystemIdleSource : public IdleSource {
 public:
  bool Read(IdleReading* reading) override {
    LASTINPUTINFO input = {};
    input.cbSize = sizeof(input);
    if (!::GetLastInputInfo(&input)) return false;
    // Both are 32-bit tick counts: the unsigned difference is right across a wrap.
    const DWORD idle = ::GetTickCount() - input.dwTime;
    reading->idleMilliseconds = static_cast<std::int64_t>(idle);
    reading->onAcPower = OnAcPower();
    return true;
  }

 private:
  static bool OnAcPower() {
    SYSTEM_POWER_STATUS power = {};
    if (!::GetSystemPowerStatus(&power)) return true;
    if (power.ACLineStatus == 1) return true;
    if (power.ACLineStatus == 0) return false;
    // Status unknown: a machine without a battery (flag 128) runs on mains power.
    return (power.BatteryFlag & 128) != 0 || power.BatteryFlag == 255;
  }
};

}  // namespace

std::unique_ptr<IdleSource> MakeSystemIdleSource() { return std::make_unique<SystemIdleSource>(); }

}  // namespace platform
