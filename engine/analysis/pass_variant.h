// The pass variants and the size and extent thresholds the analysis, relocation and
// in-depth passes share.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

// Used bytes above which a volume takes the large variants.
inline constexpr std::uint64_t kLargeVolumeBytes = 1073741824;  // 1 GiB
// The large variants examine (analysis) or re-mark (relocation, in-depth pass) only
// files above this size, in bytes.
inline constexpr std::uint64_t kLargeFileBytes = 1048576;  // 1 MiB
// A file with more extents than this takes the fragmented-file test of the analysis and
// the per-extent map updates of relocation.
inline constexpr std::uint32_t kFragmentedExtents = 10;

// The four pass variants: cluster numbering (logical, or logical + 2 on the FAT
// variants, whose clusters count from 2), large or small (on volumes with more than
// 1 GiB in use only files above 1 MiB are examined).
struct PassVariant {
  bool ntfs = false;  // logical numbering: any file system but the FAT variants
  bool large = false;
};

// Chooses the variant of a volume from its file-system name and used bytes.
PassVariant ChooseVariant(const std::string& fileSystem, std::uint64_t usedBytes);

}  // namespace vexa
