// The engine's machine: native volumes, plus image files and devices from the volume map.
#include "platform/engine_machine.h"

#include "platform/fat_provider.h"
#include "platform/volume_map.h"

namespace platform {
std::unique_ptr<Machine> CreateEngineMachine(const std::string& workingFolder, std::vector<MappedVolume>* report) {
  auto routed = std::make_unique<RoutedMachine>(CreateNativeMachine());
  for (const VolumeMapEntry& entry : LoadVolumeMap(workingFolder)) {
    fat::FatOpenStatus status = fat::FatOpenStatus::kOk;
    std::unique_ptr<Machine> provider = fat::OpenFatVolume(entry.letter, entry.path, &status);
    // A letter whose image cannot be served names no volume (never the native one).
    if (provider == nullptr) provider = CreateEmptyMachine();
    routed->Route(entry.letter, std::move(provider));
    if (report != nullptr) report->push_back({entry.letter, entry.path, status});
  }
  return routed;
}

}  // namespace platform
