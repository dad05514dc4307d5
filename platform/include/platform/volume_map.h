// The volume map: which drive letters are served by an image file or block device,
// and the machine that routes each letter to its provider.
//
// The map is an ini file ("volumes.ini" in the engine's working folder, or the file
// named by the environment variable VEXA_VOLUMES) with LETTER=PATH lines under
// [volumes]. Relative paths are taken from the map file's folder.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace platform {

struct VolumeMapEntry {
  char letter;       // upper case, C to Z
  std::string path;  // image file or block device, absolute where the map gave a base
};

// Parses map text. Lines outside [volumes], comments (; or #), blank lines and
// malformed lines are passed over; a later line for the same letter replaces an
// earlier one. `baseFolder` (ending with a separator, or empty) prefixes relative paths.
// A letter may be written "C" or "C:". Device paths (\\.\E:, \\?\Volume{...},
// \\.\PhysicalDrive1) are refused: they name volumes Windows has mounted. `warnings`,
// when not null, receives a text per malformed or refused line of [volumes] ("line 3:
// ..."): no "=", a letter outside C to Z, no path, a device path.
std::vector<VolumeMapEntry> ParseVolumeMap(std::string_view text, const std::string& baseFolder,
                                           std::vector<std::string>* warnings = nullptr);

// Reads the map named by VEXA_VOLUMES, else `workingFolder` + "volumes.ini".
// A missing or unreadable file is an empty map. `warnings`, when not null, receives the
// malformed lines (prefixed with the file's name) and, when VEXA_VOLUMES names a file
// that cannot be read, a text saying so.
std::vector<VolumeMapEntry> LoadVolumeMap(const std::string& workingFolder,
                                          std::vector<std::string>* warnings = nullptr);

// A machine that sends each drive letter to a provider: letters given a provider
// with Route go there, all others to the fallback (the native machine). Handles
// returned to the caller are the router's own and remember their provider.
class RoutedMachine final : public Machine {
 public:
  explicit RoutedMachine(std::unique_ptr<Machine> fallback);
  ~RoutedMachine() override;

  // Serve `letter` (either case) from `provider` from now on. Call before use.
  void Route(char letter, std::unique_ptr<Machine> provider);

  std::uint32_t DriveType(char letter) override;
  bool VolumeInformation(char letter, char* label, std::uint32_t labelSize, char* fileSystem,
                         std::uint32_t fileSystemSize) override;
  bool VolumeSerialNumber(char letter, std::uint32_t* serial) override;
  bool FreeSpace(char letter, DiskFreeSpace* out) override;
  Handle OpenVolume(char letter) override;
  Handle OpenFileForQuery(const char* path) override;
  Handle OpenFileWithDataAccess(const char* path) override;
  std::uint32_t IsVolumeDirty(Handle volume, bool* dirty) override;
  std::uint32_t IsVolumeMounted(Handle volume) override;
  std::uint32_t SeekPenalty(Handle volume, bool* incursSeekPenalty) override;
  std::uint32_t GetVolumeBitmap(Handle volume, std::int64_t startingLcn, VOLUME_BITMAP_BUFFER* out,
                                std::uint32_t outSize) override;
  std::uint32_t GetRetrievalPointers(Handle file, std::int64_t startingVcn,
                                     RETRIEVAL_POINTERS_BUFFER* out,
                                     std::uint32_t outSize) override;
  std::uint32_t MoveFile(Handle volume, const MOVE_FILE_DATA& move) override;
  std::uint32_t FileSize(Handle file, std::uint64_t* size) override;
  Handle FindFirst(const char* pattern, WIN32_FIND_DATAA* data) override;
  bool FindNext(Handle search, WIN32_FIND_DATAA* data) override;
  void FindClose(Handle search) override;
  void CloseHandle(Handle handle) override;
  std::uint32_t FlushFileBuffers(Handle volume) override;
  std::uint32_t CreateFileInRuns(const char* path, const NewFileData& file) override;
  const char* UnmovableReason(Handle file) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
