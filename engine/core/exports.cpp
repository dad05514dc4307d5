// The DLL_* exports of job control, the volume table and the cluster map.
//
// Each export catches everything: no exception crosses the library boundary.
#include <cstring>
#include <ctime>

#include "analysis/cell_file_lists.h"
#include "analysis/cluster_map.h"
#include "analysis/volume_access.h"
#include "core/defrag_date.h"
#include "core/engine.h"
#include "core/job_control.h"
#include "core/text.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "vexa/vexa.h"

using namespace vexa;

namespace {

VexaWorkingStatus gStatus;
VexaVolumeInfo gVolumeInfo;
VexaFileDetails gFileDetails;
std::int32_t gColorTable[kMapCells];

bool Started() { return gMachine != nullptr; }

}  // namespace


extern "C" {

int32_t VEXA_CALL DLL_AnalyseVolume(const char* letters) {
  try {
    if (Started() && !RunJob(letters, kJobAnalyse)) return 0;
  } catch (...) {
  }
  return 1;
}

int32_t VEXA_CALL DLL_DefragVolume(const char* letters) {
  try {
    if (Started() && !RunJob(letters, kJobDefrag)) return 0;
  } catch (...) {
  }
  return 1;
}

int32_t VEXA_CALL DLL_OptimizedDefragVolume(const char* letters) {
  try {
    if (Started() && !RunJob(letters, kJobOptimize)) return 0;
  } catch (...) {
  }
  return 1;
}

void VEXA_CALL DLL_WorkingStop(void) { gJob.stop.store(true, std::memory_order_relaxed); }

const VexaWorkingStatus* VEXA_CALL DLL_GetWorkingStatus(void) {
  FillStatus(gStatus);
  return &gStatus;
}

void VEXA_CALL DLL_SetCurrentVolume(char letter) {
  try {
    if (Started()) MakeVolumeCurrent(letter);
  } catch (...) {
  }
}

const VexaVolumeInfo* VEXA_CALL DLL_GetVolumeInfo(char letter) {
  const VolumeRecord* v = OpenVolumeOfSlot(SlotOfLetter(letter));
  if (v == nullptr) return nullptr;
  std::memset(&gVolumeInfo, 0, sizeof gVolumeInfo);
  CopyToField(gVolumeInfo.totalSize, sizeof gVolumeInfo.totalSize, v->totalSizeText);
  CopyToField(gVolumeInfo.fileSystem, sizeof gVolumeInfo.fileSystem, v->fileSystem);
  CopyToField(gVolumeInfo.usedSize, sizeof gVolumeInfo.usedSize, v->usedSizeText);
  gVolumeInfo.clustersPerCell = v->clustersPerCell;
  gVolumeInfo.freeClusters = v->freeClusters;
  gVolumeInfo.usedClusters = v->usedClusters;
  gVolumeInfo.bytesPerCluster = v->bytesPerCluster;
  gVolumeInfo.solidState = v->solidState ? 1 : 0;
  return &gVolumeInfo;
}

const int32_t* VEXA_CALL DLL_GetVolumeColorTable(char letter) {
  const VolumeRecord* v = OpenVolumeOfSlot(SlotOfLetter(letter));
  const std::int32_t age = DefragmentationAgeOfSlot(SlotOfLetter(letter));
  for (int k = 0; k < kMapCells; ++k) {
    gColorTable[k] = (v == nullptr || !v->cells) ? VEXA_COLOR_EMPTY : ColorOfCell(v->cells->Get(k), age);
  }
  return gColorTable;
}

int32_t VEXA_CALL DLL_GetVolumeSectorColor(char letter, int32_t cell) {
  const VolumeRecord* v = OpenVolumeOfSlot(SlotOfLetter(letter));
  if (v == nullptr || !v->cells || cell < 0 || cell >= kMapCells) return VEXA_COLOR_EMPTY;
  return ColorOfCell(v->cells->Get(cell), DefragmentationAgeOfSlot(SlotOfLetter(letter)));
}

int32_t VEXA_CALL DLL_GetVolumeSectorFilesList(char letter, int32_t cell) {
  try {
    if (!Started()) return 0;
    const VolumeRecord& v = gVolumes[SlotOfLetter(letter)];
    std::vector<std::string> paths;
    if (v.lists && cell >= 0 && cell < kMapCells) paths = v.lists->List(cell);
    return WriteFileList(WorkingFile("FileList.txt"), paths) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

const VexaFileDetails* VEXA_CALL DLL_GetVolumeSectorFileInfo(const char* path) {
  try {
    if (!Started() || path == nullptr) return nullptr;
    const platform::Handle file = gMachine->OpenFileForQuery(path);
    if (file == platform::kInvalidHandle) return nullptr;
    // Its own buffer: a details query never disturbs a running pass.
    static ExtentBuffer buffer;
    std::uint32_t extents = 0;
    if (ReadExtents(*gMachine, file, buffer, kExtentGrowthLarge)) extents = buffer.ExtentCount();
    std::uint64_t size = 0;
    if (gMachine->FileSize(file, &size) != platform::kErrorSuccess) size = 0;
    gMachine->CloseHandle(file);
    // The clusters of the volume the path names, whichever volume is current.
    const VolumeRecord* volume = OpenVolumeOfSlot(SlotOfLetter(path[0]));
    const std::uint64_t clusterBytes = volume != nullptr ? volume->bytesPerCluster : 0;
    std::memset(&gFileDetails, 0, sizeof gFileDetails);
    CopyToField(gFileDetails.extentCount, sizeof gFileDetails.extentCount, FormatSigned(static_cast<std::int32_t>(extents)));
    CopyToField(gFileDetails.clusters, sizeof gFileDetails.clusters,
                FormatUnsigned(clusterBytes == 0 ? 0 : size / clusterBytes));
    CopyToField(gFileDetails.bytes, sizeof gFileDetails.bytes, FormatUnsigned(size));
    return &gFileDetails;
  } catch (...) {
    return nullptr;
  }
}

}  // extern "C"
