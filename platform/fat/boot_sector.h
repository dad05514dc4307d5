// The boot sector and BPB: parsing, validation and the volume layout they describe.
#pragma once

#include <cstdint>
#include <string>

#include "platform/fat_open_status.h"
#include "platform/fat_type.h"

namespace platform::fat {

inline constexpr std::size_t kBootSectorSize = 512;

// BPB fields as stored (little-endian on disk).
struct BootSector {
  std::uint16_t bytesPerSector;     // 512, 1024, 2048 or 4096
  std::uint8_t sectorsPerCluster;   // power of two, 1..128
  std::uint16_t reservedSectors;    // sectors before FAT copy 0, >= 1
  std::uint8_t fatCount;            // FAT copies
  std::uint16_t rootEntryCount;     // FAT12/16 root folder entries; 0 on FAT32
  std::uint16_t totalSectors16;     // 0 = see totalSectors32
  std::uint8_t media;               // media descriptor
  std::uint16_t sectorsPerFat16;    // 0 on FAT32
  std::uint32_t totalSectors32;
  std::uint32_t sectorsPerFat32;    // FAT32 only
  std::uint16_t extFlags;           // FAT32: bit 7 = mirroring off, bits 0-3 = active FAT
  std::uint16_t fsVersion;          // FAT32: must be 0
  std::uint32_t rootCluster;        // FAT32: first cluster of the root folder
  std::uint16_t fsInfoSector;       // FAT32: sector of FSInfo, 0 or 0xFFFF = none
  std::uint16_t backupBootSector;   // FAT32: sector of the boot sector copy, 0 = none
  std::uint32_t volumeId;           // serial number of the extended BPB; 0 = none
};

// Where everything lies, derived from a validated BPB. Offsets in bytes from the
// start of the volume, computed in 64 bits.
struct FatLayout {
  FatType type = FatType::kFat12;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint32_t bytesPerCluster = 0;
  std::uint32_t clusterCount = 0;    // data clusters; FAT clusters 2..clusterCount+1
  std::uint64_t fatOffset = 0;       // FAT copy 0
  std::uint64_t fatBytes = 0;        // bytes of one FAT copy
  std::uint32_t fatCount = 0;        // copies on disk
  std::uint32_t firstFat = 0;        // the copy the volume uses (FAT32 with mirroring off)
  bool mirrored = true;              // changes go to every copy
  std::uint64_t rootOffset = 0;      // FAT12/16 root folder
  std::uint32_t rootEntries = 0;     // FAT12/16 root folder entries
  std::uint32_t rootCluster = 0;     // FAT32 root folder's first cluster, else 0
  std::uint64_t dataOffset = 0;      // FAT cluster 2
  std::uint64_t volumeBytes = 0;     // total sectors x bytes per sector
  std::uint64_t fsInfoOffset = 0;    // FAT32 FSInfo sector, 0 = none or unusable
  std::uint64_t stateOffset = 0;     // boot-sector byte whose bit 0 is the FAT12 dirty flag
  bool ambiguous = false;            // a layout drivers disagree on: read-only

  std::uint64_t FatCopyOffset(std::uint32_t copy) const { return fatOffset + copy * fatBytes; }
  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return dataOffset + std::uint64_t{cluster - 2} * bytesPerCluster;
  }
};

// Reads the BPB fields of a 512-byte boot sector.
BootSector DecodeBootSector(const std::uint8_t* sector);

// Validates the BPB and computes the layout. `deviceBytes` is the size of the image or
// device. Returns kOk, kReadOnlyLayout (layout set, ambiguous), kBadBootSector or
// kTruncated.
[[nodiscard]] FatOpenStatus ComputeLayout(const BootSector& boot, std::uint64_t deviceBytes,
                                          FatLayout* layout);

}  // namespace platform::fat
