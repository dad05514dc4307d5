// Bitmap and extent reads with their buffer growth rules.
#include "analysis/volume_access.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <limits>

namespace vexa {

ExtentBuffer::ExtentBuffer(std::uint32_t size) { Resize(size); }

void ExtentBuffer::Resize(std::uint32_t size) {
  storage_.assign((static_cast<std::size_t>(size) + 7) / 8, 0);
  size_ = size;
}

void ExtentBuffer::Grow(std::uint32_t size) {
  if (size <= size_) return;
  storage_.resize((static_cast<std::size_t>(size) + 7) / 8, 0);
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
  constexpr std::uint32_t kExtentBytes = sizeof(platform::RETRIEVAL_POINTERS_EXTENT);
  auto capacity = [&buffer] { return (buffer.Size() - platform::kRetrievalHeaderSize) / kExtentBytes; };
  std::uint32_t error = machine.GetRetrievalPointers(file, 0, buffer.Data(), buffer.Size());
  // A file with more extents than fit is read on from the last extent returned, into
  // the grown buffer after the extents already there: each extent is fetched once,
  // however fragmented the file, instead of every read starting again at VCN 0.
  while (error == platform::kErrorMoreData) {
    const std::uint32_t have = buffer.ExtentCount();
    if (have == 0 || have > capacity()) return false;
    // Grows by the caller's step, and by half the buffer once that is more, so the
    // number of reads grows with the logarithm of the extent count.
    const std::uint32_t step = std::max(growthStep, buffer.Size() / 2);
    if (buffer.Size() > std::numeric_limits<std::uint32_t>::max() - step) return false;
    try {
      buffer.Grow(buffer.Size() + step);
    } catch (const std::bad_alloc&) {
      return false;
    }
    // The next call's header lands on the last extent kept, its first extent right
    // after it; the last extent is put back afterwards.
    const platform::RETRIEVAL_POINTERS_EXTENT last = buffer.Data()->Extents[have - 1];
    auto* tail = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(&buffer.Data()->Extents[have - 1]);
    const std::uint32_t tailSize = buffer.Size() - static_cast<std::uint32_t>(platform::kRetrievalHeaderSize) -
                                   (have - 1) * kExtentBytes;
    error = machine.GetRetrievalPointers(file, last.NextVcn, tail, tailSize);
    if (error != platform::kErrorSuccess && error != platform::kErrorMoreData) return false;
    const std::uint32_t got = tail->ExtentCount;
    const std::int64_t from = tail->StartingVcn;
    buffer.Data()->Extents[have - 1] = last;
    if (from != last.NextVcn || got == 0 || got > capacity() - have) return false;
    buffer.Data()->ExtentCount = have + got;
  }
  if (error != platform::kErrorSuccess) return false;
  // Never trust a count that would reach past the buffer.
  return buffer.ExtentCount() <= capacity();
}

}  // namespace vexa
