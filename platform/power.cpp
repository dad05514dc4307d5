// The replaceable part of the power and security seams: handlers set by tests.
#include "platform/power.h"
#include "platform/security.h"

#include <mutex>

namespace platform {

namespace {
std::mutex gHandlersMutex;
std::function<void(PowerRequest)> gPowerHandler;
std::function<bool()> gAdministratorCheck;
}  // namespace

void SetPowerHandler(std::function<void(PowerRequest)> handler) {
  std::lock_guard lock(gHandlersMutex);
  gPowerHandler = std::move(handler);
}

void RequestPower(PowerRequest request) {
  std::function<void(PowerRequest)> handler;
  {
    std::lock_guard lock(gHandlersMutex);
    handler = gPowerHandler;
  }
  if (handler) {
    handler(request);
  } else {
    RequestPowerWithSystem(request);
  }
}

void SetAdministratorCheck(std::function<bool()> check) {
  std::lock_guard lock(gHandlersMutex);
  gAdministratorCheck = std::move(check);
}

bool IsAdministrator() {
  std::function<bool()> check;
  {
    std::lock_guard lock(gHandlersMutex);
    check = gAdministratorCheck;
  }
  return check ? check() : IsAdministratorWithSystem();
}

}  // namespace platform
