// One copy per signed-in user on Windows: a named mutex in the session's namespace.
#define NOMINMAX
#include <windows.h>

#include "platform/instance_guard.h"

namespace platform {
namespace {

class MutexGuard : public InstanceGuard {
 public:
  explicit MutexGuard(HANDLE mutex) : mutex_(mutex) {}
  ~MutexGuard() override { ::CloseHandle(mutex_); }

 private:
  HANDLE mutex_;
};

}  // namespace

std::unique_ptr<InstanceGuard> HoldUserInstance(const std::string& name, bool* anotherHolds) {
  *anotherHolds = false;
  char user[257] = {};
  DWORD userLength = sizeof(user);
  if (!::GetUserNameA(user, &userLength)) user[0] = '\0';
  // "Local\" keeps the name to this log-on session; the user name keeps two users of
  // one session (run as another user) apart. A user name holds no backslash.
  const std::string full = "Local\\" + name + " " + user;
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, full.c_str());
  if (mutex == nullptr) {
    // Access denied: the object exists and belongs to another copy's security context.
    *anotherHolds = ::GetLastError() == ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    *anotherHolds = true;
    return nullptr;
  }
  return std::make_unique<MutexGuard>(mutex);
}

}  // namespace platform
