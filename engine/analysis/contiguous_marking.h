// Marking a file in one piece into the cells of a cluster map, and taking it out again.
#pragma once

#include <cstdint>
#include <string_view>

#include "analysis/cell_file_lists.h"
#include "analysis/cluster_map.h"

namespace vexa {

// Marks a file in one piece: `length` clusters from logical cluster `lcn`. Every
// cell the file covers gets one contiguous count, and, when `lists` is given, the
// path (no duplicate test). `ntfs` selects the cluster numbering (logical on NTFS,
// logical + 2 elsewhere). A file running past the map keeps marking cell 999.
void MarkContiguousFile(ClusterMap& map, CellFileLists* lists, std::int64_t lcn, std::int64_t length,
                        std::uint64_t clustersPerCell, bool ntfs, bool system, std::string_view path);

// Takes a file in one piece out of the map again: the same cells MarkContiguousFile
// marks for it each lose one contiguous count. The lists are not touched.
void UnmarkContiguousFile(ClusterMap& map, std::int64_t lcn, std::int64_t length, std::uint64_t clustersPerCell,
                          bool ntfs, bool system);

}  // namespace vexa
