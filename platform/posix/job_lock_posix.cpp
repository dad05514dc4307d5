// The machine-wide job lock on Linux: an flock on "joblock" in the working folder.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/job_lock.h"

namespace platform {
namespace {

class FileJobLock final : public JobLock {
 public:
  explicit FileJobLock(std::string path) : path_(std::move(path)) {}
  ~FileJobLock() override { Unlock(); }

  bool TryLock() override {
    if (fd_ >= 0) return false;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    return true;
  }

  void Unlock() override {
    if (fd_ < 0) return;
    (void)::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<JobLock> CreateMachineJobLock(const std::string& workingFolder) {
  return std::make_unique<FileJobLock>(workingFolder + "joblock");
}

}  // namespace platform
