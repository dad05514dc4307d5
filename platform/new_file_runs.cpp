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

std::uint32_t WriteNewFileContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters,
                                  std::size_t bytesPerCluster, const std::function<std::uint64_t(std::uint32_t)>& offsetOf,
                                  fat::FatIo* io) {
  constexpr std::size_t kCopyBytes = 4u << 20;
  const std::size_t bpc = bytesPerCluster;
  const std::size_t perBuffer = std::max<std::size_t>(1, kCopyBytes / bpc);
  std::vector<std::uint8_t> buffer(std::min(perBuffer, std::max<std::size_t>(clusters.size(), 1)) * bpc);
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < clusters.size();) {
    // Consecutive clusters go out in one request.
    std::size_t take = 1;
    while (take < perBuffer && i + take < clusters.size() && clusters[i + take] == clusters[i] + take) ++take;
    const std::size_t bytes = take * bpc;
    const auto content = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, file.size - done));
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(content), buffer.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
    if (!file.read(done, buffer.data(), content)) return kErrorReadFault;
    if (!io->Write(offsetOf(clusters[i]), buffer.data(), bytes)) return kErrorWriteFault;
    done += content;
    i += take;
  }
  return kErrorSuccess;
}

}  // namespace platform
