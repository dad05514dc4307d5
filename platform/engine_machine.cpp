// The engine's machine: native volumes, plus image files and devices from the volume map.
#include "platform/engine_machine.h"

#include "platform/fat_provider.h"
#include "platform/volume_map.h"

namespace platform {
std::unique_ptr<Machine> CreateEngineMachine(const std::string& workingFolder, std::vector<MappedVolume>* report) {
  auto routed = std::make_unique<RoutedMachine>(CreateNativeMachine());
  // Each volume keeps its claim record in the working folder while a job writes to it.
  fat::ClaimOptions claims;
  claims.folder = workingFolder;
  for (const VolumeMapEntry& entry : LoadVolumeMap(workingFolder)) {
    fat::FatOpenStatus status = fat::FatOpenStatus::kOk;
    fat::FatDamage damage;
    std::unique_ptr<Machine> provider = fat::OpenFatVolume(entry.letter, entry.path, &status, &damage, &claims);
    // A letter whose image cannot be served names no volume (never the native one).
    if (provider == nullptr) provider = CreateEmptyMachine();
    routed->Route(entry.letter, std::move(provider));
    if (report != nullptr) report->push_back({entry.letter, entry.path, status});
  }
  return routed;
}

}  // namespace platform
