// Opening an exFAT volume: boot region, FAT, bitmap, up-case table and a bounded walk
// of the folder tree.
//
// Every allocation is claimed in a per-cluster byte as it is found, so a chain that
// loops or meets another allocation ends the walk of that chain at once, and the walk
// as a whole is bounded by the cluster count whatever the image holds. Folders are
// visited from an explicit list with their depth, never by recursion.
#include "exfat_volume.h"

#include <algorithm>

#include "../fat/dir_entry.h"
#include "../fat/le.h"
#include "platform/name_text.h"
#include "platform/path_parts.h"

namespace platform::exfat {

using platform::fat::FatDamage;
using platform::fat::FatIo;
using platform::fat::FatOpenStatus;
using platform::fat::Le16;
using platform::fat::Le32;

namespace {

// Deeper folders cannot be reached through a Windows path (260 characters).
constexpr int kMaxDepth = 128;

// A folder holds at most 256 MiB of entries.
constexpr std::uint64_t kMaxFolderBytes = 256u << 20;

std::uint64_t Le64(const std::uint8_t* p) { return Le32(p) | (std::uint64_t{Le32(p + 4)} << 32); }

std::string Hex(std::uint32_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 4; shift >= 0; shift -= 4) s += kDigits[(v >> shift) & 0xF];
  return s;
}

}  // namespace

ExfatVolume::~ExfatVolume() { (void)FinishChanges(); }

std::unique_ptr<ExfatVolume> ExfatVolume::Open(std::unique_ptr<FatIo> io, FatOpenStatus* status,
                                               platform::fat::FatDamage* damage,
                                               const platform::fat::ClaimOptions* claims,
                                               platform::fat::ReclaimResult* reclaimed) {
  std::unique_ptr<ExfatVolume> volume(new ExfatVolume());
  volume->io_ = std::move(io);
  if (claims != nullptr) volume->claims_ = *claims;
  const FatOpenStatus loaded = volume->Load();
  *status = loaded;
  if (damage != nullptr) *damage = volume->damage_;
  if (reclaimed != nullptr) {
    reclaimed->interrupted = volume->interrupted_;
    reclaimed->freedBytes = std::uint64_t{volume->reclaimed_.size()} * volume->layout_.bytesPerCluster;
    reclaimed->done = volume->interrupted_ && volume->claims_.reclaim && !volume->readOnly_ &&
                      !volume->journal_->Exists();
  }
  if (!platform::fat::FatOpened(loaded)) return nullptr;
  return volume;
}

void ExfatVolume::Inconsistent(std::uint32_t FatDamage::*kind, const std::string& why) {
  if (kind != nullptr) {
    ++(damage_.*kind);
  } else if (damage_.otherProblems++ == 0) {
    damage_.firstOther = why;
  }
  if (readOnlyReason_ == FatOpenStatus::kOk) {
    readOnlyReason_ = FatOpenStatus::kReadOnlyExfatInconsistent;
    problem_ = why;
  }
}

void ExfatVolume::Unknown(std::uint8_t type) {
  if (readOnlyReason_ == FatOpenStatus::kOk) {
    readOnlyReason_ = FatOpenStatus::kReadOnlyUnknownEntries;
    problem_ = "entry type " + Hex(type) + " is not known";
  }
}

FatOpenStatus ExfatVolume::Load() {
  if (io_->Size() < 512) return FatOpenStatus::kBadBootSector;
  std::uint8_t first[512];
  if (!io_->Read(0, first, sizeof first)) return FatOpenStatus::kReadError;
  if (!IsExfatBootSector(first, sizeof first)) return FatOpenStatus::kBadBootSector;
  const BootSector boot = DecodeBootSector(first);
  const FatOpenStatus layoutStatus = ComputeLayout(boot, io_->Size(), &layout_);
  if (layoutStatus != FatOpenStatus::kOk) return layoutStatus;
  const Layout& l = layout_;

  std::vector<std::uint8_t> region(std::size_t{l.bytesPerSector} * kBootRegionSectors);
  if (!io_->Read(0, region.data(), region.size())) return FatOpenStatus::kReadError;
  const std::uint32_t sum = BootChecksum(region.data(), l.bytesPerSector);
  for (std::size_t at = std::size_t{l.bytesPerSector} * 11; at < region.size(); at += 4) {
    if (Le32(region.data() + at) != sum) {
      readOnlyReason_ = FatOpenStatus::kReadOnlyBootChecksum;
      problem_ = "boot region checksum is wrong";
      break;
    }
  }
  wasDirty_ = (boot.volumeFlags & kFlagVolumeDirty) != 0;
  mediaFailure_ = (boot.volumeFlags & kFlagMediaFailure) != 0;
  serial_ = Le32(first + 100);
  if (!claims_.folder.empty()) {
    journal_ = std::make_unique<ClaimJournal>(claims_.folder, VolumeIdentity(claims_.identityPath, serial_, io_->Size()));
    interrupted_ = journal_->Exists();
  }
  const bool reclaiming = interrupted_ && claims_.reclaim && io_->Writable() && !mediaFailure_;
  if (l.fatCount == 2 && readOnlyReason_ == FatOpenStatus::kOk) {
    readOnlyReason_ = FatOpenStatus::kReadOnlyTexfat;
    problem_ = "two FATs (TexFAT)";
  }

  const std::size_t entries = std::size_t{l.clusterCount} + 2;
  std::vector<std::uint8_t> raw(entries * 4);
  if (!io_->Read(l.fatOffset, raw.data(), raw.size())) return FatOpenStatus::kReadError;
  fat_.resize(entries);
  for (std::size_t i = 0; i < entries; ++i) fat_[i] = Le32(raw.data() + i * 4);
  raw.clear();
  raw.shrink_to_fit();

  claimed_.assign(entries, 0);
  std::vector<std::pair<std::int32_t, int>> pending;  // folder node, depth
  if (!ReadRoot(&pending)) return FatOpenStatus::kReadError;
  while (!pending.empty()) {
    const auto [folder, depth] = pending.back();
    pending.pop_back();
    if (!ReadFolder(folder, depth, &pending)) return FatOpenStatus::kReadError;
  }
  if (!haveBitmap_) {
    Inconsistent(nullptr, "no allocation bitmap");
    bitmap_.assign((std::size_t{l.clusterCount} + 7) / 8, 0xFF);  // nothing counts as free
  }
  std::vector<ClaimedRun> recorded;
  if (reclaiming) {
    recorded = journal_->Runs();
    std::sort(recorded.begin(), recorded.end(), [](const ClaimedRun& a, const ClaimedRun& b) { return a.first < b.first; });
  }
  CheckBitmap(reclaiming ? &recorded : nullptr);
  claimed_.clear();
  claimed_.shrink_to_fit();
  IndexNames();

  FatOpenStatus status = readOnlyReason_;
  if (status == FatOpenStatus::kOk && mediaFailure_) status = FatOpenStatus::kReadOnlyMediaFailure;
  if (status == FatOpenStatus::kOk && wasDirty_ && !interrupted_) status = FatOpenStatus::kReadOnlyExfatDirty;
  if (status == FatOpenStatus::kOk && !io_->Writable()) status = FatOpenStatus::kReadOnlyNoWriteAccess;
  readOnly_ = status != FatOpenStatus::kOk;
  if (reclaiming && !readOnly_ && !FinishReclaim()) {
    readOnly_ = true;
    return FatOpenStatus::kReadError;
  }
  return status;
}

bool ExfatVolume::ClaimChain(std::uint32_t first, std::uint64_t clusters, bool noFatChain, const std::string& what,
                             std::vector<std::uint32_t>* chain) {
  if (clusters > layout_.clusterCount) {
    Inconsistent(&FatDamage::brokenChains, what + " is larger than the volume");
    return false;
  }
  if (noFatChain) {
    if (!layout_.IsCluster(first) || clusters == 0 || first - 2 + clusters > layout_.clusterCount) {
      Inconsistent(&FatDamage::brokenChains, what + " lies outside the cluster heap");
      return false;
    }
    for (std::uint32_t c = first; c < first + clusters; ++c) {
      if (claimed_[c] != 0) {
        Inconsistent(&FatDamage::crossLinks, "cluster " + std::to_string(c) + " of " + what + " is claimed twice");
        return false;
      }
    }
    for (std::uint32_t c = first; c < first + clusters; ++c) {
      claimed_[c] = 1;
      if (chain != nullptr) chain->push_back(c);
    }
    return true;
  }
  std::vector<std::uint32_t> mine;
  std::uint32_t c = first;
  while (true) {
    if (!layout_.IsCluster(c)) {
      Inconsistent(&FatDamage::brokenChains, "the chain of " + what + " leaves the cluster heap");
      return false;
    }
    if (claimed_[c] != 0) {
      const bool loop = std::find(mine.begin(), mine.end(), c) != mine.end();
      Inconsistent(loop ? &FatDamage::brokenChains : &FatDamage::crossLinks,
                   "cluster " + std::to_string(c) + " of " + what + " is claimed twice (" +
                       (loop ? "the chain loops" : "cross-link") + ")");
      return false;
    }
    claimed_[c] = 1;
    mine.push_back(c);
    const std::uint32_t v = fat_[c];
    if (v == kFatEnd) break;
    if (clusters != 0 && mine.size() == clusters) {
      Inconsistent(nullptr, "the chain of " + what + " is longer than its size");
      return false;
    }
    c = v;
  }
  if (clusters != 0 && mine.size() != clusters) {
    Inconsistent(&FatDamage::shortChains, "the chain of " + what + " is shorter than its size");
    return false;
  }
  if (chain != nullptr) chain->insert(chain->end(), mine.begin(), mine.end());
  return true;
}

bool ExfatVolume::ReadFolderData(const std::vector<std::uint32_t>& chain, std::vector<std::uint8_t>* data) {
  const std::size_t bpc = layout_.bytesPerCluster;
  data->assign(chain.size() * bpc, 0);
  for (std::size_t i = 0; i < chain.size();) {
    std::size_t run = 1;
    while (i + run < chain.size() && chain[i + run] == chain[i] + run) ++run;
    if (!io_->Read(layout_.ClusterOffset(chain[i]), data->data() + i * bpc, run * bpc)) return false;
    i += run;
  }
  return true;
}

bool ExfatVolume::LoadBitmap(const std::uint8_t* entry) {
  if ((entry[1] & 1) != 0) return true;  // the second bitmap of a TexFAT volume
  if (haveBitmap_) {
    Inconsistent(nullptr, "two allocation bitmaps");
    return true;
  }
  const std::uint64_t length = Le64(entry + kAllocDataLength);
  const std::uint64_t needed = (std::uint64_t{layout_.clusterCount} + 7) / 8;
  if (length < needed) {
    Inconsistent(nullptr, "the allocation bitmap is too short");
    return true;
  }
  if (!ClaimChain(Le32(entry + kAllocFirstCluster), ClustersOf(length), false, "the allocation bitmap",
                  &bitmapChain_)) {
    return true;
  }
  std::vector<std::uint8_t> data;
  if (!ReadFolderData(bitmapChain_, &data)) return false;
  data.resize(static_cast<std::size_t>(needed));
  bitmap_ = std::move(data);
  haveBitmap_ = true;
  return true;
}

bool ExfatVolume::LoadUpcase(const std::uint8_t* entry) {
  if (haveUpcase_) {
    Inconsistent(nullptr, "two up-case tables");
    return true;
  }
  const std::uint64_t length = Le64(entry + kAllocDataLength);
  std::vector<std::uint32_t> chain;
  if (length == 0 || length > 0x20000 ||
      !ClaimChain(Le32(entry + kAllocFirstCluster), ClustersOf(length), false, "the up-case table", &chain)) {
    Inconsistent(nullptr, "the up-case table is unusable");
    return true;
  }
  std::vector<std::uint8_t> data;
  if (!ReadFolderData(chain, &data)) return false;
  data.resize(static_cast<std::size_t>(length));
  if (UpcaseChecksum(data.data(), data.size()) != Le32(entry + kUpcaseChecksum)) {
    Inconsistent(nullptr, "the up-case table's checksum is wrong");
    return true;
  }
  if (!upcase_.Load(data.data(), data.size())) {
    Inconsistent(nullptr, "the up-case table is malformed");
    return true;
  }
  haveUpcase_ = true;
  return true;
}

bool ExfatVolume::ReadRoot(std::vector<std::pair<std::int32_t, int>>* pending) {
  ExfatNode root;
  root.attributes = kAttrDirectory;
  root.firstCluster = layout_.rootCluster;
  root.flags = kAllocationPossible;
  nodes_.push_back(root);
  std::vector<std::uint32_t> chain;
  if (!ClaimChain(layout_.rootCluster, 0, false, "the root folder", &chain)) return true;
  if (chain.size() * layout_.bytesPerCluster > kMaxFolderBytes) {
    Inconsistent(nullptr, "the root folder is too large");
    return true;
  }
  nodes_[kRoot].dataLength = chain.size() * layout_.bytesPerCluster;
  nodes_[kRoot].validDataLength = nodes_[kRoot].dataLength;
  std::vector<std::uint8_t> data;
  if (!ReadFolderData(chain, &data)) return false;
  // The bitmap and up-case table first: names are checked against the table.
  for (std::size_t at = 0; at + kEntrySize <= data.size() && data[at] != kTypeEnd; at += kEntrySize) {
    const std::uint8_t* e = data.data() + at;
    if (e[0] == kTypeBitmap && !LoadBitmap(e)) return false;
    if (e[0] == kTypeUpcase && !LoadUpcase(e)) return false;
  }
  if (!haveUpcase_) Inconsistent(nullptr, "the root folder has no up-case table");
  ParseEntries(kRoot, data, chain, 0, pending);
  return true;
}

bool ExfatVolume::ReadFolder(std::int32_t folder, int depth, std::vector<std::pair<std::int32_t, int>>* pending) {
  const std::vector<std::uint32_t> chain = Chain(folder);
  std::vector<std::uint8_t> data;
  if (!ReadFolderData(chain, &data)) return false;
  ParseEntries(folder, data, chain, depth, pending);
  return true;
}

void ExfatVolume::ParseEntries(std::int32_t folder, const std::vector<std::uint8_t>& data,
                               const std::vector<std::uint32_t>& chain, int depth,
                               std::vector<std::pair<std::int32_t, int>>* pending) {
  const bool isRoot = folder == kRoot;
  const std::size_t bpc = layout_.bytesPerCluster;
  auto diskOffset = [&](std::size_t at) { return layout_.ClusterOffset(chain[at / bpc]) + at % bpc; };
  std::size_t at = 0;
  while (at + kEntrySize <= data.size()) {
    const std::uint8_t* e = data.data() + at;
    const std::uint8_t type = e[0];
    if (type == kTypeEnd) break;
    if ((type & kTypeInUse) == 0) {  // deleted or unused
      at += kEntrySize;
      continue;
    }
    if ((type & kTypeSecondary) != 0) {
      Inconsistent(nullptr, "a secondary entry stands without its File entry");
      at += kEntrySize;
      continue;
    }
    if (type == kTypeBitmap || type == kTypeUpcase || type == kTypeLabel) {
      if (!isRoot) Inconsistent(nullptr, "a volume entry outside the root folder");
      if (type == kTypeLabel && isRoot) {
        const std::size_t units = std::min<std::size_t>(e[1], kLabelMaxUnits);
        std::u16string label;
        for (std::size_t i = 0; i < units; ++i) label += static_cast<char16_t>(Le16(e + 2 + 2 * i));
        // The label is shown, never looked up: a stand-in for a broken unit will do.
        (void)platform::NameFromUtf16(label, &label_);
      }
      at += kEntrySize;
      continue;
    }
    const std::size_t count = std::size_t{e[kFileSecondaryCount]} + 1;
    if (type != kTypeFile) {
      if (type != kTypeGuid) Unknown(type);
      at += kEntrySize * count;
      continue;
    }
    if (count < 3 || count > 19) {
      Inconsistent(nullptr, "a File entry with " + std::to_string(count - 1) + " secondary entries");
      at += kEntrySize;
      continue;
    }
    if (at + count * kEntrySize > data.size()) {
      Inconsistent(nullptr, "an entry set runs past the end of its folder");
      break;
    }
    ExfatNode node;
    const bool parsed = ParseFileSet(folder, e, count, &node);
    if (parsed && !NameReachable(node.name)) {
      // Left out of the tree (its clusters stay claimed); the volume stays read-only.
      Inconsistent(nullptr, "an entry in " + (isRoot ? std::string("the root folder") : "folder " +
                   nodes_[static_cast<std::size_t>(folder)].name) + " has a name no path can reach");
    } else if (parsed) {
      node.parent = folder;
      node.entryOffset = diskOffset(at);
      node.streamOffset = diskOffset(at + kEntrySize);
      const auto index = static_cast<std::int32_t>(nodes_.size());
      if (node.IsFolder() && node.firstCluster != 0) {
        if (depth + 1 > kMaxDepth) {
          Inconsistent(nullptr, "folders nested too deeply");
        } else {
          pending->emplace_back(index, depth + 1);
        }
      }
      nodes_[static_cast<std::size_t>(folder)].children.push_back(index);
      nodes_.push_back(std::move(node));
    }
    at += count * kEntrySize;
  }
}

bool ExfatVolume::ParseFileSet(std::int32_t folder, const std::uint8_t* set, std::size_t count, ExfatNode* node) {
  const std::string where = folder == kRoot ? std::string("the root folder") : "folder " + nodes_[folder].name;
  for (std::size_t i = 1; i < count; ++i) {
    if ((set[i * kEntrySize] & (kTypeInUse | kTypeSecondary)) != (kTypeInUse | kTypeSecondary)) {
      Inconsistent(nullptr, "an entry set in " + where + " is cut short");
      return false;
    }
  }
  if (SetChecksum(set, count) != Le16(set + kFileSetChecksum)) {
    Inconsistent(nullptr, "an entry set in " + where + " has a wrong checksum");
    return false;
  }
  const std::uint8_t* stream = set + kEntrySize;
  if (stream[0] != kTypeStream) {
    Inconsistent(nullptr, "an entry set in " + where + " has no Stream Extension");
    return false;
  }
  const std::size_t nameLength = stream[kStreamNameLength];
  const std::size_t nameEntries = (nameLength + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
  if (nameLength == 0 || count < 2 + nameEntries) {
    Inconsistent(nullptr, "an entry set in " + where + " has no complete name");
    return false;
  }
  for (std::size_t k = 0; k < nameEntries; ++k) {
    const std::uint8_t* n = set + (2 + k) * kEntrySize;
    if (n[0] != kTypeName) {
      Inconsistent(nullptr, "an entry set in " + where + " has no complete name");
      return false;
    }
    for (std::size_t u = 0; u < kNameUnitsPerEntry && node->wideName.size() < nameLength; ++u) {
      node->wideName += static_cast<char16_t>(Le16(n + 2 + 2 * u));
    }
  }
  if (!platform::NameFromUtf16(node->wideName, &node->name)) {
    const std::string path = folder == kRoot ? std::string("the root folder") : "folder " + FolderPath(folder);
    Inconsistent(nullptr, "a name in " + path + " is not valid UTF-16 (" + node->name + ")");
  } else if (!platform::PathSafeName(node->wideName)) {
    const std::string path = folder == kRoot ? std::string("the root folder") : "folder " + FolderPath(folder);
    Inconsistent(nullptr, "a name in " + path + " holds a character no path can carry");
  }
  if (haveUpcase_ && NameHash(node->wideName, upcase_) != Le16(stream + kStreamNameHash)) {
    Inconsistent(nullptr, "the name hash of " + node->name + " is wrong");
  }
  node->attributes = Le16(set + kFileAttributes);
  node->createTime = Le32(set + kFileCreate);
  node->modifyTime = Le32(set + kFileModify);
  node->accessTime = Le32(set + kFileAccess);
  node->create10ms = set[kFileCreate10ms];
  node->modify10ms = set[kFileModify10ms];
  node->flags = stream[kStreamFlags];
  node->firstCluster = Le32(stream + kStreamFirstCluster);
  node->dataLength = Le64(stream + kStreamDataLength);
  node->validDataLength = Le64(stream + kStreamValidDataLength);
  node->set.assign(set, set + count * kEntrySize);

  // Vendor entries are kept as they are; a vendor allocation's clusters are claimed.
  for (std::size_t k = 2 + nameEntries; k < count; ++k) {
    const std::uint8_t* v = set + k * kEntrySize;
    if (v[0] == kTypeVendorExtension) continue;
    if (v[0] != kTypeVendorAllocation) {
      Unknown(v[0]);
      continue;
    }
    const std::uint64_t length = Le64(v + kAllocDataLength);
    if ((v[1] & kAllocationPossible) != 0 && length != 0) {
      ClaimChain(Le32(v + kAllocFirstCluster), ClustersOf(length), (v[1] & kNoFatChain) != 0,
                 "a vendor allocation of " + node->name, nullptr);
    }
  }

  const std::string what = (node->IsFolder() ? "folder " : "file ") + node->name;
  if (node->validDataLength > node->dataLength) Inconsistent(nullptr, "the valid data length of " + what + " is too large");
  if ((node->flags & kAllocationPossible) == 0 || node->dataLength == 0) {
    if (node->firstCluster != 0 || node->dataLength != 0) Inconsistent(nullptr, what + " has clusters it may not have");
    node->firstCluster = 0;
    node->dataLength = 0;
    if (node->IsFolder()) Inconsistent(nullptr, what + " has no clusters");
    return true;
  }
  if (node->IsFolder() && (node->dataLength % layout_.bytesPerCluster != 0 || node->dataLength > kMaxFolderBytes)) {
    Inconsistent(nullptr, "the size of " + what + " is not a whole number of clusters");
    node->firstCluster = 0;
    return true;
  }
  if (node->IsFolder()) {
    for (std::int32_t at = folder; at >= 0; at = nodes_[static_cast<std::size_t>(at)].parent) {
      if (nodes_[static_cast<std::size_t>(at)].firstCluster != node->firstCluster) continue;
      // Reading it would lead back into its own path without end: the node stays (the
      // analysis lists it) as an empty folder.
      Inconsistent(&FatDamage::folderLoops, what + " leads back into its own path");
      node->firstCluster = 0;
      return true;
    }
  }
  if (!ClaimChain(node->firstCluster, ClustersOf(node->dataLength), node->NoFatChain(), what, nullptr)) {
    // Unusable: the node stays (analysis lists it) without clusters.
    node->firstCluster = 0;
  }
  return true;
}

void ExfatVolume::CheckBitmap(const std::vector<ClaimedRun>* recorded) {
  std::size_t run = 0;
  auto isRecorded = [&](std::uint32_t c) {
    if (recorded == nullptr) return false;
    while (run < recorded->size() && std::uint64_t{(*recorded)[run].first} + (*recorded)[run].count <= c) ++run;
    for (std::size_t r = run; r < recorded->size() && (*recorded)[r].first <= c; ++r) {
      if (c < std::uint64_t{(*recorded)[r].first} + (*recorded)[r].count) return true;
    }
    return false;
  };
  for (std::uint32_t c = 2; c - 2 < layout_.clusterCount; ++c) {
    bool used = Used(c);
    if (claimed_[c] == 0 && used && haveBitmap_ && isRecorded(c)) {
      // Claimed by an interrupted job of ours and owned by nothing: given back.
      SetBit(c, false);
      reclaimed_.push_back(c);
      used = false;
    }
    if (!used) ++freeClusters_;
    if (claimed_[c] != 0 && !used) {
      Inconsistent(nullptr, "cluster " + std::to_string(c) + " is in use but free in the allocation bitmap");
    } else if (claimed_[c] == 0 && used && haveBitmap_) {
      ++damage_.lostClusters;  // what an interrupted move leaves; harms no file
    }
  }
}

bool ExfatVolume::FinishReclaim() {
  if (!WriteBitmapBits(reclaimed_) || !io_->Flush()) return false;
  // VolumeDirty was the interrupted job's: cleared as that job would have.
  wasDirty_ = false;
  return SetDirty(false) && journal_->End();
}

std::string ExfatVolume::Key(std::int32_t folder, const std::u16string& name) const {
  // Every unit of the up-cased name, so names that differ anywhere have different keys.
  std::string key = std::to_string(folder) + '\\';
  for (char16_t c : name) {
    const char16_t u = upcase_.Upper(c);
    key += static_cast<char>(u & 0xFF);
    key += static_cast<char>(u >> 8);
  }
  return key;
}

void ExfatVolume::IndexNames() {
  names_.reserve(nodes_.size());
  for (std::size_t i = 1; i < nodes_.size(); ++i) {
    const ExfatNode& node = nodes_[i];
    if (!names_.emplace(Key(node.parent, node.wideName), static_cast<std::int32_t>(i)).second) {
      // A path could reach only one of them.
      const std::string where = node.parent == kRoot ? std::string("the root folder") : "folder " + FolderPath(node.parent);
      Inconsistent(nullptr, where + " holds two entries named " + node.name);
    }
  }
}

std::string ExfatVolume::FolderPath(std::int32_t folder) const {
  std::string path;
  for (std::int32_t at = folder; at > kRoot; at = nodes_[static_cast<std::size_t>(at)].parent) {
    path = "\\" + nodes_[static_cast<std::size_t>(at)].name + path;
  }
  return path.empty() ? std::string("\\") : path;
}

std::int32_t ExfatVolume::Find(const std::string& path) const {
  std::int32_t at = kRoot;
  for (const std::string& part : PathComponents(path)) {
    if (!nodes_[static_cast<std::size_t>(at)].IsFolder()) return -1;
    if (part == ".") continue;
    if (part == "..") {
      if (at != kRoot) at = nodes_[static_cast<std::size_t>(at)].parent;
      continue;
    }
    std::u16string wide;
    if (!platform::NameToUtf16(part, &wide)) return -1;
    const auto it = names_.find(Key(at, wide));
    if (it == names_.end()) return -1;
    at = it->second;
  }
  return at;
}

std::vector<std::uint32_t> ExfatVolume::Chain(std::int32_t index) const {
  std::vector<std::uint32_t> chain;
  const ExfatNode& node = nodes_[static_cast<std::size_t>(index)];
  if (node.firstCluster == 0) return chain;
  const std::uint64_t clusters = ClustersOf(node.dataLength);
  if (node.NoFatChain()) {
    for (std::uint64_t i = 0; i < clusters && layout_.IsCluster(static_cast<std::uint32_t>(node.firstCluster + i)); ++i) {
      chain.push_back(static_cast<std::uint32_t>(node.firstCluster + i));
    }
    return chain;
  }
  // The bound keeps a chain finite even on a volume that failed validation.
  std::uint32_t c = node.firstCluster;
  while (layout_.IsCluster(c) && chain.size() < clusters) {
    chain.push_back(c);
    c = fat_[c];
  }
  return chain;
}

const char* ExfatVolume::Unmovable(std::int32_t index) const {
  if (index == kRoot) return "the root folder's first cluster never moves";
  if (Straddles(nodes_[static_cast<std::size_t>(index)])) return "its directory entry spans two sectors";
  return nullptr;
}

bool ExfatVolume::Straddles(const ExfatNode& node) const {
  const std::uint64_t bps = layout_.bytesPerSector;
  return node.streamOffset != node.entryOffset + kEntrySize || node.entryOffset / bps != (node.streamOffset + kEntrySize - 1) / bps;
}

}  // namespace platform::exfat
