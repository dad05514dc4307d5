// Per-volume work-context set-up and report figures shared by the two workers.
#include "core/volume_pass.h"

#include "analysis/cluster_map.h"
#include "core/engine.h"
#include "core/work_context.h"

namespace vexa {

void BeginVolumePass(const VolumeRecord& v, int slot, std::int64_t totalClusters) {
  gWork.totalClusters = totalClusters;
  gWork.clustersPerCell = ClustersPerCell(static_cast<std::uint64_t>(totalClusters));
  gWork.walkSlot.store(slot, std::memory_order_relaxed);
  gWork.bytesPerCluster.store(v.bytesPerCluster, std::memory_order_relaxed);
  gWork.usedClusters.store(v.usedClusters, std::memory_order_relaxed);
  gWork.processedClusters.store(1, std::memory_order_relaxed);
  gWork.scannedFolders = 0;
  gWork.scannedFiles = 0;
  gWork.bigFragmentFiles = 0;
  gWork.smallFragmentFiles = 0;
  gWork.defragmentedFiles = 0;
  gWork.systemFile = false;
  gWork.volumeGone = false;
}

report::ReportVolumeFigures VolumeReportFigures(const VolumeRecord& v, char letter) {
  report::ReportVolumeFigures f;
  f.letter = letter;
  f.totalSize = v.totalSizeText;
  f.usedSize = v.usedSizeText;
  f.fileSystem = v.fileSystem;
  f.fragmentationText = v.fragmentationText;
  f.bytesPerCluster = v.bytesPerCluster;
  f.usedClusters = v.usedClusters;
  f.freeClusters = v.freeClusters;
  f.scannedFolders = gWork.scannedFolders;
  f.scannedFiles = gWork.scannedFiles;
  f.bigFragmentFiles = gWork.bigFragmentFiles;
  f.smallFragmentFiles = gWork.smallFragmentFiles;
  f.defraggedFiles = gWork.defragmentedFiles;
  f.defragAge = CurrentDefragmentationAge();
  return f;
}

}  // namespace vexa
