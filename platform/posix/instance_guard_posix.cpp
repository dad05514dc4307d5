// One copy per user elsewhere: an exclusive flock on a file in the user's runtime folder.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/instance_guard.h"

namespace platform {
namespace {

class FlockGuard : public InstanceGuard {
 public:
  explicit FlockGuard(int fd) : fd_(fd) {}
  ~FlockGuard() override { ::close(fd_); }  // closing the file lets go of the lock

 private:
  int fd_;
};

std::string LockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return runtime;
  return "/tmp";
}

}  // namespace

std::unique_ptr<InstanceGuard> HoldUserInstance(const std::string& name, bool* anotherHolds) {
  *anotherHolds = false;
  // The user id in the name keeps users of a shared /tmp apart.
  const std::string path = LockFolder() + "/" + name + "." + std::to_string(::getuid()) + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *anotherHolds = errno == EWOULDBLOCK;
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FlockGuard>(fd);
}

}  // namespace platform
