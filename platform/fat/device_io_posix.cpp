// FatIo over an image file or a block device, with POSIX calls.
//
// Block devices are checked against the mount table (by device number) and then opened
// with O_EXCL, which Linux grants only when no file system or other exclusive holder
// has the device. Anything that cannot be opened for writing is opened read-only, and so
// is an image file with no write permission bit at all.
//
// One process at a time works on a volume's bytes, whichever path reaches them: an image
// file is locked whole (flock, and an open-file-description byte-range lock), and a loop
// device or a partition of one also takes that byte-range lock on its backing file over
// the bytes it shows. So an image and its loop device exclude each other, within one
// process too, while two partitions of one image do not.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/fat_io.h"
#include "platform/volume_identity.h"

namespace platform::fat {
namespace {

class PosixDeviceIo final : public FatIo {
 public:
  // A write at least this large (the moves' file data) is handed to the disk at once,
  // so the disk writes while the job copies on and the next flush waits only for the
  // tail. It orders nothing: the flushes stay the only barriers, and until one of them
  // any of the writes before it may or may not be on the disk, as before.
  static constexpr std::size_t kEarlyWriteback = 256 * 1024;

  // `lockFd` (or -1) holds the lock on the file behind a loop device; closed with this.
  PosixDeviceIo(int fd, int lockFd, std::uint64_t size, bool writable)
      : fd_(fd), lockFd_(lockFd), size_(size), writable_(writable) {}
  ~PosixDeviceIo() override {
    ::close(fd_);
    if (lockFd_ >= 0) ::close(lockFd_);
  }

  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }

  bool Read(std::uint64_t offset, void* data, std::size_t size) override {
    auto* out = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      out += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool Write(std::uint64_t offset, const void* data, std::size_t size) override {
    if (!writable_) return false;
    const std::uint64_t start = offset;
    const std::size_t total = size;
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, in, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      in += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
#ifdef __linux__
    if (total >= kEarlyWriteback) {
      ::sync_file_range(fd_, static_cast<off_t>(start), static_cast<off_t>(total), SYNC_FILE_RANGE_WRITE);
    }
#endif
    return true;
  }

  bool Flush() override { return !writable_ || ::fdatasync(fd_) == 0; }

 private:
  int fd_;
  int lockFd_;
  std::uint64_t size_;
  bool writable_;
};

// Undoes the octal escapes the kernel uses in /proc/self/mounts (\040 for a space).
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string digits = s.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// True when a mounted file system sits on the block device `rdev`.
bool IsMounted(dev_t rdev) {
  std::ifstream mounts("/proc/self/mounts");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string source;
    fields >> source;
    if (source.empty() || source[0] != '/') continue;
    struct stat st {};
    if (::stat(Unescape(source).c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == rdev) {
      return true;
    }
  }
  return false;
}

// Locks bytes [start, end) of the file open as `fd` (end 0: to its end and beyond), for
// writing or reading as the descriptor allows. The lock belongs to the open file
// description, so it is refused to another open of the file in this process as well.
// False when another holds a conflicting lock; *error then has errno.
bool LockRange(int fd, bool writable, std::uint64_t start, std::uint64_t end, int* error) {
  struct flock lock {};
  lock.l_type = writable ? F_WRLCK : F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(start);
  lock.l_len = end == 0 || end == UINT64_MAX ? 0 : static_cast<off_t>(end - start);
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
  *error = errno;
  return false;
}

// True when a lock call failed because another holds the lock: flock says EWOULDBLOCK,
// a byte-range lock EAGAIN or EACCES.
bool LockHeld(int error) { return error == EWOULDBLOCK || error == EAGAIN || error == EACCES; }

// Runs `take` (0 when it took the lock, else an errno) again while the lock is held
// elsewhere, for at most half a second: another process of ours opens a volume for a
// moment to check it before its engine opens it for the job, so two started together
// would each find the other's check and both give up. A job holds its volume far longer
// than this. The last errno on false.
template <typename Take>
int RetryWhileHeld(Take take) {
  constexpr int kTries = 20;
  int error = take();
  for (int attempt = 1; error != 0 && LockHeld(error) && attempt < kTries; ++attempt) {
    struct timespec pause {0, 25 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
    error = take();
  }
  return error;
}

// For a block device whose bytes live in a file (a loop device or a partition of one):
// opens that file and locks the bytes the device shows. *lockFd is -1 when there is no
// such file or it cannot be opened (then nothing else can reach it through its path
// either). False with *status set when another holds those bytes.
bool LockBackingFile(const struct stat& st, bool writable, int* lockFd, FatOpenStatus* status) {
  *lockFd = -1;
  const VolumeIdentity id = IdentifyBlockDevice(major(st.st_rdev), minor(st.st_rdev));
  if (id.kind != VolumeIdentity::Kind::kFile) return true;
  bool lockWritable = writable;
  int fd = writable ? ::open(id.file.c_str(), O_RDWR | O_CLOEXEC) : -1;
  if (fd < 0) {
    lockWritable = false;
    fd = ::open(id.file.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return true;
  struct stat held {};
  // The name may lead elsewhere by now (the file renamed or replaced): lock only the
  // file the device holds.
  if (::fstat(fd, &held) != 0 || held.st_ino != id.inode || major(held.st_dev) != id.major ||
      minor(held.st_dev) != id.minor) {
    ::close(fd);
    return true;
  }
  int error = 0;
  if (RetryWhileHeld([&] { return LockRange(fd, lockWritable, id.start, id.end, &error) ? 0 : error; }) != 0) {
    ::close(fd);
    *status = LockHeld(error) ? FatOpenStatus::kInUse : FatOpenStatus::kAccessDenied;
    return false;
  }
  *lockFd = fd;
  return true;
}

FatOpenStatus StatusOfErrno(int error) {
  if (error == ENOENT || error == ENOTDIR || error == ENXIO || error == ENODEV) return FatOpenStatus::kNotFound;
  if (error == EBUSY) return FatOpenStatus::kMounted;
  return FatOpenStatus::kAccessDenied;
}

}  // namespace

std::unique_ptr<FatIo> OpenFatDevice(const std::string& path, FatOpenStatus* status) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    *status = StatusOfErrno(errno);
    return nullptr;
  }
  const bool device = S_ISBLK(st.st_mode);
  if (S_ISDIR(st.st_mode)) {
    *status = FatOpenStatus::kFolder;
    return nullptr;
  }
  if (!device && !S_ISREG(st.st_mode)) {
    *status = FatOpenStatus::kNotImageFile;
    return nullptr;
  }
  if (device && IsMounted(st.st_rdev)) {
    *status = FatOpenStatus::kMounted;
    return nullptr;
  }
  const int exclusive = device ? O_EXCL : 0;
  // An image file without any write permission bit is write-protected by its owner:
  // honoured even for root, who could open it for writing anyway.
  bool writable = device || (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  int fd = writable ? ::open(path.c_str(), O_RDWR | O_CLOEXEC | exclusive) : -1;
  if (!writable || (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM))) {
    writable = false;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | exclusive);
  }
  if (fd < 0) {
    *status = StatusOfErrno(errno);
    return nullptr;
  }
  // One process at a time: every process of ours takes this lock before it reads or
  // writes the volume and holds it until it closes the volume (the lock goes with the
  // descriptor). A second process is told so and touches nothing.
  if (const int error = RetryWhileHeld([fd] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; }); error != 0) {
    ::close(fd);
    *status = error == EWOULDBLOCK ? (device ? FatOpenStatus::kMounted : FatOpenStatus::kInUse)
                                   : FatOpenStatus::kAccessDenied;
    return nullptr;
  }
  int lockFd = -1;
  int lockError = 0;
  if (!device && RetryWhileHeld([&] { return LockRange(fd, writable, 0, 0, &lockError) ? 0 : lockError; }) != 0) {
    ::close(fd);
    *status = LockHeld(lockError) ? FatOpenStatus::kInUse : FatOpenStatus::kAccessDenied;
    return nullptr;
  }
  if (device && !LockBackingFile(st, writable, &lockFd, status)) {
    ::close(fd);
    return nullptr;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    ::close(fd);
    if (lockFd >= 0) ::close(lockFd);
    *status = FatOpenStatus::kReadError;
    return nullptr;
  }
  *status = writable ? FatOpenStatus::kOk : FatOpenStatus::kReadOnlyNoWriteAccess;
  return std::make_unique<PosixDeviceIo>(fd, lockFd, static_cast<std::uint64_t>(end), writable);
}

}  // namespace platform::fat

#endif  // !_WIN32
