// The clusters a new file is to occupy, checked against its size and the volume: shared
// by the file systems' CreateFileInRuns.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/machine.h"

namespace platform {

// Lists the FAT cluster numbers (logical cluster + 2) of `file.runs` in file order into
// *clusters. kErrorSuccess when the runs lie inside a volume of `clusterCount` clusters,
// never overlap, and hold exactly the clusters `file.size` needs at `bytesPerCluster`;
// otherwise kErrorInvalidParameter. Whether the clusters are free is the caller's check.
std::uint32_t ClustersOfNewFile(const NewFileData& file, std::uint64_t bytesPerCluster, std::uint64_t clusterCount,
                                std::vector<std::uint32_t>* clusters);

}  // namespace platform
