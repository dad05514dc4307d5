// Bitmap and extent reads with their buffer growth rules.
#include "analysis/volume_access.h"

#include <cstring>
#include <limits>

namespace vexa {

ExtentBuffer::ExtentBuffer(std::uint32_t size) { Resize(size); }

void ExtentBuffer::Resize(std::uint32_t size) {
  storage_.assign((static_cast<std::size_t>(size) + 7) / 8, 0);
  size_ = size;
}

BitmapBuffer::BitmapBuffer() { Resize(kStartSize); }

void BitmapBuffer::Resize(std::uint64_t size) {
  storage_.assign((size + 7) / 8, 0);
  storage_.shrink_to_fit();
  size_ = size;
}

bool ReadBitmap(platform::Machine& machine, platform::Handle volume, BitmapBuffer& buffer,
                std::int64_t* totalClusters) {
  auto call = [&] {
    const std::uint64_t size = buffer.Size();
    const auto outSize = static_cast<std::uint32_t>(
        size > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max() : size);
    return machine.GetVolumeBitmap(volume, 0, buffer.Data(), outSize);
  };
  std::uint32_t error = call();
  if (error == platform::kErrorMoreData) {
    const std::int64_t bitmapSize = buffer.Data()->BitmapSize;
    const std::int64_t startingLcn = buffer.Data()->StartingLcn;
    if (bitmapSize < 0 || startingLcn < 0 || startingLcn > bitmapSize) return false;
    const std::uint64_t newSize = static_cast<std::uint64_t>((bitmapSize - startingLcn) / 8 + 25);
    if (newSize > std::numeric_limits<std::uint32_t>::max()) return false;
    try {
      buffer.Resize(newSize);
    } catch (const std::bad_alloc&) {
      buffer.Resize(BitmapBuffer::kStartSize);
      return false;
    }
    error = call();
  }
  if (error != platform::kErrorSuccess) return false;
  // Only a bitmap from cluster 0 that fits the buffer is usable.
  const std::int64_t size = buffer.Data()->BitmapSize;
  if (buffer.Data()->StartingLcn != 0 || size < 0 ||
      static_cast<std::uint64_t>(size + 7) / 8 > buffer.Size() - platform::kVolumeBitmapHeaderSize) {
    return false;
  }
  *totalClusters = size;
  return true;
}

bool ReadExtents(platform::Machine& machine, platform::Handle file, ExtentBuffer& buffer,
                 std::uint32_t growthStep) {
  for (;;) {
    const std::uint32_t error = machine.GetRetrievalPointers(file, 0, buffer.Data(), buffer.Size());
    if (error == platform::kErrorSuccess) {
      // Never trust a count that would reach past the buffer.
      return buffer.ExtentCount() <= (buffer.Size() - platform::kRetrievalHeaderSize) /
                                         sizeof(platform::RETRIEVAL_POINTERS_EXTENT);
    }
    if (error != platform::kErrorMoreData) return false;
    if (buffer.Size() > std::numeric_limits<std::uint32_t>::max() - growthStep) return false;
    try {
      buffer.Resize(buffer.Size() + growthStep);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
}

}  // namespace vexa
