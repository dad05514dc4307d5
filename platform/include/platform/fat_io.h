// Byte-level disk I/O under the FAT provider: one small interface, so tests can wrap it.
//
// Every read and write the provider makes goes through a FatIo: image files and block
// devices (OpenFatDevice), memory (MemoryFatIo), and test layers stacked on top
// (WriteLimitIo in fat_write_limit_io.h). Offsets are bytes from the start of the
// volume. An object is used by one thread at a time (the provider serialises).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fat_open_status.h"

namespace platform::fat {

class FatIo {
 public:
  virtual ~FatIo() = default;
  // Size of the image or device, in bytes.
  virtual std::uint64_t Size() const = 0;
  // False when writes will be refused (opened read-only).
  virtual bool Writable() const = 0;
  // Reads exactly `size` bytes at `offset`; false on any failure or short read.
  [[nodiscard]] virtual bool Read(std::uint64_t offset, void* data, std::size_t size) = 0;
  // Writes exactly `size` bytes at `offset`; false on any failure or short write.
  [[nodiscard]] virtual bool Write(std::uint64_t offset, const void* data, std::size_t size) = 0;
  // Makes every write made so far durable (fsync); false on failure.
  [[nodiscard]] virtual bool Flush() = 0;
};

// Opens an image file or a block device. Block devices are refused when mounted
// (kMounted) and otherwise opened exclusively; files and devices that cannot be
// written are opened read-only with *status = kReadOnlyNoWriteAccess. On failure
// returns null and sets *status (kNotFound, kAccessDenied, kMounted). `status` may
// not be null. Any thread.
std::unique_ptr<FatIo> OpenFatDevice(const std::string& path, FatOpenStatus* status);

// An image held in memory (fuzzing, benchmarks, tests). Writes past the end fail.
class MemoryFatIo final : public FatIo {
 public:
  explicit MemoryFatIo(std::vector<std::uint8_t> bytes, bool writable = true)
      : bytes_(std::move(bytes)), writable_(writable) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Writable() const override { return writable_; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override;
  bool Write(std::uint64_t offset, const void* data, std::size_t size) override;
  bool Flush() override { return true; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  bool writable_;
};

}  // namespace platform::fat
