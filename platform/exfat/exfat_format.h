// exFAT on-disk structures: the boot sector, its region checksum, directory entry
// types and fields, the entry-set checksum, the name hash and the up-case table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fat_open_status.h"

namespace platform::exfat {

// --- boot region ---

constexpr std::size_t kBootRegionSectors = 12;  // boot, 8 extended, OEM, reserved, checksum
constexpr std::size_t kVolumeFlagsOffset = 106;  // in the boot sector; outside the checksum
constexpr std::size_t kPercentInUseOffset = 112;  // likewise
constexpr std::uint16_t kFlagActiveFat = 0x0001;  // 0 = first FAT, 1 = second (TexFAT)
constexpr std::uint16_t kFlagVolumeDirty = 0x0002;
constexpr std::uint16_t kFlagMediaFailure = 0x0004;

// The boot sector's fields, as read.
struct BootSector {
  char fileSystemName[8];         // "EXFAT   "
  bool mustBeZeroClear = false;   // bytes 11..63 all zero
  std::uint64_t partitionOffset;  // in sectors; informational
  std::uint64_t volumeLength;     // in sectors
  std::uint32_t fatOffset;        // in sectors from the volume start
  std::uint32_t fatLength;        // in sectors, per FAT
  std::uint32_t clusterHeapOffset;  // in sectors
  std::uint32_t clusterCount;
  std::uint32_t rootCluster;      // first cluster of the root folder
  std::uint16_t revision;         // major in the high byte
  std::uint16_t volumeFlags;      // kFlag*
  std::uint8_t bytesPerSectorShift;    // 9..12
  std::uint8_t sectorsPerClusterShift;  // bytes per cluster up to 32 MiB
  std::uint8_t numberOfFats;      // 1, or 2 for TexFAT
  std::uint16_t signature;        // 0xAA55
};

// Decodes the first 512 bytes of a volume.
BootSector DecodeBootSector(const std::uint8_t* sector);
// True when the first 512 bytes name an exFAT volume ("EXFAT   " at byte 3).
bool IsExfatBootSector(const std::uint8_t* sector, std::size_t size);

// The layout the provider works with, in bytes unless said otherwise.
struct Layout {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t bytesPerCluster = 0;
  std::uint64_t fatOffset = 0;     // of the FAT in use
  std::uint64_t heapOffset = 0;
  std::uint32_t clusterCount = 0;  // clusters 2 .. clusterCount + 1
  std::uint32_t rootCluster = 0;
  std::uint32_t fatCount = 1;
  std::uint64_t volumeBytes = 0;

  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return heapOffset + std::uint64_t{cluster - 2} * bytesPerCluster;
  }
  std::uint64_t FatEntryOffset(std::uint32_t cluster) const { return fatOffset + std::uint64_t{cluster} * 4; }
  bool IsCluster(std::uint32_t c) const { return c >= 2 && c - 2 < clusterCount; }
};

// Checks the boot sector's values and derives the layout; kBadBootSector when they do
// not describe an exFAT volume, kTruncated when the image is shorter than its cluster heap.
platform::fat::FatOpenStatus ComputeLayout(const BootSector& boot, std::uint64_t imageSize, Layout* out);

// The boot region checksum over sectors 0..10 (`region`, 11 sectors of
// `bytesPerSector`), leaving out VolumeFlags and PercentInUse.
std::uint32_t BootChecksum(const std::uint8_t* region, std::uint32_t bytesPerSector);

// --- FAT ---

constexpr std::uint32_t kFatEnd = 0xFFFFFFFF;
constexpr std::uint32_t kFatBad = 0xFFFFFFF7;

// --- directory entries ---

constexpr std::size_t kEntrySize = 32;
constexpr std::uint8_t kTypeEnd = 0x00;       // no further entries in the folder
constexpr std::uint8_t kTypeInUse = 0x80;     // bit 7 of every entry in use
constexpr std::uint8_t kTypeSecondary = 0x40;  // bit 6: secondary entry of a set
constexpr std::uint8_t kTypeBitmap = 0x81;
constexpr std::uint8_t kTypeUpcase = 0x82;
constexpr std::uint8_t kTypeLabel = 0x83;
constexpr std::uint8_t kTypeFile = 0x85;
constexpr std::uint8_t kTypeGuid = 0xA0;
constexpr std::uint8_t kTypeStream = 0xC0;
constexpr std::uint8_t kTypeName = 0xC1;
constexpr std::uint8_t kTypeVendorExtension = 0xE0;
constexpr std::uint8_t kTypeVendorAllocation = 0xE1;

// GeneralSecondaryFlags (byte 1 of secondary entries).
constexpr std::uint8_t kAllocationPossible = 0x01;
constexpr std::uint8_t kNoFatChain = 0x02;

// File entry fields.
constexpr std::size_t kFileSecondaryCount = 1;  // 1..18
constexpr std::size_t kFileSetChecksum = 2;     // u16 over the whole set but these two bytes
constexpr std::size_t kFileAttributes = 4;      // u16
constexpr std::size_t kFileCreate = 8;          // u32 timestamp
constexpr std::size_t kFileModify = 12;
constexpr std::size_t kFileAccess = 16;
constexpr std::size_t kFileCreate10ms = 20;     // 0..199
constexpr std::size_t kFileModify10ms = 21;
// Stream Extension fields.
constexpr std::size_t kStreamFlags = 1;
constexpr std::size_t kStreamNameLength = 3;    // UTF-16 units, 1..255
constexpr std::size_t kStreamNameHash = 4;      // u16
constexpr std::size_t kStreamValidDataLength = 8;  // u64, bytes
constexpr std::size_t kStreamFirstCluster = 20;    // u32, 0 = none
constexpr std::size_t kStreamDataLength = 24;      // u64, bytes
// File Name entries: 15 UTF-16 units from byte 2.
constexpr std::size_t kNameUnitsPerEntry = 15;
// Allocation Bitmap, Up-case Table and Vendor Allocation entries.
constexpr std::size_t kAllocFirstCluster = 20;  // u32
constexpr std::size_t kAllocDataLength = 24;    // u64, bytes
constexpr std::size_t kUpcaseChecksum = 4;      // u32
// Volume Label: character count at byte 1, up to 11 UTF-16 units from byte 2.
constexpr std::size_t kLabelMaxUnits = 11;

constexpr std::uint16_t kAttrReadOnly = 0x01;
constexpr std::uint16_t kAttrHidden = 0x02;
constexpr std::uint16_t kAttrSystem = 0x04;
constexpr std::uint16_t kAttrDirectory = 0x10;
constexpr std::uint16_t kAttrArchive = 0x20;

// SetChecksum of an entry set of `count` entries (bytes 2 and 3 of the first left out).
std::uint16_t SetChecksum(const std::uint8_t* set, std::size_t count);

// --- up-case table ---

class UpcaseTable {
 public:
  // Identity for every character until Load succeeds.
  UpcaseTable();
  // Expands a stored table (runs of identity mappings written as 0xFFFF, count); false
  // when it is malformed (odd size, a run past the character range).
  [[nodiscard]] bool Load(const std::uint8_t* data, std::size_t size);
  char16_t Upper(char16_t c) const { return map_[c]; }

 private:
  std::vector<char16_t> map_;
};

// The table checksum over `size` stored bytes.
std::uint32_t UpcaseChecksum(const std::uint8_t* data, std::size_t size);
// NameHash of a name, each unit up-cased by `table`.
std::uint16_t NameHash(const std::u16string& name, const UpcaseTable& table);

}  // namespace platform::exfat
