// In-memory volumes for tests: exact extents, any file-system name, injected failures.
//
// A SimMachine holds SimVolumes by drive letter and answers the volume seam as
// Windows would for them: the same records, kErrorMoreData when a buffer is short,
// Lcn -1 for virtual extents, and moves that really relocate clusters and update the
// bitmap. Files carry no data. Paths given to the builders may be full ("C:\A\b.txt")
// or relative to the volume root ("A\b.txt"); names compare case-insensitively.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace platform::sim {

// One run of a file: `length` clusters at logical cluster `lcn` (kVirtualLcn: a hole).
struct ClusterRun {
  std::int64_t lcn;
  std::int64_t length;
  bool operator==(const ClusterRun&) const = default;
};

struct Node;

class SimVolume {
 public:
  SimVolume(char letter, std::string fileSystem, std::uint64_t totalClusters,
            std::uint32_t bytesPerCluster);
  ~SimVolume();

  char Letter() const { return letter_; }
  std::uint64_t TotalClusters() const { return totalClusters_; }
  std::uint32_t BytesPerCluster() const { return bytesPerCluster_; }

  // --- building ---
  // Creates a folder (and any missing parents, as plain folders).
  void AddFolder(const std::string& path, std::uint32_t attributes = kAttributeDirectory);
  // Creates a file whose clusters lie exactly at `runs`, marking them in use.
  // `size` is the byte size reported by the directory entry and GetFileSizeEx.
  void AddFile(const std::string& path, std::uint64_t size, const std::vector<ClusterRun>& runs,
               std::uint32_t attributes = 0);
  // Appends a run to an existing file and grows its size by the run's bytes, as when
  // another program writes to the file (a test calls it from a hook mid-pass).
  void GrowFile(const std::string& path, const ClusterRun& run);
  // Marks clusters in use that belong to no file (metadata, other programs).
  void MarkUsed(std::int64_t first, std::int64_t count);
  // Sets the drive type the volume reports (default kDriveFixed).
  void SetDriveType(std::uint32_t type) { driveType_ = type; }
  // Replaces the free-space figures computed from the bitmap.
  void SetReportedFreeSpace(const DiskFreeSpace& space) { reportedSpace_ = space; }
  // Sets the volume serial number (default: 0x5100 plus the letter), as when another
  // volume is put in the drive.
  void SetSerialNumber(std::uint32_t serial) { serial_ = serial; }

  // --- injected failures ---
  void FailOpenVolume() { failOpenVolume_ = true; }
  void FailBitmap() { failBitmap_ = true; }
  void FailVolumeInformation() { failVolumeInformation_ = true; }
  void FailOpen(const std::string& path);       // the file cannot be opened
  void FailExtents(const std::string& path);    // its extent query fails
  void FailSearch(const std::string& folder);   // the folder cannot be searched
  void RefuseMoves(bool refuse = true) { refuseMoves_ = refuse; }
  // Called with the path of every file opened for queries, before it is opened (a
  // test uses it to act at an exact point of a pass, such as requesting a stop).
  void OnOpenFile(std::function<void(const std::string&)> hook) { onOpenFile_ = std::move(hook); }
  // Called at the start of every move call, before the move is checked or made.
  void OnMove(std::function<void(const MOVE_FILE_DATA&)> hook) { onMove_ = std::move(hook); }

  // --- inspection ---
  bool IsUsed(std::int64_t cluster) const;
  std::uint64_t FreeClusters() const;
  // The file's runs, merged where adjacent; nullopt when there is no such file.
  std::optional<std::vector<ClusterRun>> RunsOf(const std::string& path) const;
  int MoveCalls() const { return moveCalls_; }
  int BitmapCalls() const { return bitmapCalls_; }
  int ExtentCalls() const { return extentCalls_; }

 private:
  friend class SimMachine;
  Node* Lookup(const std::string& path) const;
  Node* MakeFolders(const std::string& path);
  void SetUsed(std::int64_t first, std::int64_t count, bool used);

  char letter_;
  std::string fileSystem_;
  std::uint64_t totalClusters_;
  std::uint32_t bytesPerCluster_;
  std::uint32_t driveType_ = kDriveFixed;
  std::optional<DiskFreeSpace> reportedSpace_;
  std::uint32_t serial_;
  std::vector<std::uint8_t> bitmap_;
  std::unique_ptr<Node> root_;
  bool failOpenVolume_ = false;
  bool failBitmap_ = false;
  bool failVolumeInformation_ = false;
  bool refuseMoves_ = false;
  std::function<void(const std::string&)> onOpenFile_;
  std::function<void(const MOVE_FILE_DATA&)> onMove_;
  int moveCalls_ = 0;
  int bitmapCalls_ = 0;
  int extentCalls_ = 0;
};

class SimMachine final : public Machine {
 public:
  SimMachine();
  ~SimMachine() override;

  // Adds a fixed volume; the machine owns it. bytesPerCluster is a multiple of 512.
  SimVolume& AddVolume(char letter, const std::string& fileSystem, std::uint64_t totalClusters,
                       std::uint32_t bytesPerCluster = 4096);
  SimVolume* Volume(char letter);
  // Handles opened and not yet closed (volume, file and search handles).
  std::size_t OpenHandles() const;

  std::uint32_t DriveType(char letter) override;
  bool VolumeInformation(char letter, char* label, std::uint32_t labelSize, char* fileSystem,
                         std::uint32_t fileSystemSize) override;
  bool VolumeSerialNumber(char letter, std::uint32_t* serial) override;
  bool FreeSpace(char letter, DiskFreeSpace* out) override;
  Handle OpenVolume(char letter) override;
  Handle OpenFileForQuery(const char* path) override;
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

 private:
  struct Open;
  SimVolume* VolumeOfPath(const char* path);
  Handle Add(Open open);

  std::map<char, std::unique_ptr<SimVolume>> volumes_;
  mutable std::mutex lock_;
  std::map<Handle, std::unique_ptr<Open>> open_;
  Handle nextHandle_ = 0x100;
};

}  // namespace platform::sim
