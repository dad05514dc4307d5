// The single-instance seam's fake: names held inside this process.
#include "platform/instance_guard.h"

#include <mutex>
#include <set>

namespace platform {
namespace {

std::mutex gFakeMutex;
std::set<std::string> gFakeHeld;

class FakeGuard : public InstanceGuard {
 public:
  explicit FakeGuard(std::string name) : name_(std::move(name)) {}
  ~FakeGuard() override {
    std::lock_guard lock(gFakeMutex);
    gFakeHeld.erase(name_);
  }

 private:
  std::string name_;
};

}  // namespace

std::unique_ptr<InstanceGuard> HoldFakeInstance(const std::string& name, bool* anotherHolds) {
  std::lock_guard lock(gFakeMutex);
  *anotherHolds = !gFakeHeld.insert(name).second;
  if (*anotherHolds) return nullptr;
  return std::make_unique<FakeGuard>(name);
}

}  // namespace platform
