// A machine on which no drive letter names a volume.
#include "platform/machine.h"

namespace platform {
namespace {

class EmptyMachine final : public Machine {
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

std::unique_ptr<Machine> CreateEmptyMachine() { return std::make_unique<EmptyMachine>(); }

}  // namespace platform
