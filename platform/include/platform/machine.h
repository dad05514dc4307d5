// The volume seam: every drive and volume operation the engine performs, as one table.
//
// A Machine stands for the operating system as the engine sees it: the drives C to Z,
// their volumes, and the files on them. Each member mirrors one Windows call and
// answers as Windows does, so the engine's logic is the same over every provider:
//   - the win32 provider makes the real calls (platform/win32);
//   - the FAT provider serves one drive letter from an image file or an unmounted
//     block device (platform/fat);
//   - the simulation serves in-memory volumes for tests (platform/sim);
//   - RoutedMachine (volume_map.h) sends each drive letter to one of them.
// Calls that fail return a Windows error code (win_types.h) instead of setting a
// thread's last error; 0 (kErrorSuccess) means success. Paths are Windows paths
// ("C:\dir\file"), single-byte text; providers compare names case-insensitively.
//
// Threads: a Machine may be called from several threads at once (the engine's worker
// and the front end's details query); each provider serialises what it must.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/win_types.h"

namespace platform {

// A run of clusters a new file is to occupy: first logical cluster and length.
struct FileRun {
  std::int64_t lcn = 0;
  std::int64_t clusters = 0;
  bool operator==(const FileRun&) const = default;
};

// A file to create with CreateFileInRuns.
struct NewFileData {
  std::uint64_t size = 0;            // bytes
  std::vector<FileRun> runs;      // in file order; together exactly the clusters `size` needs
  std::int64_t lastWriteTime = 0;    // seconds since 1970-01-01 UTC
  bool replace = false;              // an existing file of that name is replaced
  // Reads `size` bytes of the content at `offset` into `data`; false when it cannot.
  std::function<bool(std::uint64_t offset, void* data, std::size_t size)> read;
};

class Machine {
 public:
  virtual ~Machine() = default;

  // --- drives ---
  // GetDriveTypeA for the root of `letter` (one of kDrive*).
  virtual std::uint32_t DriveType(char letter) = 0;
  // GetVolumeInformationA: copies the volume label and file-system name (each
  // NUL-terminated and cut to its buffer). False when the root does not answer.
  [[nodiscard]] virtual bool VolumeInformation(char letter, char* label, std::uint32_t labelSize,
                                               char* fileSystem, std::uint32_t fileSystemSize) = 0;
  // The volume serial number GetVolumeInformationA gives for the root of `letter`.
  // False when the root does not answer or the provider knows no serial.
  [[nodiscard]] virtual bool VolumeSerialNumber(char letter, std::uint32_t* serial) {
    (void)letter;
    (void)serial;
    return false;
  }
  // GetDiskFreeSpaceA. False when the root does not answer.
  [[nodiscard]] virtual bool FreeSpace(char letter, DiskFreeSpace* out) = 0;

  // --- volume I/O ---
  // CreateFileA on \\.\L: with GENERIC_EXECUTE, FILE_SHARE_READ|FILE_SHARE_WRITE,
  // OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS. kInvalidHandle on failure.
  virtual Handle OpenVolume(char letter) = 0;
  // CreateFileA on a full path with access 0, sharing 0, OPEN_EXISTING: a handle for
  // the extent query, the size query and the move call. kInvalidHandle on failure.
  virtual Handle OpenFileForQuery(const char* path) = 0;
  // FSCTL_GET_VOLUME_BITMAP from `startingLcn` into `out` (`outSize` bytes). On
  // kErrorMoreData the header (StartingLcn, BitmapSize) is filled and as many bitmap
  // bytes as fit.
  [[nodiscard]] virtual std::uint32_t GetVolumeBitmap(Handle volume, std::int64_t startingLcn,
                                                      VOLUME_BITMAP_BUFFER* out,
                                                      std::uint32_t outSize) = 0;
  // FSCTL_GET_RETRIEVAL_POINTERS from `startingVcn` into `out` (`outSize` bytes).
  // kErrorMoreData when not every extent fits (as many as fit are filled);
  // kErrorHandleEof for a file that has no clusters.
  [[nodiscard]] virtual std::uint32_t GetRetrievalPointers(Handle file, std::int64_t startingVcn,
                                                           RETRIEVAL_POINTERS_BUFFER* out,
                                                           std::uint32_t outSize) = 0;
  // FSCTL_MOVE_FILE on a volume handle.
  [[nodiscard]] virtual std::uint32_t MoveFile(Handle volume, const MOVE_FILE_DATA& move) = 0;
  // GetFileSizeEx.
  [[nodiscard]] virtual std::uint32_t FileSize(Handle file, std::uint64_t* size) = 0;
  // FindFirstFileA on a pattern ending in "\*". kInvalidHandle when the folder
  // cannot be searched.
  virtual Handle FindFirst(const char* pattern, WIN32_FIND_DATAA* data) = 0;
  // FindNextFileA: false when there is no further entry.
  [[nodiscard]] virtual bool FindNext(Handle search, WIN32_FIND_DATAA* data) = 0;
  // FindClose.
  virtual void FindClose(Handle search) = 0;
  // CloseHandle for volume and file handles.
  virtual void CloseHandle(Handle handle) = 0;
  // FlushFileBuffers on a volume handle, called when a job's work on the volume ends:
  // every change made through the handle is durable when it returns, and a provider
  // that marks its volume dirty while it writes (FAT) marks it clean. Providers whose
  // file system keeps itself consistent answer success without doing anything.
  [[nodiscard]] virtual std::uint32_t FlushFileBuffers(Handle volume) {
    (void)volume;
    return kErrorSuccess;
  }

  // FSCTL_IS_VOLUME_DIRTY on a volume handle: *dirty tells whether the volume's dirty
  // bit is set (a disk check is due, and its bitmap may call clusters free that files
  // still own). Providers whose volumes keep no such bit answer clean (the default).
  [[nodiscard]] virtual std::uint32_t IsVolumeDirty(Handle volume, bool* dirty) {
    (void)volume;
    *dirty = false;
    return kErrorSuccess;
  }
  // FSCTL_IS_VOLUME_MOUNTED on a volume handle: kErrorSuccess while the volume is
  // there; kErrorNotReady or kErrorInvalidHandle once it went away (removed,
  // dismounted). The default answers that it is there.
  [[nodiscard]] virtual std::uint32_t IsVolumeMounted(Handle volume) {
    (void)volume;
    return kErrorSuccess;
  }
  // IOCTL_STORAGE_QUERY_PROPERTY with StorageDeviceSeekPenaltyProperty on a volume
  // handle: *incursSeekPenalty is false for a solid-state drive. Providers that cannot
  // tell answer kErrorNotSupported (the default), which callers treat as a disk with a
  // seek penalty.
  [[nodiscard]] virtual std::uint32_t SeekPenalty(Handle volume, bool* incursSeekPenalty) {
    (void)volume;
    *incursSeekPenalty = true;
    return kErrorNotSupported;
  }
  // CreateFileA on a full path with FILE_READ_DATA | FILE_READ_ATTRIBUTES, sharing
  // read, write and delete, OPEN_EXISTING: the handle an encrypted file's move needs
  // (NTFS moves an encrypted file only through a handle with data access).
  // kInvalidHandle on failure, as when the account cannot read the file. Providers
  // without encryption open it as OpenFileForQuery does (the default).
  virtual Handle OpenFileWithDataAccess(const char* path) { return OpenFileForQuery(path); }

  // Why the provider never moves the file behind `file` (a handle from
  // OpenFileForQuery), as the reports say it (e.g. "its directory entry spans two
  // sectors"), or null when nothing about the file itself forbids a move. Not a Windows
  // call: providers that refuse such moves with kErrorAccessDenied answer it (exFAT);
  // the default answers null. The text is static.
  virtual const char* UnmovableReason(Handle file) {
    (void)file;
    return nullptr;
  }

  // --- creating files (not a Windows call; providers of image files and devices) ---
  // Creates the file at the full path `path` on exactly the clusters `file.runs` names,
  // with its content, in an order that leaves either no file or the whole file after a
  // crash. kErrorFileExists when the name is taken and `file.replace` is false;
  // kErrorPathNotFound when the folder is missing; kErrorInvalidName for a name no file
  // can have; kErrorAccessDenied when the target runs are not free or the name is a
  // folder or read-only file; kErrorCannotMake when the folder cannot take the entry;
  // kErrorFileSystemLimitation when an entry that must change would span two sectors,
  // which no single write can change safely; kErrorReadFault when `file.read` fails;
  // kErrorNotSupported by providers that cannot create files this way (the default).
  [[nodiscard]] virtual std::uint32_t CreateFileInRuns(const char* path, const NewFileData& file) {
    (void)path;
    (void)file;
    return kErrorNotSupported;
  }
};

// The machine the engine runs on when nothing else is given: the real volumes on
// Windows, none elsewhere.
std::unique_ptr<Machine> CreateNativeMachine();

// A machine on which no drive letter names a volume (every root answers "no root
// directory", every open fails).
std::unique_ptr<Machine> CreateEmptyMachine();

}  // namespace platform
