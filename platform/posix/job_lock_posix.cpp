// The machine-wide job lock on Linux: an flock on "joblock" in the working folder.
#include <cerrno>

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
    if (fd_ >= 0 || unlocked_) return false;
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
      // A folder this user may not write (a read-only check run from it): an existing
      // lock file locks as well when opened for reading. Without one no job of this
      // folder can be running, since each creates it first.
      fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) {
        unlocked_ = true;
        return true;
      }
    }
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    return true;
  }

  void Unlock() override {
    unlocked_ = false;
    if (fd_ < 0) return;
    (void)::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool unlocked_ = false;  // held without a file: the folder can hold none
};

}  // namespace

std::unique_ptr<JobLock> CreateMachineJobLock(const std::string& workingFolder) {
  return std::make_unique<FileJobLock>(workingFolder + "joblock");
}

}  // namespace platform
