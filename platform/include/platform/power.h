// The power seam: ending the session after a job.
#pragma once

#include <functional>

namespace platform {

enum class PowerRequest { kTurnOff, kRestart };

// Asks the system to turn the computer off or restart it. On Windows: the shutdown
// privilege is enabled on the process token (closed afterwards), then ExitWindowsEx
// with shut down + power off + force-if-hung (no program's unsaved work is thrown
// away) or with reboot (reason 0xFFFF). Failures are quiet: the request is simply not
// made. Elsewhere nothing is requested. Any thread.
void RequestPower(PowerRequest request);

// Replaces what RequestPower does (tests record the request); an empty function puts
// the system's back. Set before and clear after the code under test.
void SetPowerHandler(std::function<void(PowerRequest)> handler);

// The system's own request, bypassing any handler.
void RequestPowerWithSystem(PowerRequest request);

}  // namespace platform
