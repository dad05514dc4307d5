// In-memory volumes for tests: exact extents, any file-system name, injected failures.
//
// A SimMachine holds SimVolumes by drive letter and answers the volume seam as
// Windows would for them: the same records, kErrorMoreData when a buffer is short,
// Lcn -1 for virtual extents, and moves that really relocate clusters and update the
// bitmap. Files carry no data. A volume named "NTFS" also refuses the moves NTFS
// refuses (SimMachine::MoveFile lists them). Paths given to the builders may be full ("C:\A\b.txt")
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
  // A junction at `path` to the folder `target` of this volume (an ancestor makes a
  // loop), and a mount point at `path` to the root of `other`: folders carrying the
  // name-surrogate tag IO_REPARSE_TAG_MOUNT_POINT that Windows resolves on the way.
  void AddJunction(const std::string& path, const std::string& target);
  void AddMountPoint(const std::string& path, SimVolume& other);
  // Marks clusters in use that belong to no file (metadata, other programs).
  void MarkUsed(std::int64_t first, std::int64_t count);
  // Sets the drive type the volume reports (default kDriveFixed).
  void SetDriveType(std::uint32_t type) { driveType_ = type; }
  // Replaces the free-space figures computed from the bitmap.
  void SetReportedFreeSpace(const DiskFreeSpace& space) { reportedSpace_ = space; }
  // Sets the volume serial number (default: 0x5100 plus the letter), as when another
  // volume is put in the drive.
  void SetSerialNumber(std::uint32_t serial) { serial_ = serial; }

  // Makes the volume's disk a solid-state drive (no seek penalty).
  void SetSolidState(bool solidState = true) { solidState_ = solidState; }
  // Sets the volume's dirty bit, as a crash or a failing disk leaves it.
  void SetDirty(bool dirty = true) { dirty_ = dirty; }
  // Marks the file encrypted with a key the account lacks: opening it with data access
  // fails, so no handle can move it.
  void DenyDataAccess(const std::string& path);

  // --- injected failures ---
  // The volume goes away (a USB disk pulled, a dismount): every later call on it, old
  // handles included, fails with kErrorNotReady.
  void GoAway() { gone_ = true; }
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
  // Move calls refused, whatever the reason.
  int RefusedMoves() const { return refusedMoves_; }
  int BitmapCalls() const { return bitmapCalls_; }
  int ExtentCalls() const { return extentCalls_; }

 private:
  friend class SimMachine;
  // The node at `path`, through any junction or mount point on the way; *owner (when
  // given) is the volume the node belongs to.
  Node* Lookup(const std::string& path, SimVolume** owner = nullptr) const;
  Node* MakeFolders(const std::string& path);
  void SetUsed(std::int64_t first, std::int64_t count, bool used);
  bool Ntfs() const { return fileSystem_ == "NTFS"; }
  // NTFS's refusal of a move of `count` clusters from `vcn` of file `n` through a handle
  // with or without data access, or kErrorSuccess.
  std::uint32_t NtfsMoveRule(const Node& n, bool dataAccess, std::int64_t vcn, std::int64_t count) const;

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
  bool dirty_ = false;
  bool solidState_ = false;
  bool gone_ = false;
  // NTFS: clusters a move freed stay unusable as move targets until the next bitmap
  // read (the file system releases them at a checkpoint, which a bitmap read stands
  // for here); empty when none are pending.
  std::vector<std::uint8_t> pendingFree_;
  int refusedMoves_ = 0;
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
  std::uint32_t IsVolumeDirty(Handle volume, bool* dirty) override;
  std::uint32_t IsVolumeMounted(Handle volume) override;
  std::uint32_t SeekPenalty(Handle volume, bool* incursSeekPenalty) override;
  Handle OpenFileWithDataAccess(const char* path) override;

 private:
  struct Open;
  SimVolume* VolumeOfPath(const char* path);
  SimVolume* VolumeOfHandle(Handle volume);
  Handle OpenFile(const char* path, bool dataAccess);
  std::uint32_t MoveChecked(SimVolume& volume, Node& file, bool dataAccess, const MOVE_FILE_DATA& move);
  Handle Add(Open open);

  std::map<char, std::unique_ptr<SimVolume>> volumes_;
  mutable std::mutex lock_;
  std::map<Handle, std::unique_ptr<Open>> open_;
  Handle nextHandle_ = 0x100;
};

}  // namespace platform::sim
