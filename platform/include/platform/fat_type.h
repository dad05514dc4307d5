// The three FAT variants, told apart by their count of data clusters.
#pragma once

#include <cstdint>

namespace platform::fat {

enum class FatType { kFat12, kFat16, kFat32 };

// Below these counts of data clusters a volume is FAT12, then FAT16; FAT32 above.
inline constexpr std::uint32_t kFat12MaxClusters = 4084;
inline constexpr std::uint32_t kFat16MaxClusters = 65524;

// "FAT12", "FAT16" or "FAT32": static storage.
constexpr const char* FatTypeName(FatType type) {
  return type == FatType::kFat12 ? "FAT12" : type == FatType::kFat16 ? "FAT16" : "FAT32";
}

}  // namespace platform::fat
