// Engine globals, start-up and shut-down.
#include "core/engine.h"

#include <atomic>
#include <ctime>
#include <memory>
#include <optional>

#include "core/allocation_fingerprint.h"
#include "core/defrag_date.h"
#include "core/free_space_rule.h"
#include "core/job_control.h"
#include "core/volume_table.h"
#include "core/work_context.h"
#include "settings/advance_dialog.h"
#include "settings/options_dialog.h"
#include "settings/exclusions.h"
#include "settings/logon_switch.h"
#include "settings/switches.h"

namespace vexa {

platform::Machine* gMachine = nullptr;
std::string gWorkingFolder;
BitmapBuffer gBitmapBuffer;
ExtentBuffer gExtentBuffer;
int gJobWaitMs = 1000;
WorkContext gWork;

platform::JobLock* gJobLock = nullptr;

namespace {

std::unique_ptr<platform::JobLock> gOwnJobLock;
std::atomic<std::int32_t> gDefragAge{0};
std::atomic<std::int32_t> gSlotAges[kVolumeSlots];

void SetAge(int s, std::int32_t age) {
  if (s >= 0 && s < kVolumeSlots) gSlotAges[s].store(age, std::memory_order_relaxed);
  gDefragAge.store(age, std::memory_order_relaxed);
}

std::optional<std::uint32_t> SerialOfSlot(int s) {
  std::uint32_t serial = 0;
  if (s < 0 || s >= kVolumeSlots - 2) return std::nullopt;
  if (!gMachine->VolumeSerialNumber(static_cast<char>('C' + s), &serial)) return std::nullopt;
  return serial;
}

std::optional<std::uint64_t> FingerprintOfSlot(int s) {
  const VolumeRecord* v = OpenVolumeOfSlot(s);
  if (v == nullptr) return std::nullopt;
  return VolumeFingerprint(*gMachine, v->volume);
}

}  // namespace

std::string WorkingFile(const char* name) { return gWorkingFolder + name; }

std::int32_t CurrentDefragmentationAge() { return gDefragAge.load(std::memory_order_relaxed); }

std::int32_t DefragmentationAgeOfSlot(int s) {
  if (s < 0 || s >= kVolumeSlots) return 0;
  return gSlotAges[s].load(std::memory_order_relaxed);
}

std::int32_t RefreshDefragmentationAge(int s) {
  std::int32_t age = VolumeDefragmentationAge(WorkingFile(kDefragDateFileName), WorkingFile(kDefragVolumeFileName), s,
                                              SerialOfSlot(s), std::time(nullptr));
  // The bitmap is read only when the date and identity alone would call it recent.
  if (age == 1 && !RecordedPrintIs(WorkingFile(kDefragPrintFileName), s, FingerprintOfSlot(s))) age = 2;
  SetAge(s, age);
  return age;
}

bool RecordDefragmentation(int s) {
  // The fingerprint of the job's end comes later (RecordAllocation); until then the
  // record holds none, so a job that never gets there leaves the volume "changed".
  if (!WriteDefragPrint(WorkingFile(kDefragPrintFileName), s, std::nullopt)) return false;
  if (!WriteDefragDate(WorkingFile(kDefragDateFileName), s, std::time(nullptr))) return false;
  if (!WriteDefragVolume(WorkingFile(kDefragVolumeFileName), s, SerialOfSlot(s))) return false;
  SetAge(s, 1);
  return true;
}

bool RecordAllocation(int s) {
  const std::optional<std::uint64_t> print = FingerprintOfSlot(s);
  return print && WriteDefragPrint(WorkingFile(kDefragPrintFileName), s, print);
}

void MakeVolumeCurrent(char letter) {
  const int s = SlotOfLetter(letter);
  gJob.currentSlot.store(s, std::memory_order_relaxed);
  const VolumeRecord* v = OpenVolumeOfSlot(s);
  if (v == nullptr) return;
  (void)RefreshDefragmentationAge(s);
  gWork.bytesPerCluster.store(v->bytesPerCluster, std::memory_order_relaxed);
  gWork.walkSlot.store(s, std::memory_order_relaxed);
}

namespace {

void StartupSteps(platform::Machine& machine, const std::string& workingFolder, platform::JobLock* jobLock) {
  gMachine = &machine;
  gWorkingFolder = workingFolder;
  if (jobLock == nullptr) {
    gOwnJobLock = platform::CreateMachineJobLock(workingFolder);
    jobLock = gOwnJobLock.get();
  }
  gJobLock = jobLock;
  ResetJobState();
  gWork.currentName.Set("");
  gWork.walkSlot.store(0);
  gWork.bytesPerCluster.store(0);
  gDefragAge.store(0);
  for (auto& age : gSlotAges) age.store(0);
  gWork.processedClusters.store(0);
  gWork.currentCellSet = false;
  gWork.stopped = false;
  gWork.usedClusters.store(0);
  gBitmapBuffer.Resize(BitmapBuffer::kStartSize);
  gExtentBuffer.Resize(ExtentBuffer::kStartSize);
  LoadExclusions(gWorkingFolder);
  LoadSwitches(gWorkingFolder);
  ReadLogonSwitchesBack();
  ResetOptionsDialogFlags();
  ResetAdvanceDialog();
  LoadVolumeTable();
  // Each map is painted with its own volume's age from the start; no volume is current.
  for (int s = 0; s < kVolumeSlots; ++s) {
    if (OpenVolumeOfSlot(s) != nullptr) (void)RefreshDefragmentationAge(s);
  }
  gDefragAge.store(0);
}

}  // namespace

void Startup(platform::Machine& machine, const std::string& workingFolder, platform::JobLock* jobLock) {
  try {
    StartupSteps(machine, workingFolder, jobLock);
  } catch (...) {
    // Nothing of a half-done start-up stays: the volumes opened so far are closed
    // without saving their maps, and every export then answers as with no volumes.
    DropVolumeTable();
    gWork.freeRuns.clear();
    gJobLock = nullptr;
    gOwnJobLock.reset();
    gMachine = nullptr;
    throw;
  }
}

bool SaveState() {
  if (gMachine == nullptr) return false;
  const bool maps = SaveVolumeMaps();
  return SaveChangedSwitches(gWorkingFolder) && maps;
}

void Shutdown() {
  if (gMachine == nullptr) return;
  SaveAndCloseVolumeTable();
  (void)SaveChangedSwitches(gWorkingFolder);
  gWork.freeRuns.clear();
  gBitmapBuffer.Resize(BitmapBuffer::kStartSize);
  gExtentBuffer.Resize(ExtentBuffer::kStartSize);
  ResetFreeSpaceRule();
  gJobLock = nullptr;
  gOwnJobLock.reset();
  gMachine = nullptr;
}

}  // namespace vexa
