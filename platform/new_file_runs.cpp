#include "platform/new_file_runs.h"

#include <algorithm>

#include "platform/win_types.h"

namespace platform {

std::uint32_t ClustersOfNewFile(const NewFileData& file, std::uint64_t bytesPerCluster, std::uint64_t clusterCount,
                                std::vector<std::uint32_t>* clusters) {
  clusters->clear();
  const std::uint64_t needed = (file.size + bytesPerCluster - 1) / bytesPerCluster;
  if (needed > clusterCount) return kErrorInvalidParameter;
  for (const FileRun& run : file.runs) {
    if (run.lcn < 0 || run.clusters <= 0 || static_cast<std::uint64_t>(run.lcn + run.clusters) > clusterCount) {
      return kErrorInvalidParameter;
    }
    for (std::int64_t i = 0; i < run.clusters; ++i) clusters->push_back(static_cast<std::uint32_t>(run.lcn + i + 2));
    if (clusters->size() > needed) return kErrorInvalidParameter;
  }
  if (clusters->size() != needed) return kErrorInvalidParameter;
  std::vector<std::uint32_t> sorted = *clusters;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return kErrorInvalidParameter;
  return kErrorSuccess;
}

}  // namespace platform
