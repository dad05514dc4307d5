// Windows records, codes and handle type used at the volume seam, with the layouts Windows gives them.
//
// Off Windows these are our own definitions; on Windows the win32 provider checks
// them against <windows.h> with static_assert, so both sides agree byte for byte.
// Integer fields that Windows declares as LARGE_INTEGER/LONGLONG carry alignas(8)
// so the 32-bit build lays them out as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// An open volume, file or directory search. Opaque to the engine; kInvalidHandle
// plays the part of INVALID_HANDLE_VALUE.
using Handle = std::uintptr_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Windows error codes, as GetLastError reports them.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorReadFault = 30;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorHandleEof = 38;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorCannotMake = 82;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorFileTooLarge = 223;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorFileSystemLimitation = 665;
inline constexpr std::uint32_t kErrorFileCorrupt = 1392;

// GetDriveTypeA results.
inline constexpr std::uint32_t kDriveUnknown = 0;
inline constexpr std::uint32_t kDriveNoRootDir = 1;
inline constexpr std::uint32_t kDriveRemovable = 2;
inline constexpr std::uint32_t kDriveFixed = 3;
inline constexpr std::uint32_t kDriveRemote = 4;
inline constexpr std::uint32_t kDriveCdrom = 5;
inline constexpr std::uint32_t kDriveRamdisk = 6;

// File attribute bits the engine reads.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeSystem = 0x4;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
inline constexpr std::uint32_t kAttributeSparseFile = 0x200;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kAttributeCompressed = 0x800;
inline constexpr std::uint32_t kAttributeEncrypted = 0x4000;

// An Lcn of -1 marks a virtual extent (sparse hole or compressed part): no clusters.
inline constexpr std::int64_t kVirtualLcn = -1;

// Reparse tags (WIN32_FIND_DATA::dwReserved0 of an entry with kAttributeReparsePoint).
inline constexpr std::uint32_t kReparseTagMountPoint = 0xA0000003;  // junctions and mount points
inline constexpr std::uint32_t kReparseTagSymlink = 0xA000000C;
// IsReparseTagNameSurrogate: the entry stands for another named entity (a link), so a
// walk that follows it sees files again or files of another volume.
inline constexpr bool IsNameSurrogateTag(std::uint32_t tag) { return (tag & 0x20000000u) != 0; }

// FSCTL_GET_VOLUME_BITMAP output. Cluster n is bit n%8 of Buffer[n/8]; set = in use.
struct VOLUME_BITMAP_BUFFER {
  alignas(8) std::int64_t StartingLcn;  // first cluster the bitmap describes
  alignas(8) std::int64_t BitmapSize;   // clusters described from StartingLcn
  std::uint8_t Buffer[1];               // BitmapSize bits follow
};
static_assert(sizeof(VOLUME_BITMAP_BUFFER) == 24);
static_assert(offsetof(VOLUME_BITMAP_BUFFER, BitmapSize) == 8);
static_assert(offsetof(VOLUME_BITMAP_BUFFER, Buffer) == 16);
inline constexpr std::size_t kVolumeBitmapHeaderSize = 16;

// One entry of FSCTL_GET_RETRIEVAL_POINTERS output.
struct RETRIEVAL_POINTERS_EXTENT {
  alignas(8) std::int64_t NextVcn;  // first virtual cluster after this extent
  alignas(8) std::int64_t Lcn;      // first logical cluster, or kVirtualLcn
};

// FSCTL_GET_RETRIEVAL_POINTERS output.
struct RETRIEVAL_POINTERS_BUFFER {
  std::uint32_t ExtentCount;            // entries in Extents
  alignas(8) std::int64_t StartingVcn;  // virtual cluster where extent 0 starts
  RETRIEVAL_POINTERS_EXTENT Extents[1];
};
static_assert(sizeof(RETRIEVAL_POINTERS_EXTENT) == 16);
static_assert(sizeof(RETRIEVAL_POINTERS_BUFFER) == 32);
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn) == 8);
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, Extents) == 16);
inline constexpr std::size_t kRetrievalHeaderSize = 16;

// FSCTL_MOVE_FILE input: move ClusterCount clusters of FileHandle, from virtual
// cluster StartingVcn, to logical clusters StartingLcn onwards.
struct MOVE_FILE_DATA {
  Handle FileHandle;
  alignas(8) std::int64_t StartingVcn;
  alignas(8) std::int64_t StartingLcn;
  std::uint32_t ClusterCount;
};
static_assert(sizeof(MOVE_FILE_DATA) == 32);
static_assert(offsetof(MOVE_FILE_DATA, StartingVcn) == 8);
static_assert(offsetof(MOVE_FILE_DATA, StartingLcn) == 16);
static_assert(offsetof(MOVE_FILE_DATA, ClusterCount) == 24);

struct FILETIME {
  std::uint32_t dwLowDateTime;
  std::uint32_t dwHighDateTime;
};

// Room for a name in a directory entry below, terminating zero included. Windows
// gives MAX_PATH and 14 bytes of single-byte text; off Windows names are UTF-8, so a
// long name of 255 UTF-16 units takes up to 765 bytes and an 8.3 name read as code
// page 437 up to 35.
#ifdef _WIN32
inline constexpr std::size_t kFindNameSize = 260;
inline constexpr std::size_t kFindAlternateNameSize = 14;
#else
inline constexpr std::size_t kFindNameSize = 768;
inline constexpr std::size_t kFindAlternateNameSize = 36;
#endif

// One directory entry as FindFirstFileA/FindNextFileA report it.
struct WIN32_FIND_DATAA {
  std::uint32_t dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  std::uint32_t nFileSizeHigh;
  std::uint32_t nFileSizeLow;
  std::uint32_t dwReserved0;
  std::uint32_t dwReserved1;
  char cFileName[kFindNameSize];                   // NUL-terminated
  char cAlternateFileName[kFindAlternateNameSize];  // 8.3 name, or empty
};
static_assert(offsetof(WIN32_FIND_DATAA, nFileSizeHigh) == 28);
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == 44);
#ifdef _WIN32
static_assert(sizeof(WIN32_FIND_DATAA) == 320);
#endif

// GetDiskFreeSpaceA figures.
struct DiskFreeSpace {
  std::uint32_t sectorsPerCluster;
  std::uint32_t bytesPerSector;
  std::uint32_t freeClusters;
  std::uint32_t totalClusters;
};

}  // namespace platform
