// The machine the engine runs on: the native provider, with the letters of the volume
// map served by the FAT provider.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/fat_open_status.h"
#include "platform/machine.h"

namespace platform {

// How one letter of the volume map fared.
struct MappedVolume {
  char letter;                 // upper case
  std::string path;            // as the map gave it, made absolute from the map's folder
  fat::FatOpenStatus status;   // kOk, a read-only status, or why nothing is served
};

// Builds a RoutedMachine over CreateNativeMachine() and routes every letter of
// LoadVolumeMap(workingFolder) to the FAT provider. A mapped letter whose image or
// device cannot be served answers as a letter without a volume (never the native
// volume of that letter). `report`, when not null, receives one entry per mapped
// letter. The caller owns the machine. Call at engine start-up, from one thread.
std::unique_ptr<Machine> CreateEngineMachine(const std::string& workingFolder,
                                             std::vector<MappedVolume>* report = nullptr);

}  // namespace platform
