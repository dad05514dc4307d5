// Engine globals, start-up and shut-down.
#include "core/engine.h"

#include <atomic>
#include <ctime>

#include "core/defrag_date.h"
#include "core/job_control.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "settings/advance_dialog.h"
#include "settings/options_dialog.h"
#include "settings/exclusions.h"
#include "settings/switches.h"

namespace vexa {

platform::Machine* gMachine = nullptr;
std::string gWorkingFolder;
BitmapBuffer gBitmapBuffer;
ExtentBuffer gExtentBuffer;
int gJobWaitMs = 1000;
report::Report gReport;
WorkContext gWork;

namespace {
std::atomic<std::int32_t> gDefragAge{0};
}  // namespace

std::string WorkingFile(const char* name) { return gWorkingFolder + name; }

std::int32_t CurrentDefragmentationAge() { return gDefragAge.load(std::memory_order_relaxed); }

void SetCurrentDefragmentationAge(std::int32_t age) { gDefragAge.store(age, std::memory_order_relaxed); }

void MakeVolumeCurrent(char letter) {
  const int s = SlotOfLetter(letter);
  gJob.currentSlot.store(s, std::memory_order_relaxed);
  const VolumeRecord* v = OpenVolumeOfSlot(s);
  if (v == nullptr) return;
  SetCurrentDefragmentationAge(DefragmentationAge(WorkingFile("defragdate"), s, std::time(nullptr)));
  gWork.bytesPerCluster.store(v->bytesPerCluster, std::memory_order_relaxed);
  gWork.walkSlot.store(s, std::memory_order_relaxed);
}

void Startup(platform::Machine& machine, const std::string& workingFolder) {
  gMachine = &machine;
  gWorkingFolder = workingFolder;
  ResetJobState();
  gWork.currentName.Set("");
  gWork.walkSlot.store(0);
  gWork.bytesPerCluster.store(0);
  SetCurrentDefragmentationAge(0);
  gWork.processedClusters.store(0);
  gWork.currentCellSet = false;
  gWork.stopped = false;
  gWork.usedClusters.store(0);
  gBitmapBuffer.Resize(BitmapBuffer::kStartSize);
  gExtentBuffer.Resize(ExtentBuffer::kStartSize);
  LoadExclusions(gWorkingFolder);
  LoadSwitches(gWorkingFolder);
  ResetOptionsDialogFlags();
  ResetAdvanceDialog();
  LoadVolumeTable();
}

void Shutdown() {
  if (gMachine == nullptr) return;
  SaveAndCloseVolumeTable();
  (void)SaveSwitches(gWorkingFolder);
  gWork.freeRuns.clear();
  gBitmapBuffer.Resize(BitmapBuffer::kStartSize);
  gExtentBuffer.Resize(ExtentBuffer::kStartSize);
  gMachine = nullptr;
}

}  // namespace vexa
