// Boot sector and BPB validation, and the layout of the FATs, root folder and data area.
//
// Every value is checked before it is used and every offset is computed in 64 bits, so
// a hostile BPB cannot make the provider read or write outside the volume. The FAT type
// comes from the count of data clusters; layouts that FAT drivers read differently are
// marked ambiguous and served read-only.
#include "boot_sector.h"

#include "le.h"

namespace platform::fat {
namespace {

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

BootSector DecodeBootSector(const std::uint8_t* s) {
  BootSector b{};
  b.bytesPerSector = Le16(s + 11);
  b.sectorsPerCluster = s[13];
  b.reservedSectors = Le16(s + 14);
  b.fatCount = s[16];
  b.rootEntryCount = Le16(s + 17);
  b.totalSectors16 = Le16(s + 19);
  b.media = s[21];
  b.sectorsPerFat16 = Le16(s + 22);
  b.totalSectors32 = Le32(s + 32);
  b.sectorsPerFat32 = Le32(s + 36);
  b.extFlags = Le16(s + 40);
  b.fsVersion = Le16(s + 42);
  b.rootCluster = Le32(s + 44);
  b.fsInfoSector = Le16(s + 48);
  b.backupBootSector = Le16(s + 50);
  // The extended BPB follows the FAT32 fields on FAT32 (no 16-bit FAT size), else the
  // common BPB; signature 0x28 or 0x29, then the volume serial number.
  const std::size_t extended = b.sectorsPerFat16 == 0 ? 64 : 36;
  const std::uint8_t signature = s[extended + 2];
  b.volumeId = (signature == 0x28 || signature == 0x29) ? Le32(s + extended + 3) : 0;
  return b;
}

FatOpenStatus ComputeLayout(const BootSector& b, std::uint64_t deviceBytes, FatLayout* out) {
  FatLayout l;
  const std::uint32_t bps = b.bytesPerSector;
  if (bps != 512 && bps != 1024 && bps != 2048 && bps != 4096) return FatOpenStatus::kBadBootSector;
  if (!PowerOfTwo(b.sectorsPerCluster) || b.sectorsPerCluster > 128) return FatOpenStatus::kBadBootSector;
  if (b.reservedSectors == 0 || b.fatCount == 0 || b.fatCount > 16) return FatOpenStatus::kBadBootSector;
  // media descriptor: 0xF0 or 0xF8..0xFF
  if (b.media != 0xF0 && b.media < 0xF8) return FatOpenStatus::kBadBootSector;

  const bool fat32Layout = b.sectorsPerFat16 == 0;
  const std::uint64_t sectorsPerFat = fat32Layout ? b.sectorsPerFat32 : b.sectorsPerFat16;
  const std::uint64_t totalSectors = b.totalSectors16 != 0 ? b.totalSectors16 : b.totalSectors32;
  if (sectorsPerFat == 0 || totalSectors == 0) return FatOpenStatus::kBadBootSector;
  if (fat32Layout && (b.rootEntryCount != 0 || b.fsVersion != 0)) return FatOpenStatus::kBadBootSector;
  if (!fat32Layout && b.rootEntryCount == 0) return FatOpenStatus::kBadBootSector;

  const std::uint64_t rootSectors = (std::uint64_t{b.rootEntryCount} * 32 + bps - 1) / bps;
  const std::uint64_t metaSectors = b.reservedSectors + b.fatCount * sectorsPerFat + rootSectors;
  if (metaSectors >= totalSectors) return FatOpenStatus::kBadBootSector;
  const std::uint64_t clusters = (totalSectors - metaSectors) / b.sectorsPerCluster;
  if (clusters == 0 || clusters > 0x0FFFFFF5) return FatOpenStatus::kBadBootSector;

  l.clusterCount = static_cast<std::uint32_t>(clusters);
  l.type = clusters <= kFat12MaxClusters ? FatType::kFat12
           : clusters <= kFat16MaxClusters ? FatType::kFat16
                                          : FatType::kFat32;
  if (fat32Layout) {
    // A FAT32 layout is read as FAT32 whatever its count; under 65525 clusters drivers
    // disagree, so such a volume is only read.
    if (l.type != FatType::kFat32) l.ambiguous = true;
    l.type = FatType::kFat32;
  } else if (l.type == FatType::kFat32) {
    return FatOpenStatus::kBadBootSector;  // FAT16 layout cannot address this many clusters
  }
  if (clusters >= kFat12MaxClusters + 1 && clusters <= kFat12MaxClusters + 2) l.ambiguous = true;
  if (clusters >= kFat16MaxClusters + 1 && clusters <= kFat16MaxClusters + 2) l.ambiguous = true;

  const std::uint64_t entryBits = l.type == FatType::kFat12 ? 12 : l.type == FatType::kFat16 ? 16 : 32;
  const std::uint64_t neededFatBytes = ((clusters + 2) * entryBits + 7) / 8;
  if (sectorsPerFat * bps < neededFatBytes) return FatOpenStatus::kBadBootSector;

  l.bytesPerSector = bps;
  l.sectorsPerCluster = b.sectorsPerCluster;
  l.bytesPerCluster = bps * b.sectorsPerCluster;
  l.fatOffset = std::uint64_t{b.reservedSectors} * bps;
  l.fatBytes = sectorsPerFat * bps;
  l.fatCount = b.fatCount;
  l.rootOffset = l.fatOffset + l.fatCount * l.fatBytes;
  l.rootEntries = b.rootEntryCount;
  l.dataOffset = l.rootOffset + rootSectors * bps;
  l.volumeBytes = totalSectors * bps;
  l.stateOffset = fat32Layout ? 65 : 37;

  if (fat32Layout) {
    if (b.rootCluster < 2 || b.rootCluster > clusters + 1) return FatOpenStatus::kBadBootSector;
    l.rootCluster = b.rootCluster;
    if ((b.extFlags & 0x80) != 0) {
      l.mirrored = false;
      l.firstFat = b.extFlags & 0x0F;
      if (l.firstFat >= l.fatCount) return FatOpenStatus::kBadBootSector;
      // Other tools read copy 0 whatever the flags say; only that case can be kept in step.
      if (l.firstFat != 0) l.ambiguous = true;
    }
    if (b.fsInfoSector != 0 && b.fsInfoSector != 0xFFFF && b.fsInfoSector < b.reservedSectors) {
      l.fsInfoOffset = std::uint64_t{b.fsInfoSector} * bps;
    }
  }
  // The whole file system, up to its last data cluster, must lie in the image.
  const std::uint64_t dataEnd = l.dataOffset + clusters * l.bytesPerCluster;
  if (dataEnd > deviceBytes) return FatOpenStatus::kTruncated;

  *out = l;
  return l.ambiguous ? FatOpenStatus::kReadOnlyLayout : FatOpenStatus::kOk;
}

}  // namespace platform::fat
