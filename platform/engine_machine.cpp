// The engine's machine: native volumes, plus image files and devices from the volume map.
#include "platform/engine_machine.h"

#include "platform/fat_provider.h"
#include "platform/volume_map.h"

namespace platform {
namespace {

// Stands for a mapped letter whose image could not be opened: no volume there.
class AbsentVolume final : public Machine {
 public:
  std::uint32_t DriveType(char) override { return kDriveNoRootDir; }
  bool VolumeInformation(char, char*, std::uint32_t, char*, std::uint32_t) override { return false; }
  bool FreeSpace(char, DiskFreeSpace*) override { return false; }
  Handle OpenVolume(char) override { return kInvalidHandle; }
  Handle OpenFileForQuery(const char*) override { return kInvalidHandle; }
  std::uint32_t GetVolumeBitmap(Handle, std::int64_t, VOLUME_BITMAP_BUFFER*, std::uint32_t) override {
    return kErrorInvalidHandle;
  }
  std::uint32_t GetRetrievalPointers(Handle, std::int64_t, RETRIEVAL_POINTERS_BUFFER*, std::uint32_t) override {
    return kErrorInvalidHandle;
  }
  std::uint32_t MoveFile(Handle, const MOVE_FILE_DATA&) override { return kErrorInvalidHandle; }
  std::uint32_t FileSize(Handle, std::uint64_t*) override { return kErrorInvalidHandle; }
  Handle FindFirst(const char*, WIN32_FIND_DATAA*) override { return kInvalidHandle; }
  bool FindNext(Handle, WIN32_FIND_DATAA*) override { return false; }
  void FindClose(Handle) override {}
  void CloseHandle(Handle) override {}
};

}  // namespace

std::unique_ptr<Machine> CreateEngineMachine(const std::string& workingFolder, std::vector<MappedVolume>* report) {
  auto routed = std::make_unique<RoutedMachine>(CreateNativeMachine());
  for (const VolumeMapEntry& entry : LoadVolumeMap(workingFolder)) {
    fat::FatOpenStatus status = fat::FatOpenStatus::kOk;
    std::unique_ptr<Machine> provider = fat::OpenFatVolume(entry.letter, entry.path, &status);
    if (provider == nullptr) provider = std::make_unique<AbsentVolume>();
    routed->Route(entry.letter, std::move(provider));
    if (report != nullptr) report->push_back({entry.letter, entry.path, status});
  }
  return routed;
}

}  // namespace platform
