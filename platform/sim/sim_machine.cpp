// In-memory volumes served through the volume seam, for tests.
#include "platform/sim_machine.h"

#include "platform/path_parts.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>

namespace platform::sim {

struct Node {
  std::string name;
  std::uint32_t attributes = 0;
  std::uint64_t size = 0;
  std::vector<ClusterRun> runs;  // merged where adjacent
  std::vector<std::unique_ptr<Node>> children;
  bool failOpen = false;
  bool failExtents = false;
  bool failSearch = false;
  bool noDataAccess = false;
  // A name-surrogate reparse point (junction, mount point): searches and opens through
  // it reach `link` on `linkVolume`.
  std::uint32_t reparseTag = 0;
  Node* link = nullptr;
  SimVolume* linkVolume = nullptr;

  bool IsFolder() const { return (attributes & kAttributeDirectory) != 0; }
};

namespace {

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The names of a path below its volume root: a leading "X:" is dropped.
std::vector<std::string> Components(const std::string& path) {
  return PathComponents(path.size() >= 2 && path[1] == ':' ? std::string_view(path).substr(2) : path);
}

Node* Child(const Node* folder, const std::string& name) {
  for (const auto& child : folder->children) {
    if (SameName(child->name, name)) return child.get();
  }
  return nullptr;
}

void Merge(std::vector<ClusterRun>& runs) {
  std::vector<ClusterRun> merged;
  for (const ClusterRun& r : runs) {
    if (r.length <= 0) continue;
    if (!merged.empty()) {
      ClusterRun& last = merged.back();
      const bool bothVirtual = last.lcn == kVirtualLcn && r.lcn == kVirtualLcn;
      const bool adjacent = last.lcn != kVirtualLcn && r.lcn != kVirtualLcn && last.lcn + last.length == r.lcn;
      if (bothVirtual || adjacent) {
        last.length += r.length;
        continue;
      }
    }
    merged.push_back(r);
  }
  runs = std::move(merged);
}

void CopyName(char* out, std::uint32_t size, const std::string& text) {
  if (out == nullptr || size == 0) return;
  const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(out, text.data(), n);
  out[n] = 0;
}

WIN32_FIND_DATAA EntryOf(const std::string& name, const Node& node) {
  WIN32_FIND_DATAA data{};
  data.dwFileAttributes = node.attributes == 0 ? kAttributeNormal : node.attributes;
  data.nFileSizeHigh = static_cast<std::uint32_t>(node.size >> 32);
  data.nFileSizeLow = static_cast<std::uint32_t>(node.size);
  // WIN32_FIND_DATA: dwReserved0 holds the reparse tag when the entry is a reparse point.
  data.dwReserved0 = node.reparseTag;
  CopyName(data.cFileName, sizeof data.cFileName, name);
  return data;
}

}  // namespace

// ---------------------------------------------------------------------------

SimVolume::SimVolume(char letter, std::string fileSystem, std::uint64_t totalClusters,
                     std::uint32_t bytesPerCluster)
    : letter_(static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))),
      fileSystem_(std::move(fileSystem)),
      totalClusters_(totalClusters),
      bytesPerCluster_(bytesPerCluster),
      serial_(0x5100u + static_cast<unsigned char>(letter_)),
      bitmap_((totalClusters + 7) / 8, 0),
      root_(std::make_unique<Node>()) {
  root_->attributes = kAttributeDirectory;
}

SimVolume::~SimVolume() = default;

Node* SimVolume::Lookup(const std::string& path, SimVolume** owner) const {
  Node* node = root_.get();
  const SimVolume* volume = this;
  for (const auto& part : Components(path)) {
    if (!node->IsFolder()) return nullptr;
    node = Child(node, part);
    if (node == nullptr) return nullptr;
    // Windows resolves a reparse point met on the way.
    if (node->link != nullptr) {
      volume = node->linkVolume;
      node = node->link;
    }
  }
  if (owner != nullptr) *owner = const_cast<SimVolume*>(volume);
  return node;
}

void SimVolume::AddJunction(const std::string& path, const std::string& target) {
  Node* to = Lookup(target);
  if (to == nullptr) return;
  Node* node = MakeFolders(path);
  node->attributes = kAttributeDirectory | kAttributeReparsePoint;
  node->reparseTag = kReparseTagMountPoint;
  node->link = to;
  node->linkVolume = this;
}

void SimVolume::AddMountPoint(const std::string& path, SimVolume& other) {
  Node* node = MakeFolders(path);
  node->attributes = kAttributeDirectory | kAttributeReparsePoint;
  node->reparseTag = kReparseTagMountPoint;
  node->link = other.root_.get();
  node->linkVolume = &other;
}

Node* SimVolume::MakeFolders(const std::string& path) {
  Node* node = root_.get();
  for (const auto& part : Components(path)) {
    Node* child = Child(node, part);
    if (child == nullptr) {
      auto made = std::make_unique<Node>();
      made->name = part;
      made->attributes = kAttributeDirectory;
      child = made.get();
      node->children.push_back(std::move(made));
    }
    node = child;
  }
  return node;
}

void SimVolume::AddFolder(const std::string& path, std::uint32_t attributes) {
  Node* node = MakeFolders(path);
  node->attributes = attributes | kAttributeDirectory;
}

void SimVolume::AddFile(const std::string& path, std::uint64_t size, const std::vector<ClusterRun>& runs,
                        std::uint32_t attributes) {
  auto parts = Components(path);
  if (parts.empty()) return;
  const std::string name = parts.back();
  parts.pop_back();
  std::string folder;
  for (const auto& p : parts) folder += p + "\\";
  Node* parent = MakeFolders(folder);
  auto file = std::make_unique<Node>();
  file->name = name;
  file->attributes = attributes & ~kAttributeDirectory;
  file->size = size;
  // Runs stay as given, adjacent or not, as a file system may report them.
  for (const ClusterRun& r : runs) {
    if (r.length > 0) file->runs.push_back(r);
  }
  for (const ClusterRun& r : file->runs) {
    if (r.lcn != kVirtualLcn) SetUsed(r.lcn, r.length, true);
  }
  parent->children.push_back(std::move(file));
}

void SimVolume::GrowFile(const std::string& path, const ClusterRun& run) {
  Node* file = Lookup(path);
  if (file == nullptr || file->IsFolder() || run.length <= 0) return;
  file->runs.push_back(run);
  file->size += static_cast<std::uint64_t>(run.length) * bytesPerCluster_;
  if (run.lcn != kVirtualLcn) SetUsed(run.lcn, run.length, true);
}

void SimVolume::MarkUsed(std::int64_t first, std::int64_t count) { SetUsed(first, count, true); }

void SimVolume::SetUsed(std::int64_t first, std::int64_t count, bool used) {
  const auto total = static_cast<std::int64_t>(totalClusters_);
  std::int64_t c = std::max<std::int64_t>(first, 0);
  const std::int64_t end = std::min(first + count, total);
  // Whole bytes at once, so large simulated volumes are built quickly.
  for (; c < end; ++c) {
    if (c % 8 == 0 && c + 8 <= end) {
      const std::int64_t bytes = (end - c) / 8;
      std::memset(bitmap_.data() + c / 8, used ? 0xFF : 0, static_cast<std::size_t>(bytes));
      c += bytes * 8 - 1;
      continue;
    }
    const auto bit = static_cast<std::uint8_t>(1u << (c % 8));
    if (used) {
      bitmap_[c / 8] |= bit;
    } else {
      bitmap_[c / 8] &= static_cast<std::uint8_t>(~bit);
    }
  }
}

bool SimVolume::IsUsed(std::int64_t cluster) const {
  if (cluster < 0 || static_cast<std::uint64_t>(cluster) >= totalClusters_) return true;
  return (bitmap_[cluster / 8] >> (cluster % 8)) & 1;
}

std::uint64_t SimVolume::FreeClusters() const {
  std::uint64_t used = 0;
  const std::uint64_t wholeBytes = totalClusters_ / 8;
  for (std::uint64_t b = 0; b < wholeBytes; ++b) used += static_cast<std::uint64_t>(std::popcount(bitmap_[b]));
  for (std::uint64_t c = wholeBytes * 8; c < totalClusters_; ++c) used += IsUsed(static_cast<std::int64_t>(c)) ? 1 : 0;
  return totalClusters_ - used;
}

void SimVolume::FailOpen(const std::string& path) {
  if (Node* n = Lookup(path)) n->failOpen = true;
}
void SimVolume::FailExtents(const std::string& path) {
  if (Node* n = Lookup(path)) n->failExtents = true;
}
void SimVolume::FailSearch(const std::string& folder) {
  if (Node* n = Lookup(folder)) n->failSearch = true;
}
void SimVolume::DenyDataAccess(const std::string& path) {
  if (Node* n = Lookup(path)) n->noDataAccess = true;
}

std::uint32_t SimVolume::NtfsMoveRule(const Node& n, bool dataAccess, std::int64_t vcn, std::int64_t count) const {
  // MOVE_FILE_DATA: an encrypted file moves only through a handle with data access.
  if ((n.attributes & kAttributeEncrypted) != 0 && !dataAccess) return kErrorAccessDenied;
  // Compressed and sparse files move by whole compression units of 16 clusters; only
  // the file's last unit may be shorter.
  if ((n.attributes & (kAttributeCompressed | kAttributeSparseFile)) != 0) {
    std::int64_t fileClusters = 0;
    for (const ClusterRun& r : n.runs) fileClusters += r.length;
    if (vcn % 16 != 0 || (count % 16 != 0 && vcn + count != fileClusters)) return kErrorInvalidParameter;
  }
  // Clusters past the file's size rounded up to whole clusters (preallocated space)
  // are not moved.
  const auto rounded = static_cast<std::int64_t>((n.size + bytesPerCluster_ - 1) / bytesPerCluster_);
  if (vcn + count > rounded) return kErrorInvalidParameter;
  return kErrorSuccess;
}

std::optional<std::vector<ClusterRun>> SimVolume::RunsOf(const std::string& path) const {
  const Node* n = Lookup(path);
  if (n == nullptr || n->IsFolder()) return std::nullopt;
  return n->runs;
}

// ---------------------------------------------------------------------------

struct SimMachine::Open {
  enum class Kind { Volume, File, Search } kind;
  SimVolume* volume = nullptr;
  Node* node = nullptr;
  std::vector<WIN32_FIND_DATAA> entries;
  std::size_t next = 0;
  bool dataAccess = false;
};

SimMachine::SimMachine() = default;
SimMachine::~SimMachine() = default;

SimVolume& SimMachine::AddVolume(char letter, const std::string& fileSystem,
                                 std::uint64_t totalClusters, std::uint32_t bytesPerCluster) {
  const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  auto& slot = volumes_[up];
  slot = std::make_unique<SimVolume>(up, fileSystem, totalClusters, bytesPerCluster);
  return *slot;
}

SimVolume* SimMachine::Volume(char letter) {
  const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  auto it = volumes_.find(up);
  return it == volumes_.end() ? nullptr : it->second.get();
}

SimVolume* SimMachine::VolumeOfPath(const char* path) {
  if (path == nullptr || path[0] == 0 || path[1] != ':') return nullptr;
  return Volume(path[0]);
}

std::size_t SimMachine::OpenHandles() const {
  std::lock_guard<std::mutex> guard(lock_);
  return open_.size();
}

Handle SimMachine::Add(Open open) {
  std::lock_guard<std::mutex> guard(lock_);
  const Handle h = nextHandle_++;
  open_[h] = std::make_unique<Open>(std::move(open));
  return h;
}

std::uint32_t SimMachine::DriveType(char letter) {
  SimVolume* v = Volume(letter);
  return v == nullptr ? kDriveNoRootDir : v->driveType_;
}

bool SimMachine::VolumeInformation(char letter, char* label, std::uint32_t labelSize,
                                   char* fileSystem, std::uint32_t fileSystemSize) {
  SimVolume* v = Volume(letter);
  if (v == nullptr || v->failVolumeInformation_) return false;
  CopyName(label, labelSize, std::string("SIM") + v->letter_);
  CopyName(fileSystem, fileSystemSize, v->fileSystem_);
  return true;
}

bool SimMachine::VolumeSerialNumber(char letter, std::uint32_t* serial) {
  SimVolume* v = Volume(letter);
  if (v == nullptr || serial == nullptr || v->failVolumeInformation_) return false;
  *serial = v->serial_;
  return true;
}

bool SimMachine::FreeSpace(char letter, DiskFreeSpace* out) {
  SimVolume* v = Volume(letter);
  if (v == nullptr || out == nullptr) return false;
  if (v->reportedSpace_) {
    *out = *v->reportedSpace_;
    return true;
  }
  out->bytesPerSector = 512;
  out->sectorsPerCluster = v->bytesPerCluster_ / 512;
  out->totalClusters = static_cast<std::uint32_t>(v->totalClusters_);
  out->freeClusters = static_cast<std::uint32_t>(v->FreeClusters());
  return true;
}

Handle SimMachine::OpenVolume(char letter) {
  SimVolume* v = Volume(letter);
  if (v == nullptr || v->failOpenVolume_ || v->gone_) return kInvalidHandle;
  return Add({Open::Kind::Volume, v, nullptr, {}, 0});
}

Handle SimMachine::OpenFileForQuery(const char* path) { return OpenFile(path, false); }

Handle SimMachine::OpenFileWithDataAccess(const char* path) { return OpenFile(path, true); }

Handle SimMachine::OpenFile(const char* path, bool dataAccess) {
  SimVolume* v = VolumeOfPath(path);
  if (v == nullptr) return kInvalidHandle;
  if (v->onOpenFile_) v->onOpenFile_(path);
  if (v->gone_) return kInvalidHandle;
  SimVolume* owner = v;
  Node* n = v->Lookup(path, &owner);
  if (n == nullptr || n == v->root_.get() || n->IsFolder() || n->failOpen) return kInvalidHandle;
  if (dataAccess && n->noDataAccess) return kInvalidHandle;
  // A file reached through a mount point belongs to the other volume.
  Open open{Open::Kind::File, owner, n, {}, 0};
  open.dataAccess = dataAccess;
  return Add(std::move(open));
}

SimVolume* SimMachine::VolumeOfHandle(Handle volume) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(volume);
  if (it == open_.end() || it->second->kind != Open::Kind::Volume) return nullptr;
  return it->second->volume;
}

std::uint32_t SimMachine::IsVolumeDirty(Handle volume, bool* dirty) {
  *dirty = false;
  SimVolume* v = VolumeOfHandle(volume);
  if (v == nullptr) return kErrorInvalidHandle;
  if (v->gone_) return kErrorNotReady;
  *dirty = v->dirty_;
  return kErrorSuccess;
}

std::uint32_t SimMachine::SeekPenalty(Handle volume, bool* incursSeekPenalty) {
  *incursSeekPenalty = true;
  SimVolume* v = VolumeOfHandle(volume);
  if (v == nullptr) return kErrorInvalidHandle;
  if (v->gone_) return kErrorNotReady;
  *incursSeekPenalty = !v->solidState_;
  return kErrorSuccess;
}

std::uint32_t SimMachine::IsVolumeMounted(Handle volume) {
  SimVolume* v = VolumeOfHandle(volume);
  if (v == nullptr) return kErrorInvalidHandle;
  return v->gone_ ? kErrorNotReady : kErrorSuccess;
}

std::uint32_t SimMachine::GetVolumeBitmap(Handle volume, std::int64_t startingLcn,
                                          VOLUME_BITMAP_BUFFER* out, std::uint32_t outSize) {
  SimVolume* v = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = open_.find(volume);
    if (it == open_.end() || it->second->kind != Open::Kind::Volume) return kErrorInvalidHandle;
    v = it->second->volume;
  }
  ++v->bitmapCalls_;
  if (v->gone_) return kErrorNotReady;
  if (v->failBitmap_) return kErrorReadFault;
  v->pendingFree_.clear();
  if (outSize < sizeof(VOLUME_BITMAP_BUFFER)) return kErrorInsufficientBuffer;
  const auto total = static_cast<std::int64_t>(v->totalClusters_);
  if (startingLcn < 0 || startingLcn >= total) return kErrorInvalidParameter;
  const std::int64_t start = startingLcn & ~std::int64_t{7};
  out->StartingLcn = start;
  out->BitmapSize = total - start;
  const std::uint64_t needed = static_cast<std::uint64_t>((total - start + 7) / 8);
  const std::uint64_t room = outSize - kVolumeBitmapHeaderSize;
  const std::uint64_t copy = std::min(needed, room);
  std::memcpy(out->Buffer, v->bitmap_.data() + start / 8, copy);
  return copy == needed ? kErrorSuccess : kErrorMoreData;
}

std::uint32_t SimMachine::GetRetrievalPointers(Handle file, std::int64_t startingVcn,
                                               RETRIEVAL_POINTERS_BUFFER* out,
                                               std::uint32_t outSize) {
  Node* n = nullptr;
  SimVolume* v = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = open_.find(file);
    if (it == open_.end() || it->second->kind != Open::Kind::File) return kErrorInvalidHandle;
    n = it->second->node;
    v = it->second->volume;
  }
  ++v->extentCalls_;
  if (v->gone_) return kErrorNotReady;
  if (n->failExtents) return kErrorAccessDenied;
  if (outSize < sizeof(RETRIEVAL_POINTERS_BUFFER)) return kErrorInsufficientBuffer;
  if (n->runs.empty()) return kErrorHandleEof;
  // Extents from the one holding startingVcn onwards.
  std::vector<RETRIEVAL_POINTERS_EXTENT> extents;
  std::int64_t vcn = 0;
  std::int64_t firstVcn = -1;
  for (const ClusterRun& r : n->runs) {
    const std::int64_t next = vcn + r.length;
    if (next > startingVcn) {
      if (firstVcn < 0) firstVcn = std::max(vcn, startingVcn);
      const std::int64_t skip = std::max<std::int64_t>(0, startingVcn - vcn);
      extents.push_back({next, r.lcn == kVirtualLcn ? kVirtualLcn : r.lcn + skip});
    }
    vcn = next;
  }
  if (extents.empty()) return kErrorHandleEof;
  const std::size_t room = (outSize - kRetrievalHeaderSize) / sizeof(RETRIEVAL_POINTERS_EXTENT);
  const std::size_t count = std::min(room, extents.size());
  out->ExtentCount = static_cast<std::uint32_t>(count);
  out->StartingVcn = firstVcn;
  std::memcpy(out->Extents, extents.data(), count * sizeof(RETRIEVAL_POINTERS_EXTENT));
  return count == extents.size() ? kErrorSuccess : kErrorMoreData;
}

std::uint32_t SimMachine::MoveFile(Handle volume, const MOVE_FILE_DATA& move) {
  SimVolume* v = nullptr;
  Node* n = nullptr;
  bool dataAccess = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto vol = open_.find(volume);
    auto file = open_.find(move.FileHandle);
    if (vol == open_.end() || vol->second->kind != Open::Kind::Volume) return kErrorInvalidHandle;
    if (file == open_.end() || file->second->kind != Open::Kind::File) return kErrorInvalidHandle;
    if (file->second->volume != vol->second->volume) return kErrorInvalidParameter;
    v = vol->second->volume;
    n = file->second->node;
    dataAccess = file->second->dataAccess;
  }
  ++v->moveCalls_;
  if (v->onMove_) v->onMove_(move);
  const std::uint32_t error = MoveChecked(*v, *n, dataAccess, move);
  if (error != kErrorSuccess) ++v->refusedMoves_;
  return error;
}

// The move itself: refusals first, as NTFS checks them, then the clusters change hands.
std::uint32_t SimMachine::MoveChecked(SimVolume& volume, Node& file, bool dataAccess, const MOVE_FILE_DATA& move) {
  SimVolume* v = &volume;
  Node* n = &file;
  if (v->gone_) return kErrorNotReady;
  if (v->refuseMoves_) return kErrorAccessDenied;
  const std::int64_t count = move.ClusterCount;
  if (count == 0 || move.StartingVcn < 0 || move.StartingLcn < 0 ||
      static_cast<std::uint64_t>(move.StartingLcn + count) > v->totalClusters_) {
    return kErrorInvalidParameter;
  }
  if (v->Ntfs()) {
    if (const std::uint32_t refusal = v->NtfsMoveRule(*n, dataAccess, move.StartingVcn, count);
        refusal != kErrorSuccess) {
      return refusal;
    }
    // A target freed by an earlier move is not free yet for the file system.
    if (!v->pendingFree_.empty()) {
      for (std::int64_t c = move.StartingLcn; c < move.StartingLcn + count; ++c) {
        if ((v->pendingFree_[c / 8] >> (c % 8)) & 1) return kErrorAccessDenied;
      }
    }
  }
  // Expand the file to one logical cluster per virtual cluster.
  std::vector<std::int64_t> lcns;
  for (const ClusterRun& r : n->runs) {
    for (std::int64_t i = 0; i < r.length; ++i) lcns.push_back(r.lcn == kVirtualLcn ? kVirtualLcn : r.lcn + i);
  }
  if (static_cast<std::uint64_t>(move.StartingVcn + count) > lcns.size()) return kErrorInvalidParameter;
  for (std::int64_t i = 0; i < count; ++i) {
    if (lcns[move.StartingVcn + i] == kVirtualLcn) return kErrorInvalidParameter;
  }
  // The target must be free, except for clusters the moved range itself occupies.
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t target = move.StartingLcn + i;
    const bool ownedByRange = std::find(lcns.begin() + move.StartingVcn,
                                        lcns.begin() + move.StartingVcn + count, target) !=
                              lcns.begin() + move.StartingVcn + count;
    if (v->IsUsed(target) && !ownedByRange) return kErrorAccessDenied;
  }
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t old = lcns[move.StartingVcn + i];
    v->SetUsed(old, 1, false);
    if (v->Ntfs() && (old < move.StartingLcn || old >= move.StartingLcn + count)) {
      if (v->pendingFree_.empty()) v->pendingFree_.assign(v->bitmap_.size(), 0);
      v->pendingFree_[old / 8] |= static_cast<std::uint8_t>(1u << (old % 8));
    }
  }
  for (std::int64_t i = 0; i < count; ++i) {
    lcns[move.StartingVcn + i] = move.StartingLcn + i;
    v->SetUsed(move.StartingLcn + i, 1, true);
  }
  std::vector<ClusterRun> runs;
  for (std::int64_t lcn : lcns) runs.push_back({lcn, 1});
  Merge(runs);
  n->runs = std::move(runs);
  return kErrorSuccess;
}

std::uint32_t SimMachine::FileSize(Handle file, std::uint64_t* size) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(file);
  if (it == open_.end() || it->second->kind != Open::Kind::File) return kErrorInvalidHandle;
  if (it->second->volume->gone_) return kErrorNotReady;
  *size = it->second->node->size;
  return kErrorSuccess;
}

Handle SimMachine::FindFirst(const char* pattern, WIN32_FIND_DATAA* data) {
  SimVolume* v = VolumeOfPath(pattern);
  if (v == nullptr || v->gone_) return kInvalidHandle;
  std::string folder = pattern;
  if (folder.size() < 2 || folder.compare(folder.size() - 2, 2, "\\*") != 0) {
    // A plain path finds that one entry, as FindFirstFileA does.
    Node* n = v->Lookup(folder);
    if (n == nullptr || n == v->root_.get()) return kInvalidHandle;
    Open one{Open::Kind::Search, v, n, {EntryOf(n->name, *n)}, 1};
    *data = one.entries[0];
    return Add(std::move(one));
  }
  folder.resize(folder.size() - 2);
  Node* n = v->Lookup(folder);
  if (n == nullptr || !n->IsFolder() || n->failSearch) return kInvalidHandle;
  Open search{Open::Kind::Search, v, n, {}, 0};
  if (n != v->root_.get()) {
    search.entries.push_back(EntryOf(".", *n));
    search.entries.push_back(EntryOf("..", *n));
  }
  for (const auto& child : n->children) search.entries.push_back(EntryOf(child->name, *child));
  if (search.entries.empty()) return kInvalidHandle;  // Windows: ERROR_FILE_NOT_FOUND
  *data = search.entries[0];
  search.next = 1;
  return Add(std::move(search));
}

bool SimMachine::FindNext(Handle search, WIN32_FIND_DATAA* data) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(search);
  if (it == open_.end() || it->second->kind != Open::Kind::Search) return false;
  Open& s = *it->second;
  if (s.volume->gone_ || s.next >= s.entries.size()) return false;
  *data = s.entries[s.next++];
  return true;
}

void SimMachine::FindClose(Handle search) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(search);
  if (it != open_.end() && it->second->kind == Open::Kind::Search) open_.erase(it);
}

void SimMachine::CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = open_.find(handle);
  if (it != open_.end() && it->second->kind != Open::Kind::Search) open_.erase(it);
}

}  // namespace platform::sim
