// FatIo over an image held in memory.
#include <cstring>

#include "platform/fat_io.h"

namespace platform::fat {

bool MemoryFatIo::Read(std::uint64_t offset, void* data, std::size_t size) {
  if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
  if (size != 0) std::memcpy(data, bytes_.data() + offset, size);
  return true;
}

bool MemoryFatIo::Write(std::uint64_t offset, const void* data, std::size_t size) {
  if (!writable_ || offset > bytes_.size() || size > bytes_.size() - offset) return false;
  if (size != 0) std::memcpy(bytes_.data() + offset, data, size);
  return true;
}

}  // namespace platform::fat
