// The FAT provider: the volume seam over one FatVolume, with Windows' records and errors.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fat_time.h"
#include "fat_volume.h"
#include "platform/exfat_provider.h"
#include "platform/fat_provider.h"

namespace platform::fat {
namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

void CopyText(char* out, std::uint32_t size, const std::string& text) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

class FatMachine final : public Machine {
 public:
  FatMachine(char letter, std::unique_ptr<FatVolume> volume) : letter_(Upper(letter)), volume_(std::move(volume)) {}

  std::uint32_t DriveType(char letter) override { return Mine(letter) ? kDriveFixed : kDriveNoRootDir; }

  bool VolumeInformation(char letter, char* label, std::uint32_t labelSize, char* fileSystem,
                         std::uint32_t fileSystemSize) override {
    if (!Mine(letter)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    CopyText(label, labelSize, volume_->Label());
    CopyText(fileSystem, fileSystemSize, FatTypeName(volume_->Layout().type));
    return true;
  }

  bool VolumeSerialNumber(char letter, std::uint32_t* serial) override {
    if (!Mine(letter) || serial == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    *serial = volume_->VolumeId();
    return true;
  }

  bool FreeSpace(char letter, DiskFreeSpace* out) override {
    if (!Mine(letter) || out == nullptr) return false;
    std::lock_guard<std::mutex> guard(lock_);
    const FatLayout& l = volume_->Layout();
    out->sectorsPerCluster = l.sectorsPerCluster;
    out->bytesPerSector = l.bytesPerSector;
    out->freeClusters = volume_->FreeClusters();
    out->totalClusters = l.clusterCount;
    return true;
  }

  Handle OpenVolume(char letter) override {
    if (!Mine(letter)) return kInvalidHandle;
    std::lock_guard<std::mutex> guard(lock_);
    return Add({Open::kVolume, -1, {}, 0});
  }

  Handle OpenFileForQuery(const char* path) override {
    std::string rest;
    if (!Local(path, &rest)) return kInvalidHandle;
    std::lock_guard<std::mutex> guard(lock_);
    const std::int32_t node = volume_->Find(rest);
    // Without backup semantics Windows opens no folder this way.
    if (node <= FatVolume::kRoot || volume_->Node(node).IsFolder()) return kInvalidHandle;
    return Add({Open::kFile, node, {}, 0});
  }

  std::uint32_t GetVolumeBitmap(Handle volume, std::int64_t startingLcn, VOLUME_BITMAP_BUFFER* out,
                                std::uint32_t outSize) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (Get(volume, Open::kVolume) == nullptr) return kErrorInvalidHandle;
    if (out == nullptr || outSize < sizeof(VOLUME_BITMAP_BUFFER)) return kErrorInsufficientBuffer;
    const std::int64_t total = volume_->Layout().clusterCount;
    if (startingLcn < 0 || startingLcn >= total) return kErrorInvalidParameter;
    const std::int64_t start = startingLcn & ~std::int64_t{7};
    out->StartingLcn = start;
    out->BitmapSize = total - start;
    const std::uint64_t needed = static_cast<std::uint64_t>((total - start + 7) / 8);
    const std::uint64_t room = outSize - kVolumeBitmapHeaderSize;
    const std::uint64_t bytes = std::min(needed, room);
    std::uint8_t* bits = out->Buffer;
    volume_->Fat().CopyUsedBits(static_cast<std::size_t>(start / 8), static_cast<std::size_t>(bytes), bits);
    const std::uint64_t clusters = std::min<std::uint64_t>(bytes * 8, static_cast<std::uint64_t>(total - start));
    // The clusters the open group of moves has left are free for the next move (a move
    // onto them commits the group first).
    for (std::uint32_t cluster : volume_->VacatedClusters()) {
      const std::int64_t bit = static_cast<std::int64_t>(cluster) - 2 - start;
      if (bit >= 0 && static_cast<std::uint64_t>(bit) < clusters) {
        bits[bit / 8] = static_cast<std::uint8_t>(bits[bit / 8] & ~(1u << (bit % 8)));
      }
    }
    return bytes == needed ? kErrorSuccess : kErrorMoreData;
  }

  std::uint32_t GetRetrievalPointers(Handle file, std::int64_t startingVcn, RETRIEVAL_POINTERS_BUFFER* out,
                                     std::uint32_t outSize) override {
    std::lock_guard<std::mutex> guard(lock_);
    const Open* open = Get(file, Open::kFile);
    if (open == nullptr) return kErrorInvalidHandle;
    if (out == nullptr || outSize < sizeof(RETRIEVAL_POINTERS_BUFFER)) return kErrorInsufficientBuffer;
    if (startingVcn < 0) return kErrorInvalidParameter;
    const std::vector<std::uint32_t> chain = volume_->Chain(open->node);
    if (static_cast<std::uint64_t>(startingVcn) >= chain.size()) return kErrorHandleEof;
    const std::size_t room = (outSize - kRetrievalHeaderSize) / sizeof(RETRIEVAL_POINTERS_EXTENT);
    std::size_t count = 0;
    bool more = false;
    for (auto vcn = static_cast<std::size_t>(startingVcn); vcn < chain.size();) {
      std::size_t end = vcn + 1;
      while (end < chain.size() && chain[end] == chain[end - 1] + 1) ++end;
      if (count == room) {
        more = true;
        break;
      }
      out->Extents[count].NextVcn = static_cast<std::int64_t>(end);
      out->Extents[count].Lcn = std::int64_t{chain[vcn]} - 2;
      ++count;
      vcn = end;
    }
    out->ExtentCount = static_cast<std::uint32_t>(count);
    out->StartingVcn = startingVcn;
    return more ? kErrorMoreData : kErrorSuccess;
  }

  std::uint32_t MoveFile(Handle volume, const MOVE_FILE_DATA& move) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (Get(volume, Open::kVolume) == nullptr) return kErrorInvalidHandle;
    const Open* file = Get(move.FileHandle, Open::kFile);
    if (file == nullptr) return kErrorInvalidHandle;
    // Moves join the open group (see mover.cpp).
    return volume_->MoveClusters(file->node, move.StartingVcn, move.StartingLcn, move.ClusterCount);
  }

  std::uint32_t FlushFileBuffers(Handle volume) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (Get(volume, Open::kVolume) == nullptr) return kErrorInvalidHandle;
    return volume_->FinishChanges() ? kErrorSuccess : kErrorWriteFault;
  }

  std::uint32_t FileSize(Handle file, std::uint64_t* size) override {
    std::lock_guard<std::mutex> guard(lock_);
    const Open* open = Get(file, Open::kFile);
    if (open == nullptr) return kErrorInvalidHandle;
    if (size == nullptr) return kErrorInvalidParameter;
    *size = volume_->Node(open->node).entry.size;
    return kErrorSuccess;
  }

  Handle FindFirst(const char* pattern, WIN32_FIND_DATAA* data) override {
    std::string rest;
    if (data == nullptr || !Local(pattern, &rest)) return kInvalidHandle;
    std::string folderPath;
    if (rest.find_first_of("*?") == std::string::npos) {
      // A plain path finds that one entry, as FindFirstFileA does.
      std::lock_guard<std::mutex> guard(lock_);
      const std::int32_t node = volume_->Find(rest);
      if (node <= FatVolume::kRoot || volume_->Node(node).dot) return kInvalidHandle;
      *data = EntryOf(volume_->Node(node));
      return Add({Open::kSearch, node, {*data}, 1});
    }
    if (rest == "*" || rest == "*.*") {
      folderPath.clear();
    } else if (rest.size() >= 2 && (rest.compare(rest.size() - 2, 2, "\\*") == 0 ||
                                    rest.compare(rest.size() - 2, 2, "/*") == 0)) {
      folderPath = rest.substr(0, rest.size() - 2);
    } else if (rest.size() >= 4 && rest.compare(rest.size() - 4, 4, "\\*.*") == 0) {
      folderPath = rest.substr(0, rest.size() - 4);
    } else {
      return kInvalidHandle;
    }
    std::lock_guard<std::mutex> guard(lock_);
    const std::int32_t folder = volume_->Find(folderPath);
    if (folder < 0 || !volume_->Node(folder).IsFolder()) return kInvalidHandle;
    Open search{Open::kSearch, folder, {}, 0};
    for (std::int32_t child : volume_->Node(folder).children) search.entries.push_back(EntryOf(volume_->Node(child)));
    if (search.entries.empty()) return kInvalidHandle;  // Windows: ERROR_FILE_NOT_FOUND
    *data = search.entries[0];
    search.next = 1;
    return Add(std::move(search));
  }

  bool FindNext(Handle search, WIN32_FIND_DATAA* data) override {
    std::lock_guard<std::mutex> guard(lock_);
    Open* open = Get(search, Open::kSearch);
    if (open == nullptr || data == nullptr || open->next >= open->entries.size()) return false;
    *data = open->entries[open->next++];
    return true;
  }

  void FindClose(Handle search) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (Get(search, Open::kSearch) != nullptr) open_.erase(search);
  }

  void CloseHandle(Handle handle) override {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = open_.find(handle);
    if (it != open_.end() && it->second.kind != Open::kSearch) open_.erase(it);
  }

  std::uint32_t CreateFileInRuns(const char* path, const NewFileData& file) override {
    std::string rest;
    if (!Local(path, &rest)) return kErrorPathNotFound;
    std::lock_guard<std::mutex> guard(lock_);
    EndGroup();  // moves made so far are committed before the new file claims clusters
    return volume_->CreateFileInRuns(rest, file);
  }

 private:
  struct Open {
    enum Kind { kVolume, kFile, kSearch } kind;
    std::int32_t node;
    std::vector<WIN32_FIND_DATAA> entries;  // searches: the folder's entries at FindFirst
    std::size_t next;
  };

  bool Mine(char letter) const { return Upper(letter) == letter_; }

  // True when `path` names this drive ("X:..."); *rest is what follows "X:".
  bool Local(const char* path, std::string* rest) const {
    if (path == nullptr || path[0] == 0 || path[1] != ':' || !Mine(path[0])) return false;
    *rest = path + 2;
    return true;
  }

  // Commits the open group of moves. A failure leaves the volume read-only, which the
  // next move reports; nothing else can report it here.
  void EndGroup() {
    (void)volume_->CommitGroup();
  }

  Handle Add(Open open) {
    const Handle h = next_++;
    open_.emplace(h, std::move(open));
    return h;
  }

  Open* Get(Handle h, Open::Kind kind) {
    auto it = open_.find(h);
    return it == open_.end() || it->second.kind != kind ? nullptr : &it->second;
  }

  static WIN32_FIND_DATAA EntryOf(const FatNode& node) {
    WIN32_FIND_DATAA data{};
    const std::uint32_t attributes =
        node.entry.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
    data.dwFileAttributes = attributes == 0 ? kAttributeNormal : attributes;
    data.ftCreationTime = ToFileTime(node.entry.createDate, node.entry.createTime, node.entry.createTenths);
    data.ftLastAccessTime = ToFileTime(node.entry.accessDate, 0, 0);
    data.ftLastWriteTime = ToFileTime(node.entry.writeDate, node.entry.writeTime, 0);
    data.nFileSizeLow = node.IsFolder() ? 0 : node.entry.size;
    CopyText(data.cFileName, sizeof data.cFileName, node.name);
    if (node.hasLongName && node.name != node.shortName) {
      CopyText(data.cAlternateFileName, sizeof data.cAlternateFileName, node.shortName);
    }
    return data;
  }

  const char letter_;
  std::mutex lock_;
  std::unique_ptr<FatVolume> volume_;
  std::map<Handle, Open> open_;
  Handle next_ = 0x100;
};

}  // namespace

std::unique_ptr<Machine> OpenFatVolume(char letter, std::unique_ptr<FatIo> io, FatOpenStatus* status,
                                       FatDamage* damage, const ClaimOptions* claims, ReclaimResult* reclaimed) {
  const char up = Upper(letter);
  if (io == nullptr || up < 'C' || up > 'Z') {
    *status = FatOpenStatus::kNotFound;
    return nullptr;
  }
  // exFAT volumes go to their own provider, so every caller serves both.
  std::uint8_t first[512];
  if (io->Size() >= sizeof first && io->Read(0, first, sizeof first) && exfat::IsExfat(first, sizeof first)) {
    return exfat::OpenExfatVolume(up, std::move(io), status, damage, claims, reclaimed);
  }
  auto volume = FatVolume::Open(std::move(io), status, damage, claims, reclaimed);
  if (volume == nullptr) return nullptr;
  return std::make_unique<FatMachine>(up, std::move(volume));
}

std::unique_ptr<Machine> OpenFatVolume(char letter, const std::string& path, FatOpenStatus* status) {
  FatDamage damage;
  return OpenFatVolume(letter, path, status, &damage);
}

std::unique_ptr<Machine> OpenFatVolume(char letter, const std::string& path, FatOpenStatus* status,
                                       FatDamage* damage, const ClaimOptions* claims, ReclaimResult* reclaimed) {
  *damage = FatDamage{};
  FatOpenStatus ioStatus = FatOpenStatus::kOk;
  auto io = OpenFatDevice(path, &ioStatus);
  if (io == nullptr) {
    *status = ioStatus;
    return nullptr;
  }
  if (claims == nullptr) return OpenFatVolume(letter, std::move(io), status, damage);
  ClaimOptions named = *claims;
  named.identityPath = path;
  return OpenFatVolume(letter, std::move(io), status, damage, &named, reclaimed);
}

}  // namespace platform::fat
