// The clusters a new file is to occupy, checked against its size and the volume: shared
// by the file systems' CreateFileInRuns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/fat_io.h"
#include "platform/machine.h"

namespace platform {

// Lists the FAT cluster numbers (logical cluster + 2) of `file.runs` in file order into
// *clusters. kErrorSuccess when the runs lie inside a volume of `clusterCount` clusters,
// never overlap, and hold exactly the clusters `file.size` needs at `bytesPerCluster`;
// otherwise kErrorInvalidParameter. Whether the clusters are free is the caller's check.
std::uint32_t ClustersOfNewFile(const NewFileData& file, std::uint64_t bytesPerCluster, std::uint64_t clusterCount,
                                std::vector<std::uint32_t>* clusters);

// Writes the content of `file` to `clusters` through `io`, cluster c at byte offsetOf(c),
// runs of consecutive clusters in requests of up to 4 MiB; the rest of the last cluster
// is zero. kErrorReadFault when the content cannot be read, kErrorWriteFault when a
// write fails, else kErrorSuccess. Nothing is flushed.
std::uint32_t WriteNewFileContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters,
                                  std::size_t bytesPerCluster, const std::function<std::uint64_t(std::uint32_t)>& offsetOf,
                                  fat::FatIo* io);

}  // namespace platform
