// The file allocation table held in memory: entry reads and writes in FAT12/16/32 form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/fat_type.h"

namespace platform::fat {

class FatTable {
 public:
  // `bytes` is one FAT copy as stored; it must hold clusterCount + 2 entries.
  FatTable(FatType type, std::uint32_t clusterCount, std::vector<std::uint8_t> bytes);

  FatType Type() const { return type_; }
  std::uint32_t ClusterCount() const { return clusterCount_; }

  // The entry of `cluster` (0..clusterCount+1): 12, 16 or 28 bits.
  std::uint32_t Get(std::uint32_t cluster) const;
  // Sets the entry of `cluster`; FAT32 keeps the entry's top four reserved bits.
  void Set(std::uint32_t cluster, std::uint32_t value);

  // Byte range [first, first + size) of the copy holding the entry of `cluster`
  // (FAT12 entries share bytes with their neighbours).
  std::uint32_t EntryByte(std::uint32_t cluster) const;
  std::uint32_t EntrySize() const { return type_ == FatType::kFat32 ? 4 : 2; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  // The volume bitmap kept beside the entries: bit i (least significant first) is set
  // when the entry of data cluster i + 2 is not 0. Copies `size` bytes of it from byte
  // `first` (data clusters 8 * first onwards); bits past the last cluster are 0.
  void CopyUsedBits(std::size_t first, std::size_t size, std::uint8_t* out) const;

  // Entry values.
  std::uint32_t EndMark() const { return type_ == FatType::kFat12 ? 0xFFF : type_ == FatType::kFat16 ? 0xFFFF : 0x0FFFFFFF; }
  std::uint32_t BadMark() const { return EndMark() - 8; }
  bool IsEnd(std::uint32_t value) const { return value >= EndMark() - 7; }
  bool IsBad(std::uint32_t value) const { return value == BadMark(); }
  // A value that links to a data cluster of this volume.
  bool IsLink(std::uint32_t value) const { return value >= 2 && value <= clusterCount_ + 1; }

 private:
  FatType type_;
  std::uint32_t clusterCount_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> used_;  // the volume bitmap, (clusterCount + 7) / 8 bytes
};

}  // namespace platform::fat
