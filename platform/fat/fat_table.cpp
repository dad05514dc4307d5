// FAT entries in memory, packed as on disk.
#include "fat_table.h"

#include <algorithm>
#include <cstring>

#include "le.h"

namespace platform::fat {

FatTable::FatTable(FatType type, std::uint32_t clusterCount, std::vector<std::uint8_t> bytes)
    : type_(type), clusterCount_(clusterCount), bytes_(std::move(bytes)), used_((clusterCount + 7u) / 8u, 0) {
  for (std::uint32_t i = 0; i < clusterCount_; ++i) {
    if (Get(i + 2) != 0) used_[i / 8] = static_cast<std::uint8_t>(used_[i / 8] | (1u << (i % 8)));
  }
}

void FatTable::CopyUsedBits(std::size_t first, std::size_t size, std::uint8_t* out) const {
  const std::size_t have = first < used_.size() ? std::min(size, used_.size() - first) : 0;
  if (have > 0) std::memcpy(out, used_.data() + first, have);
  if (have < size) std::memset(out + have, 0, size - have);
}

std::uint32_t FatTable::EntryByte(std::uint32_t cluster) const {
  switch (type_) {
    case FatType::kFat12:
      return cluster + cluster / 2;
    case FatType::kFat16:
      return cluster * 2;
    case FatType::kFat32:
      break;
  }
  return cluster * 4;
}

std::uint32_t FatTable::Get(std::uint32_t cluster) const {
  const std::uint8_t* p = bytes_.data() + EntryByte(cluster);
  switch (type_) {
    case FatType::kFat12: {
      const std::uint32_t pair = Le16(p);
      return (cluster & 1) != 0 ? pair >> 4 : pair & 0xFFF;
    }
    case FatType::kFat16:
      return Le16(p);
    case FatType::kFat32:
      break;
  }
  return Le32(p) & 0x0FFFFFFF;
}

void FatTable::Set(std::uint32_t cluster, std::uint32_t value) {
  if (cluster >= 2 && cluster - 2 < clusterCount_) {
    const std::uint32_t i = cluster - 2;
    const auto bit = static_cast<std::uint8_t>(1u << (i % 8));
    // The entry's own bits (the end mark is all of them); FAT32's top four are reserved.
    const bool used = (value & EndMark()) != 0;
    used_[i / 8] = static_cast<std::uint8_t>(used ? used_[i / 8] | bit : used_[i / 8] & ~bit);
  }
  std::uint8_t* p = bytes_.data() + EntryByte(cluster);
  switch (type_) {
    case FatType::kFat12: {
      std::uint32_t pair = Le16(p);
      if ((cluster & 1) != 0) {
        pair = (pair & 0x000F) | ((value & 0xFFF) << 4);
      } else {
        pair = (pair & 0xF000) | (value & 0xFFF);
      }
      PutLe16(p, pair);
      return;
    }
    case FatType::kFat16:
      PutLe16(p, value);
      return;
    case FatType::kFat32:
      break;
  }
  PutLe32(p, (Le32(p) & 0xF0000000) | (value & 0x0FFFFFFF));
}

}  // namespace platform::fat
