// exFAT boot sector decoding, layout checks, checksums and the up-case table.
#include "exfat_format.h"

#include <cstring>

#include "../fat/le.h"

namespace platform::exfat {

using platform::fat::FatOpenStatus;
using platform::fat::Le16;
using platform::fat::Le32;

namespace {

std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32); }

}  // namespace

BootSector DecodeBootSector(const std::uint8_t* s) {
  BootSector b{};
  std::memcpy(b.fileSystemName, s + 3, 8);
  b.mustBeZeroClear = true;
  for (std::size_t i = 11; i < 64; ++i) b.mustBeZeroClear = b.mustBeZeroClear && s[i] == 0;
  b.partitionOffset = Le64(s + 64);
  b.volumeLength = Le64(s + 72);
  b.fatOffset = Le32(s + 80);
  b.fatLength = Le32(s + 84);
  b.clusterHeapOffset = Le32(s + 88);
  b.clusterCount = Le32(s + 92);
  b.rootCluster = Le32(s + 96);
  b.revision = Le16(s + 104);
  b.volumeFlags = Le16(s + kVolumeFlagsOffset);
  b.bytesPerSectorShift = s[108];
  b.sectorsPerClusterShift = s[109];
  b.numberOfFats = s[110];
  b.signature = Le16(s + 510);
  return b;
}

bool IsExfatBootSector(const std::uint8_t* sector, std::size_t size) {
  return size >= 512 && std::memcmp(sector + 3, "EXFAT   ", 8) == 0;
}

FatOpenStatus ComputeLayout(const BootSector& b, std::uint64_t imageSize, Layout* out) {
  if (std::memcmp(b.fileSystemName, "EXFAT   ", 8) != 0 || !b.mustBeZeroClear || b.signature != 0xAA55) {
    return FatOpenStatus::kBadBootSector;
  }
  if (b.bytesPerSectorShift < 9 || b.bytesPerSectorShift > 12 ||
      b.sectorsPerClusterShift > 25 - b.bytesPerSectorShift || (b.numberOfFats != 1 && b.numberOfFats != 2) ||
      (b.revision >> 8) != 1) {
    return FatOpenStatus::kBadBootSector;
  }
  const std::uint64_t bps = std::uint64_t{1} << b.bytesPerSectorShift;
  const std::uint64_t spc = std::uint64_t{1} << b.sectorsPerClusterShift;
  if (b.clusterCount == 0 || b.clusterCount > 0xFFFFFFF5u - 2 || b.fatOffset < 24) {
    return FatOpenStatus::kBadBootSector;
  }
  const std::uint64_t fatBytesNeeded = (std::uint64_t{b.clusterCount} + 2) * 4;
  if (std::uint64_t{b.fatLength} * bps < fatBytesNeeded) return FatOpenStatus::kBadBootSector;
  const std::uint64_t fatsEnd = std::uint64_t{b.fatOffset} + std::uint64_t{b.fatLength} * b.numberOfFats;
  if (b.clusterHeapOffset < fatsEnd) return FatOpenStatus::kBadBootSector;
  const std::uint64_t heapEnd = b.clusterHeapOffset + std::uint64_t{b.clusterCount} * spc;  // in sectors
  if (b.volumeLength < heapEnd) return FatOpenStatus::kBadBootSector;
  if (b.rootCluster < 2 || b.rootCluster - 2 >= b.clusterCount) return FatOpenStatus::kBadBootSector;
  if (imageSize < heapEnd * bps) return FatOpenStatus::kTruncated;

  Layout l;
  l.bytesPerSector = static_cast<std::uint32_t>(bps);
  l.bytesPerCluster = static_cast<std::uint32_t>(bps * spc);
  const bool second = b.numberOfFats == 2 && (b.volumeFlags & kFlagActiveFat) != 0;
  l.fatOffset = (b.fatOffset + (second ? std::uint64_t{b.fatLength} : 0)) * bps;
  l.heapOffset = std::uint64_t{b.clusterHeapOffset} * bps;
  l.clusterCount = b.clusterCount;
  l.rootCluster = b.rootCluster;
  l.fatCount = b.numberOfFats;
  l.volumeBytes = heapEnd * bps;
  *out = l;
  return FatOpenStatus::kOk;
}

std::uint32_t BootChecksum(const std::uint8_t* region, std::uint32_t bytesPerSector) {
  std::uint32_t sum = 0;
  const std::size_t size = std::size_t{bytesPerSector} * 11;
  for (std::size_t i = 0; i < size; ++i) {
    if (i == kVolumeFlagsOffset || i == kVolumeFlagsOffset + 1 || i == kPercentInUseOffset) continue;
    sum = ((sum & 1) != 0 ? 0x80000000u : 0) + (sum >> 1) + region[i];
  }
  return sum;
}

std::uint16_t SetChecksum(const std::uint8_t* set, std::size_t count) {
  std::uint16_t sum = 0;
  const std::size_t size = count * kEntrySize;
  for (std::size_t i = 0; i < size; ++i) {
    if (i == kFileSetChecksum || i == kFileSetChecksum + 1) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

UpcaseTable::UpcaseTable() : map_(0x10000) {
  for (std::size_t i = 0; i < map_.size(); ++i) map_[i] = static_cast<char16_t>(i);
}

bool UpcaseTable::Load(const std::uint8_t* data, std::size_t size) {
  if (size % 2 != 0) return false;
  std::vector<char16_t> map(0x10000);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<char16_t>(i);
  std::size_t next = 0;  // the character the next stored unit maps
  for (std::size_t at = 0; at < size; at += 2) {
    const char16_t unit = static_cast<char16_t>(Le16(data + at));
    if (unit == 0xFFFF && at + 2 < size) {
      // A run of characters that map to themselves.
      next += Le16(data + at + 2);
      at += 2;
      if (next > map.size()) return false;
      continue;
    }
    if (next >= map.size()) return false;
    map[next++] = unit;
  }
  map_ = std::move(map);
  return true;
}

std::uint32_t UpcaseChecksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < size; ++i) sum = ((sum & 1) != 0 ? 0x80000000u : 0) + (sum >> 1) + data[i];
  return sum;
}

std::uint16_t NameHash(const std::u16string& name, const UpcaseTable& table) {
  std::uint16_t hash = 0;
  for (char16_t c : name) {
    const char16_t u = table.Upper(c);
    for (const std::uint8_t byte : {static_cast<std::uint8_t>(u & 0xFF), static_cast<std::uint8_t>(u >> 8)}) {
      hash = static_cast<std::uint16_t>(((hash & 1) != 0 ? 0x8000 : 0) + (hash >> 1) + byte);
    }
  }
  return hash;
}

}  // namespace platform::exfat
