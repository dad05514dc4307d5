// The drives seam off Windows: no native drives; images read with pread.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/drives_native.h"
#include "platform/win_types.h"

namespace platform {
namespace {

class NoDrives final : public Drives {
 public:
  std::uint32_t LogicalDrives() override { return 0; }
  std::uint32_t DriveType(char) override { return kDriveNoRootDir; }
  bool VolumeInformation(char, std::string* label, std::string* fileSystem) override {
    label->clear();
    fileSystem->clear();
    return false;
  }
  bool FreeSpace(char, std::uint64_t* totalBytes, std::uint64_t* freeBytes) override {
    *totalBytes = 0;
    *freeBytes = 0;
    return false;
  }
};

class ReadOnlyImage final : public fat::FatIo {
 public:
  ReadOnlyImage(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~ReadOnlyImage() override { ::close(fd_); }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return false; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override {
    auto* out = static_cast<char*>(data);
    while (size > 0) {
      const ssize_t n = ::pread(fd_, out, size, static_cast<off_t>(offset));
      if (n <= 0) return false;
      out += n;
      offset += static_cast<std::uint64_t>(n);
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool Write(std::uint64_t, const void*, std::size_t) override { return false; }
  bool Flush() override { return true; }

 private:
  int fd_;
  std::uint64_t size_;
};

}  // namespace

std::unique_ptr<Drives> CreateNativeDrives() { return std::make_unique<NoDrives>(); }

std::unique_ptr<fat::FatIo> OpenImageShared(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<ReadOnlyImage>(fd, static_cast<std::uint64_t>(info.st_size));
}

}  // namespace platform
