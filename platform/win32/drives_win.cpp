// The drives seam on Windows: the system's drive calls; images read through the C runtime.
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include "platform/drives_native.h"

namespace platform {
namespace {

std::string Root(char letter) { return std::string(1, letter) + ":\\"; }

class WindowsDrives final : public Drives {
 public:
  std::uint32_t LogicalDrives() override { return ::GetLogicalDrives(); }
  std::uint32_t DriveType(char letter) override {
    // GetDriveType: "The root directory for the drive. A trailing backslash is
    // required." Without it the call may answer for the drive's current directory.
    return ::GetDriveTypeA(Root(letter).c_str());
  }
  bool VolumeInformation(char letter, std::string* label, std::string* fileSystem) override {
    char labelText[MAX_PATH + 1] = {};
    char systemText[MAX_PATH + 1] = {};
    label->clear();
    fileSystem->clear();
    if (!::GetVolumeInformationA(Root(letter).c_str(), labelText, sizeof labelText, nullptr, nullptr, nullptr,
                                 systemText, sizeof systemText)) {
      return false;
    }
    *label = labelText;
    *fileSystem = systemText;
    return true;
  }
  bool FreeSpace(char letter, std::uint64_t* totalBytes, std::uint64_t* freeBytes) override {
    ULARGE_INTEGER available{}, total{}, free{};
    *totalBytes = 0;
    *freeBytes = 0;
    if (!::GetDiskFreeSpaceExA(Root(letter).c_str(), &available, &total, &free)) return false;
    *totalBytes = total.QuadPart;
    *freeBytes = free.QuadPart;
    return true;
  }
};

class ReadOnlyImage final : public fat::FatIo {
 public:
  ReadOnlyImage(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~ReadOnlyImage() override { ::_close(fd_); }
  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return false; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override {
    if (::_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
    auto* out = static_cast<char*>(data);
    while (size > 0) {
      const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
      const int n = ::_read(fd_, out, chunk);
      if (n <= 0) return false;
      out += n;
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

std::unique_ptr<Drives> CreateNativeDrives() { return std::make_unique<WindowsDrives>(); }

std::unique_ptr<fat::FatIo> OpenImageShared(const std::string& path) {
  int fd = -1;
  // Share everything: the engine holds the image open for writing.
  if (::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYNO, _S_IREAD) != 0) return nullptr;
  const __int64 end = ::_lseeki64(fd, 0, SEEK_END);
  if (end <= 0) {
    ::_close(fd);
    return nullptr;
  }
  return std::make_unique<ReadOnlyImage>(fd, static_cast<std::uint64_t>(end));
}

}  // namespace platform
