// FatIo over an image file on Windows, with the C runtime's low-level file calls.
//
// Only image files are served here: block devices on Windows are real volumes, reached
// through the native provider.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/fat_io.h"

namespace platform::fat {
namespace {

class WinFileIo final : public FatIo {
 public:
  WinFileIo(int fd, std::uint64_t size, bool writable) : fd_(fd), size_(size), writable_(writable) {}
  ~WinFileIo() override { ::_close(fd_); }

  std::uint64_t Size() const override { return size_; }
  bool Writable() const override { return writable_; }

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

  bool Write(std::uint64_t offset, const void* data, std::size_t size) override {
    if (!writable_) return false;
    if (::_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
      const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
      const int n = ::_write(fd_, in, chunk);
      if (n <= 0) return false;
      in += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool Flush() override { return !writable_ || ::_commit(fd_) == 0; }

 private:
  int fd_;
  std::uint64_t size_;
  bool writable_;
};

// Whether the last failed open met another process's handle (ERROR_SHARING_VIOLATION,
// 32, as the C runtime keeps it in _doserrno).
bool SharingViolation() { return _doserrno == 32; }

}  // namespace

std::unique_ptr<FatIo> OpenFatDevice(const std::string& path, FatOpenStatus* status) {
  struct _stat64 st {};
  if (::_stat64(path.c_str(), &st) == 0 && (st.st_mode & _S_IFDIR) != 0) {
    *status = FatOpenStatus::kFolder;
    return nullptr;
  }
  bool writable = true;
  int fd = -1;
  // No sharing: one process at a time reads or changes the image, and holds it until it
  // closes the volume.
  if (::_sopen_s(&fd, path.c_str(), _O_RDWR | _O_BINARY, _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
    if (errno == ENOENT) {
      *status = FatOpenStatus::kNotFound;
      return nullptr;
    }
    if (SharingViolation()) {
      *status = FatOpenStatus::kInUse;
      return nullptr;
    }
    writable = false;
    if (::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, _S_IREAD) != 0) {
      *status = errno == ENOENT ? FatOpenStatus::kNotFound
                                : (SharingViolation() ? FatOpenStatus::kInUse : FatOpenStatus::kAccessDenied);
      return nullptr;
    }
  }
  const __int64 end = ::_lseeki64(fd, 0, SEEK_END);
  if (end < 0) {
    ::_close(fd);
    *status = FatOpenStatus::kReadError;
    return nullptr;
  }
  *status = writable ? FatOpenStatus::kOk : FatOpenStatus::kReadOnlyNoWriteAccess;
  return std::make_unique<WinFileIo>(fd, static_cast<std::uint64_t>(end), writable);
}

}  // namespace platform::fat

#endif  // _WIN32
