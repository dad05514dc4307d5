// Volume access on top of the volume seam: the growable bitmap and retrieval buffers,
// and the bitmap and extent reads with their growth rules.
//
// The bitmap buffer starts at 24 bytes and is re-sized to fit on kErrorMoreData (so
// the first read of an engine run always grows it); the retrieval buffer starts at
// 3232 bytes (the header and 201 extents) and grows by a step each caller chooses
// (geometrically for very fragmented files).
// Neither shrinks: later reads reuse them without allocating.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/machine.h"

namespace vexa {

// A buffer for FSCTL_GET_RETRIEVAL_POINTERS results, 8-byte aligned.
class ExtentBuffer {
 public:
  static constexpr std::uint32_t kStartSize = 3232;
  explicit ExtentBuffer(std::uint32_t size = kStartSize);

  std::uint32_t Size() const { return size_; }
  void Resize(std::uint32_t size);  // replaces the contents
  void Grow(std::uint32_t size);    // keeps the contents
  platform::RETRIEVAL_POINTERS_BUFFER* Data() {
    return reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(storage_.data());
  }
  const platform::RETRIEVAL_POINTERS_BUFFER* Data() const {
    return reinterpret_cast<const platform::RETRIEVAL_POINTERS_BUFFER*>(storage_.data());
  }
  std::uint32_t ExtentCount() const { return Data()->ExtentCount; }
  std::int64_t StartingVcn() const { return Data()->StartingVcn; }
  // Next virtual cluster and logical cluster of extent i (0 <= i < ExtentCount()).
  std::int64_t NextVcn(std::uint32_t i) const { return Data()->Extents[i].NextVcn; }
  std::int64_t Lcn(std::uint32_t i) const { return Data()->Extents[i].Lcn; }

 private:
  std::vector<std::uint64_t> storage_;
  std::uint32_t size_ = 0;
};

// A buffer for FSCTL_GET_VOLUME_BITMAP results, 8-byte aligned.
class BitmapBuffer {
 public:
  static constexpr std::uint32_t kStartSize = 24;
  BitmapBuffer();

  std::uint64_t Size() const { return size_; }
  void Resize(std::uint64_t size);  // replaces the contents
  platform::VOLUME_BITMAP_BUFFER* Data() {
    return reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(storage_.data());
  }
  std::uint8_t* MutableBits() {
    return reinterpret_cast<std::uint8_t*>(storage_.data()) + platform::kVolumeBitmapHeaderSize;
  }
  const std::uint8_t* Bits() const {
    return reinterpret_cast<const std::uint8_t*>(storage_.data()) + platform::kVolumeBitmapHeaderSize;
  }

 private:
  std::vector<std::uint64_t> storage_;
  std::uint64_t size_ = 0;
};

// Growth steps of the extent read, in bytes.
inline constexpr std::uint32_t kExtentGrowthSmall = 3200;   // analysis, re-marking
inline constexpr std::uint32_t kExtentGrowthLarge = 80000;  // relocation, file details

// Reads the whole bitmap of `volume` into `buffer`, growing it once when it is too
// small. On success sets *totalClusters to the clusters the bitmap covers. A
// second kErrorMoreData (the volume grew between the calls) is a failure.
[[nodiscard]] bool ReadBitmap(platform::Machine& machine, platform::Handle volume,
                              BitmapBuffer& buffer, std::int64_t* totalClusters);

// Reads every extent of `file` into `buffer`. On kErrorMoreData the buffer grows (by
// `growthStep` bytes, or by half its size once that is more) and the read goes on
// from the VCN where the extents returned so far end.
[[nodiscard]] bool ReadExtents(platform::Machine& machine, platform::Handle file,
                               ExtentBuffer& buffer, std::uint32_t growthStep);

}  // namespace vexa
