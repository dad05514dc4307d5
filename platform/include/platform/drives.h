// The drives seam: the drive list a front end shows, with the letters of the volume map
// served from their images as fixed drives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One drive as a front end lists it.
struct DriveFacts {
  char letter = 0;             // upper case
  std::uint32_t type = 0;      // GetDriveTypeA value (kDrive* of win_types.h)
  std::string label;           // empty when unknown
  std::string fileSystem;      // empty when unknown
  std::uint64_t totalBytes = 0;  // 0 when unknown
  std::uint64_t freeBytes = 0;   // 0 when unknown
};

class Drives {
 public:
  virtual ~Drives() = default;
  // GetLogicalDrives: bit i set when the letter i places after A is present.
  virtual std::uint32_t LogicalDrives() = 0;
  // GetDriveTypeA for "X:".
  virtual std::uint32_t DriveType(char letter) = 0;
  // GetVolumeInformationA for "X:\": false (both texts left empty) when the root does not answer.
  [[nodiscard]] virtual bool VolumeInformation(char letter, std::string* label, std::string* fileSystem) = 0;
  // GetDiskFreeSpaceExA for "X:\": total and free bytes; false (both 0) on failure.
  [[nodiscard]] virtual bool FreeSpace(char letter, std::uint64_t* totalBytes, std::uint64_t* freeBytes) = 0;
};

// The system's drives (none but the mapped ones off Windows) with every letter of
// LoadVolumeMap(workingFolder) served from its image, read-only and shared with the
// engine, as a fixed drive; a mapped image that cannot be read is no drive. Main thread.
std::unique_ptr<Drives> CreateSystemDrives(const std::string& workingFolder);

// Drives answering from a table, for tests; letters not in it are absent.
std::unique_ptr<Drives> CreateFakeDrives(std::vector<DriveFacts> drives);

// Asks `drives` about each letter in order, the way a drive list is filled: present
// letters only, with the facts each call yields (failed calls leave texts empty and sizes 0).
std::vector<DriveFacts> ListDrives(Drives& drives);

}  // namespace platform
