// The native machine on Windows: the real drives, volumes and files, through the Win32 calls.
//
// Each member makes exactly one Windows call with the arguments the engine has always
// used (see machine.h) and turns a failure into the Windows error code at once, so the
// caller never depends on a thread's last error. Our records in win_types.h are passed
// straight to the calls: the static_asserts below prove they have the Windows layout.
// Handles are Windows handles carried in platform::Handle; kInvalidHandle is
// INVALID_HANDLE_VALUE. Every call here is safe from any thread.
#define NOMINMAX
#include <windows.h>
#include <winioctl.h>
// <windows.h> maps MoveFile to MoveFileA; the seam's member of that name is ours.
#undef MoveFile

#include <cstddef>
#include <cstdio>

#include "platform/machine.h"

namespace platform {
namespace {

// --- our records against the real ones ---
#define VEXA_SAME_LAYOUT(ours, theirs) \
  static_assert(sizeof(ours) == sizeof(theirs), #ours " size differs from Windows")
#define VEXA_SAME_OFFSET(ours, theirs, field) \
  static_assert(offsetof(ours, field) == offsetof(theirs, field), #ours "::" #field " offset differs")

VEXA_SAME_LAYOUT(platform::VOLUME_BITMAP_BUFFER, ::VOLUME_BITMAP_BUFFER);
VEXA_SAME_OFFSET(platform::VOLUME_BITMAP_BUFFER, ::VOLUME_BITMAP_BUFFER, StartingLcn);
VEXA_SAME_OFFSET(platform::VOLUME_BITMAP_BUFFER, ::VOLUME_BITMAP_BUFFER, BitmapSize);
VEXA_SAME_OFFSET(platform::VOLUME_BITMAP_BUFFER, ::VOLUME_BITMAP_BUFFER, Buffer);

VEXA_SAME_LAYOUT(platform::RETRIEVAL_POINTERS_BUFFER, ::RETRIEVAL_POINTERS_BUFFER);
VEXA_SAME_OFFSET(platform::RETRIEVAL_POINTERS_BUFFER, ::RETRIEVAL_POINTERS_BUFFER, ExtentCount);
VEXA_SAME_OFFSET(platform::RETRIEVAL_POINTERS_BUFFER, ::RETRIEVAL_POINTERS_BUFFER, StartingVcn);
VEXA_SAME_OFFSET(platform::RETRIEVAL_POINTERS_BUFFER, ::RETRIEVAL_POINTERS_BUFFER, Extents);
static_assert(sizeof(platform::RETRIEVAL_POINTERS_EXTENT) ==
              sizeof(static_cast<::RETRIEVAL_POINTERS_BUFFER*>(nullptr)->Extents[0]));
static_assert(offsetof(::RETRIEVAL_POINTERS_BUFFER, Extents[0].NextVcn) ==
              offsetof(platform::RETRIEVAL_POINTERS_BUFFER, Extents[0].NextVcn));
static_assert(offsetof(::RETRIEVAL_POINTERS_BUFFER, Extents[0].Lcn) ==
              offsetof(platform::RETRIEVAL_POINTERS_BUFFER, Extents[0].Lcn));
static_assert(offsetof(::RETRIEVAL_POINTERS_BUFFER, Extents[1]) ==
              offsetof(platform::RETRIEVAL_POINTERS_BUFFER, Extents[1]));

VEXA_SAME_LAYOUT(platform::MOVE_FILE_DATA, ::MOVE_FILE_DATA);
VEXA_SAME_OFFSET(platform::MOVE_FILE_DATA, ::MOVE_FILE_DATA, FileHandle);
VEXA_SAME_OFFSET(platform::MOVE_FILE_DATA, ::MOVE_FILE_DATA, StartingVcn);
VEXA_SAME_OFFSET(platform::MOVE_FILE_DATA, ::MOVE_FILE_DATA, StartingLcn);
VEXA_SAME_OFFSET(platform::MOVE_FILE_DATA, ::MOVE_FILE_DATA, ClusterCount);

VEXA_SAME_LAYOUT(platform::FILETIME, ::FILETIME);
VEXA_SAME_OFFSET(platform::FILETIME, ::FILETIME, dwHighDateTime);

VEXA_SAME_LAYOUT(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, dwFileAttributes);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, ftCreationTime);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, ftLastAccessTime);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, ftLastWriteTime);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, nFileSizeHigh);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, nFileSizeLow);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, dwReserved0);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, dwReserved1);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, cFileName);
VEXA_SAME_OFFSET(platform::WIN32_FIND_DATAA, ::WIN32_FIND_DATAA, cAlternateFileName);
static_assert(sizeof(platform::WIN32_FIND_DATAA::cFileName) == MAX_PATH);

#undef VEXA_SAME_LAYOUT
#undef VEXA_SAME_OFFSET

static_assert(sizeof(Handle) == sizeof(HANDLE));
// INVALID_HANDLE_VALUE is the handle of value -1.
static_assert(kInvalidHandle == static_cast<Handle>(static_cast<LONG_PTR>(-1)));
static_assert(kErrorSuccess == ERROR_SUCCESS);
static_assert(kErrorInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kErrorNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(kErrorWriteProtect == ERROR_WRITE_PROTECT);
static_assert(kErrorNotReady == ERROR_NOT_READY);
static_assert(kErrorWriteFault == ERROR_WRITE_FAULT);
static_assert(kErrorReadFault == ERROR_READ_FAULT);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION);
static_assert(kErrorHandleEof == ERROR_HANDLE_EOF);
static_assert(kErrorNotSupported == ERROR_NOT_SUPPORTED);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kErrorDiskFull == ERROR_DISK_FULL);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorMoreData == ERROR_MORE_DATA);
static_assert(kErrorFileCorrupt == ERROR_FILE_CORRUPT);
static_assert(kDriveUnknown == DRIVE_UNKNOWN);
static_assert(kDriveNoRootDir == DRIVE_NO_ROOT_DIR);
static_assert(kDriveRemovable == DRIVE_REMOVABLE);
static_assert(kDriveFixed == DRIVE_FIXED);
static_assert(kDriveRemote == DRIVE_REMOTE);
static_assert(kDriveCdrom == DRIVE_CDROM);
static_assert(kDriveRamdisk == DRIVE_RAMDISK);
static_assert(kAttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(kAttributeHidden == FILE_ATTRIBUTE_HIDDEN);
static_assert(kAttributeSystem == FILE_ATTRIBUTE_SYSTEM);
static_assert(kAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(kAttributeArchive == FILE_ATTRIBUTE_ARCHIVE);
static_assert(kAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kAttributeSparseFile == FILE_ATTRIBUTE_SPARSE_FILE);
static_assert(kAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT);
static_assert(kAttributeCompressed == FILE_ATTRIBUTE_COMPRESSED);
static_assert(kAttributeEncrypted == FILE_ATTRIBUTE_ENCRYPTED);
static_assert(kReparseTagMountPoint == IO_REPARSE_TAG_MOUNT_POINT);
static_assert(kReparseTagSymlink == IO_REPARSE_TAG_SYMLINK);
static_assert(IsNameSurrogateTag(IO_REPARSE_TAG_MOUNT_POINT) && IsNameSurrogateTag(IO_REPARSE_TAG_SYMLINK));
static_assert(FSCTL_GET_VOLUME_BITMAP == 0x0009006F);
static_assert(FSCTL_GET_RETRIEVAL_POINTERS == 0x00090073);
static_assert(FSCTL_MOVE_FILE == 0x00090074);
static_assert(FSCTL_IS_VOLUME_DIRTY == 0x00090078);
static_assert(FSCTL_IS_VOLUME_MOUNTED == 0x00090028);

// File-system redirection off for the calling thread while one call by path runs.
//
// Wow64DisableWow64FsRedirection: a 32-bit process on 64-bit Windows sees SysWOW64
// under the name System32 unless it turns redirection off; it is per thread, "every
// successful call ... must have a matching call to Wow64RevertWow64FsRedirection", and
// while it is off LoadLibrary and other implicit loads look in the wrong folder, so it is
// off around exactly one FindFirstFile or CreateFile and nothing else. The functions are
// looked up at run time: kernel32 of Windows before XP SP2 has neither, and a 64-bit
// process or 32-bit Windows has nothing to turn off (the call then fails harmlessly).
class RedirectionOff {
 public:
  RedirectionOff() {
    if (Functions().disable != nullptr) off_ = Functions().disable(&old_) != FALSE;
  }
  ~RedirectionOff() {
    if (off_) Functions().revert(old_);
  }
  RedirectionOff(const RedirectionOff&) = delete;
  RedirectionOff& operator=(const RedirectionOff&) = delete;

 private:
  using Disable = BOOL(WINAPI*)(PVOID*);
  using Revert = BOOL(WINAPI*)(PVOID);
  struct Calls {
    Disable disable = nullptr;
    Revert revert = nullptr;
  };
  static const Calls& Functions() {
    static const Calls calls = [] {
      Calls found;
      if (const HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        found.disable = reinterpret_cast<Disable>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
        found.revert = reinterpret_cast<Revert>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
      }
      if (found.disable == nullptr || found.revert == nullptr) found = {};
      return found;
    }();
    return calls;
  }

  PVOID old_ = nullptr;
  bool off_ = false;
};

HANDLE ToWin(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromWin(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// The root text of a drive, "C:\".
struct RootText {
  explicit RootText(char letter) : text{letter, ':', '\\', '\0'} {}
  char text[4];
};

class WindowsMachine final : public Machine {
 public:
  std::uint32_t DriveType(char letter) override { return GetDriveTypeA(RootText(letter).text); }

  bool VolumeInformation(char letter, char* label, std::uint32_t labelSize, char* fileSystem,
                         std::uint32_t fileSystemSize) override {
    return GetVolumeInformationA(RootText(letter).text, label, labelSize, nullptr, nullptr, nullptr,
                                 fileSystem, fileSystemSize) != FALSE;
  }

  bool VolumeSerialNumber(char letter, std::uint32_t* serial) override {
    DWORD number = 0;
    if (serial == nullptr ||
        GetVolumeInformationA(RootText(letter).text, nullptr, 0, &number, nullptr, nullptr, nullptr, 0) == FALSE) {
      return false;
    }
    *serial = number;
    return true;
  }

  bool FreeSpace(char letter, DiskFreeSpace* out) override {
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!GetDiskFreeSpaceA(RootText(letter).text, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                           &totalClusters)) {
      return false;
    }
    out->sectorsPerCluster = sectorsPerCluster;
    out->bytesPerSector = bytesPerSector;
    out->freeClusters = freeClusters;
    out->totalClusters = totalClusters;
    return true;
  }

  Handle OpenVolume(char letter) override {
    char device[8];
    std::snprintf(device, sizeof device, "\\\\.\\%c:", letter);
    return FromWin(CreateFileA(device, GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr));
  }

  Handle OpenFileForQuery(const char* path) override {
    // No access and no sharing: enough for the extent, size and move calls, and
    // granted even while other programs hold the file open.
    const RedirectionOff real;
    return FromWin(CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  Handle OpenFileWithDataAccess(const char* path) override {
    // MOVE_FILE_DATA: "If the file is encrypted, the handle must have the
    // FILE_READ_DATA, FILE_WRITE_DATA, FILE_APPEND_DATA, or FILE_EXECUTE access right."
    // Read access with full sharing, so programs holding the file open keep it.
    const RedirectionOff real;
    return FromWin(CreateFileA(path, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               0, nullptr));
  }

  std::uint32_t IsVolumeDirty(Handle volume, bool* dirty) override {
    // FSCTL_IS_VOLUME_DIRTY: the output is a ULONG of flags; VOLUME_IS_DIRTY is the one
    // that asks for a disk check.
    ULONG flags = 0;
    DWORD returned = 0;
    *dirty = false;
    if (!DeviceIoControl(ToWin(volume), FSCTL_IS_VOLUME_DIRTY, nullptr, 0, &flags, sizeof flags, &returned,
                         nullptr)) {
      return GetLastError();
    }
    *dirty = (flags & VOLUME_IS_DIRTY) != 0;
    return kErrorSuccess;
  }

  std::uint32_t SeekPenalty(Handle volume, bool* incursSeekPenalty) override {
    // IOCTL_STORAGE_QUERY_PROPERTY: a STORAGE_PROPERTY_QUERY in, for
    // StorageDeviceSeekPenaltyProperty a DEVICE_SEEK_PENALTY_DESCRIPTOR out. A volume
    // handle is enough: the code needs no access rights (FILE_ANY_ACCESS).
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR descriptor{};
    DWORD returned = 0;
    *incursSeekPenalty = true;
    if (!DeviceIoControl(ToWin(volume), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                         sizeof descriptor, &returned, nullptr)) {
      return GetLastError();
    }
    if (returned < sizeof descriptor) return ERROR_INVALID_FUNCTION;
    *incursSeekPenalty = descriptor.IncursSeekPenalty != FALSE;
    return kErrorSuccess;
  }

  std::uint32_t IsVolumeMounted(Handle volume) override {
    // FSCTL_IS_VOLUME_MOUNTED: no input, no output; a failure says why the volume
    // no longer answers.
    DWORD returned = 0;
    if (DeviceIoControl(ToWin(volume), FSCTL_IS_VOLUME_MOUNTED, nullptr, 0, nullptr, 0, &returned, nullptr)) {
      return kErrorSuccess;
    }
    return GetLastError();
  }

  std::uint32_t GetVolumeBitmap(Handle volume, std::int64_t startingLcn, VOLUME_BITMAP_BUFFER* out,
                                std::uint32_t outSize) override {
    STARTING_LCN_INPUT_BUFFER input{};
    input.StartingLcn.QuadPart = startingLcn;
    DWORD returned = 0;
    if (DeviceIoControl(ToWin(volume), FSCTL_GET_VOLUME_BITMAP, &input, sizeof input, out, outSize,
                        &returned, nullptr)) {
      return kErrorSuccess;
    }
    return GetLastError();
  }

  std::uint32_t GetRetrievalPointers(Handle file, std::int64_t startingVcn, RETRIEVAL_POINTERS_BUFFER* out,
                                     std::uint32_t outSize) override {
    STARTING_VCN_INPUT_BUFFER input{};
    input.StartingVcn.QuadPart = startingVcn;
    DWORD returned = 0;
    if (DeviceIoControl(ToWin(file), FSCTL_GET_RETRIEVAL_POINTERS, &input, sizeof input, out, outSize,
                        &returned, nullptr)) {
      return kErrorSuccess;
    }
    return GetLastError();
  }

  std::uint32_t MoveFile(Handle volume, const MOVE_FILE_DATA& move) override {
    ::MOVE_FILE_DATA input{};
    input.FileHandle = ToWin(move.FileHandle);
    input.StartingVcn.QuadPart = move.StartingVcn;
    input.StartingLcn.QuadPart = move.StartingLcn;
    input.ClusterCount = move.ClusterCount;
    DWORD returned = 0;
    if (DeviceIoControl(ToWin(volume), FSCTL_MOVE_FILE, &input, sizeof input, nullptr, 0, &returned,
                        nullptr)) {
      return kErrorSuccess;
    }
    return GetLastError();
  }

  std::uint32_t FileSize(Handle file, std::uint64_t* size) override {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(ToWin(file), &value)) return GetLastError();
    *size = static_cast<std::uint64_t>(value.QuadPart);
    return kErrorSuccess;
  }

  Handle FindFirst(const char* pattern, WIN32_FIND_DATAA* data) override {
    // The search handle lists the real folder; FindNextFile needs no redirection change.
    const RedirectionOff real;
    return FromWin(FindFirstFileA(pattern, reinterpret_cast<::WIN32_FIND_DATAA*>(data)));
  }

  bool FindNext(Handle search, WIN32_FIND_DATAA* data) override {
    return FindNextFileA(ToWin(search), reinterpret_cast<::WIN32_FIND_DATAA*>(data)) != FALSE;
  }

  void FindClose(Handle search) override {
    if (search != kInvalidHandle) ::FindClose(ToWin(search));
  }

  void CloseHandle(Handle handle) override {
    if (handle != kInvalidHandle) ::CloseHandle(ToWin(handle));
  }
};

}  // namespace

std::unique_ptr<Machine> CreateNativeMachine() { return std::make_unique<WindowsMachine>(); }

}  // namespace platform
