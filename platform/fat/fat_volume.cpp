// Opening a FAT volume: boot sector, FAT, and a bounded walk of the folder tree.
//
// The walk keeps one state byte per cluster: kFree (not yet claimed), kOwned (claimed
// by a file or folder), and, for the pass over clusters no entry owns, kWalking and
// kLost. A chain that reaches a cluster already owned is a loop, a cross-link or a
// folder cycle; the volume is then marked inconsistent and the chain is not followed
// further, so the walk ends whatever the image holds. Folders are visited from an
// explicit list with their depth, never by recursion.
#include "fat_volume.h"

#include <algorithm>

#include "le.h"
#include "platform/name_text.h"
#include "platform/path_parts.h"

namespace platform::fat {
namespace {

constexpr std::uint8_t kFree = 0;
constexpr std::uint8_t kOwned = 1;
constexpr std::uint8_t kWalking = 2;
constexpr std::uint8_t kLost = 3;

// Deeper folders cannot be reached through a Windows path (260 characters).
constexpr int kMaxDepth = 128;

constexpr std::int64_t kAnyLength = -1;

constexpr std::uint32_t kFsInfoLead = 0x41615252;
constexpr std::uint32_t kFsInfoStruct = 0x61417272;
constexpr std::uint32_t kFsInfoTrail = 0xAA550000;

}  // namespace

FatVolume::~FatVolume() { (void)FinishChanges(); }

std::unique_ptr<FatVolume> FatVolume::Open(std::unique_ptr<FatIo> io, FatOpenStatus* status, FatDamage* damage,
                                           const ClaimOptions* claims, ReclaimResult* reclaimed) {
  std::unique_ptr<FatVolume> volume(new FatVolume());
  volume->io_ = std::move(io);
  // The record is named once the boot sector's serial number is known (Load).
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
  if (!FatOpened(loaded)) return nullptr;
  return volume;
}

void FatVolume::Inconsistent(std::uint32_t FatDamage::*kind, const std::string& why) {
  if (!inconsistent_) problem_ = why;
  inconsistent_ = true;
  if (kind != nullptr) {
    ++(damage_.*kind);
  } else if (damage_.otherProblems++ == 0) {
    damage_.firstOther = why;
  }
}

bool FatVolume::InChain(std::uint32_t first, std::int64_t length, std::uint32_t cluster) const {
  std::uint32_t c = first;
  for (std::int64_t i = 0; i < length; ++i, c = fat_->Get(c)) {
    if (c == cluster) return true;
  }
  return false;
}

FatOpenStatus FatVolume::Load() {
  if (io_->Size() < kBootSectorSize) return FatOpenStatus::kBadBootSector;
  std::uint8_t boot[kBootSectorSize];
  if (!io_->Read(0, boot, sizeof boot)) return FatOpenStatus::kReadError;
  const BootSector decoded = DecodeBootSector(boot);
  volumeId_ = decoded.volumeId;
  FatOpenStatus status = ComputeLayout(decoded, io_->Size(), &layout_);
  if (!FatOpened(status)) return status;
  const FatLayout& l = layout_;

  if (l.fsInfoOffset != 0) {
    std::uint8_t info[512];
    if (!io_->Read(l.fsInfoOffset, info, sizeof info) || Le32(info) != kFsInfoLead ||
        Le32(info + 484) != kFsInfoStruct || Le32(info + 508) != kFsInfoTrail) {
      layout_.fsInfoOffset = 0;  // no usable FSInfo: nothing to keep up to date
    }
  }

  // Only the bytes that hold entries of existing clusters are read.
  const std::uint32_t bits = l.type == FatType::kFat12 ? 12 : l.type == FatType::kFat16 ? 16 : 32;
  const std::uint64_t used = ((std::uint64_t{l.clusterCount} + 2) * bits + 7) / 8;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(used + 4), 0);
  if (!io_->Read(l.FatCopyOffset(l.firstFat), bytes.data(), static_cast<std::size_t>(used))) {
    return FatOpenStatus::kReadError;
  }
  bytes.resize(static_cast<std::size_t>(used));
  fat_ = std::make_unique<FatTable>(l.type, l.clusterCount, std::move(bytes));

  // Linux marks any FAT type dirty in the boot sector; Windows marks FAT16/32 in FAT[1],
  // where a second bit records disk errors.
  wasDirty_ = (boot[l.stateOffset] & 1) != 0;
  if (l.type != FatType::kFat12) {
    const std::uint32_t cleanBit = l.type == FatType::kFat16 ? 0x8000 : 0x08000000;
    const std::uint32_t noErrorBit = l.type == FatType::kFat16 ? 0x4000 : 0x04000000;
    wasDirty_ = wasDirty_ || (fat_->Get(1) & cleanBit) == 0;
    hardErrors_ = (fat_->Get(1) & noErrorBit) == 0;
  }
  if (!claims_.folder.empty()) {
    journal_ = std::make_unique<ClaimJournal>(claims_.folder, VolumeIdentity(claims_.identityPath, volumeId_, io_->Size()));
    interrupted_ = journal_->Exists();
  }

  if (!CheckMirrors()) return FatOpenStatus::kReadError;
  // An entry that points outside the data area is found by the walk of the chain that
  // holds it: a file's or folder's, or a lost one.
  for (std::uint32_t c = 2; c <= l.clusterCount + 1; ++c) {
    if (fat_->Get(c) == 0) ++freeClusters_;
  }
  state_.assign(std::size_t{l.clusterCount} + 2, kFree);
  if (!WalkTree()) return FatOpenStatus::kReadError;
  const bool reclaiming = interrupted_ && claims_.reclaim && io_->Writable() && !hardErrors_;
  if (reclaiming) FreeRecordedClusters(journal_->Runs());
  CheckLostChains();
  state_.clear();
  state_.shrink_to_fit();
  IndexNames();

  // Copies that differ after a job of ours was interrupted are its unfinished mirror
  // writes: the copy in use is written first, so it is the one to keep.
  if (mirrorsDiffer_ && !reclaiming) Inconsistent(&FatDamage::differingFatCopies, "FAT copies differ");
  if (inconsistent_) {
    status = FatOpenStatus::kReadOnlyInconsistent;
  } else if (status == FatOpenStatus::kOk && hardErrors_) {
    status = FatOpenStatus::kReadOnlyHardErrors;
  } else if (status == FatOpenStatus::kOk && wasDirty_ && !interrupted_) {
    status = FatOpenStatus::kReadOnlyDirty;
  } else if (status == FatOpenStatus::kOk && !io_->Writable()) {
    status = FatOpenStatus::kReadOnlyNoWriteAccess;
  }
  readOnly_ = status != FatOpenStatus::kOk;
  if (reclaiming && !readOnly_ && !FinishReclaim()) {
    readOnly_ = true;
    return FatOpenStatus::kReadError;
  }
  return status;
}

bool FatVolume::CheckMirrors() {
  if (!layout_.mirrored) return true;
  const auto& mine = fat_->Bytes();
  constexpr std::size_t kChunk = 1 << 20;
  std::vector<std::uint8_t> other(std::min(kChunk, mine.size()));
  for (std::uint32_t copy = 0; copy < layout_.fatCount; ++copy) {
    if (copy == layout_.firstFat) continue;
    for (std::size_t at = 0; at < mine.size(); at += kChunk) {
      const std::size_t n = std::min(kChunk, mine.size() - at);
      if (!io_->Read(layout_.FatCopyOffset(copy) + at, other.data(), n)) return false;
      if (!std::equal(other.begin(), other.begin() + static_cast<std::ptrdiff_t>(n),
                      mine.begin() + static_cast<std::ptrdiff_t>(at))) {
        mirrorsDiffer_ = true;  // judged once the claim record is known (Load)
        break;
      }
    }
  }
  return true;
}

bool FatVolume::ClaimChain(std::uint32_t first, std::int64_t expected, std::vector<std::uint32_t>* chain) {
  std::int64_t length = 0;
  std::uint32_t c = first;
  while (true) {
    if (!fat_->IsLink(c)) {
      Inconsistent(&FatDamage::brokenChains, "chain from cluster " + std::to_string(first) + " leaves the volume");
      return false;
    }
    if (state_[c] != kFree) {
      const bool loop = InChain(first, length, c);
      Inconsistent(loop ? &FatDamage::brokenChains : &FatDamage::crossLinks,
                   "cluster " + std::to_string(c) + " is claimed twice (" +
                       (loop ? "the chain loops" : "cross-link or folder cycle") + ")");
      return false;
    }
    state_[c] = kOwned;
    if (chain != nullptr) chain->push_back(c);
    ++length;
    const std::uint32_t v = fat_->Get(c);
    if (fat_->IsEnd(v)) break;
    if (!fat_->IsLink(v)) {
      // A free cluster in a file's chain ends it before its size: the chain is short,
      // not looped.
      if (v == 0 && expected != kAnyLength) {
        Inconsistent(&FatDamage::shortChains, "chain from cluster " + std::to_string(first) +
                                                  " is shorter than the file's size (cluster " + std::to_string(c) +
                                                  " is free)");
      } else {
        Inconsistent(&FatDamage::brokenChains,
                     "chain from cluster " + std::to_string(first) + " is broken at " + std::to_string(c));
      }
      return false;
    }
    c = v;
  }
  if (expected != kAnyLength && length < expected) {
    Inconsistent(&FatDamage::shortChains, "chain from cluster " + std::to_string(first) + " has " +
                                              std::to_string(length) + " clusters; the file's size needs " +
                                              std::to_string(expected));
    return false;
  }
  if (expected != kAnyLength && length != expected) {
    Inconsistent(nullptr, "chain from cluster " + std::to_string(first) + " is longer than the file's size");
    return false;
  }
  return true;
}

bool FatVolume::WalkTree() {
  FatNode root;
  root.entry.attributes = kAttrDirectory;
  root.firstCluster = layout_.rootCluster;
  nodes_.push_back(root);

  std::vector<std::pair<std::int32_t, int>> pending;  // folder node, depth
  if (layout_.type != FatType::kFat32) {
    const std::size_t size = std::size_t{layout_.rootEntries} * kDirEntrySize;
    std::vector<std::uint8_t> data(size);
    if (!io_->Read(layout_.rootOffset, data.data(), size)) return false;
    LongNameCollector names;
    bool ended = false;
    if (!ParseEntries(kRoot, data.data(), size, layout_.rootOffset, 0, &names, &ended, &pending)) return false;
  } else {
    std::vector<std::uint32_t> chain;
    if (ClaimChain(layout_.rootCluster, kAnyLength, &chain) &&
        !ReadFolder(kRoot, chain, 0, &pending)) {
      return false;
    }
  }
  while (!pending.empty()) {
    const auto [folder, depth] = pending.back();
    pending.pop_back();
    std::vector<std::uint32_t> chain;
    if (nodes_[static_cast<std::size_t>(folder)].firstCluster == 0) {
      Inconsistent(nullptr, "folder " + nodes_[static_cast<std::size_t>(folder)].name + " has no clusters");
      continue;
    }
    if (LeadsBackIntoItsPath(folder)) {
      // The entry stays (the analysis lists it) as an empty folder; its clusters are its ancestor's.
      Inconsistent(&FatDamage::folderLoops,
                   "folder " + nodes_[static_cast<std::size_t>(folder)].name + " leads back into its own path");
      continue;
    }
    if (!ClaimChain(nodes_[static_cast<std::size_t>(folder)].firstCluster, kAnyLength, &chain)) {
      continue;
    }
    if (!ReadFolder(folder, chain, depth, &pending)) return false;
  }
  return true;
}

bool FatVolume::LeadsBackIntoItsPath(std::int32_t index) const {
  const std::uint32_t first = nodes_[static_cast<std::size_t>(index)].firstCluster;
  for (std::int32_t at = nodes_[static_cast<std::size_t>(index)].parent; at != kRoot;
       at = nodes_[static_cast<std::size_t>(at)].parent) {
    if (nodes_[static_cast<std::size_t>(at)].firstCluster == first) return true;
  }
  // The FAT12 and FAT16 root has no cluster; 0 is caught as a folder without clusters.
  return layout_.type == FatType::kFat32 && first == layout_.rootCluster;
}

bool FatVolume::ReadFolder(std::int32_t folder, const std::vector<std::uint32_t>& chain, int depth,
                           std::vector<std::pair<std::int32_t, int>>* pending) {
  std::vector<std::uint8_t> data(layout_.bytesPerCluster);
  LongNameCollector names;
  bool ended = false;
  for (std::uint32_t cluster : chain) {
    const std::uint64_t offset = layout_.ClusterOffset(cluster);
    if (!io_->Read(offset, data.data(), data.size())) return false;
    if (!ParseEntries(folder, data.data(), data.size(), offset, depth, &names, &ended, pending)) return false;
    if (ended) break;
  }
  return true;
}

bool FatVolume::ParseEntries(std::int32_t folder, const std::uint8_t* data, std::size_t size,
                             std::uint64_t diskOffset, int depth, LongNameCollector* names, bool* ended,
                             std::vector<std::pair<std::int32_t, int>>* pending) {
  const bool isRoot = folder == kRoot;
  for (std::size_t at = 0; at + kDirEntrySize <= size; at += kDirEntrySize) {
    const std::uint8_t* raw = data + at;
    if (raw[0] == kEntryEnd) {
      *ended = true;
      return true;
    }
    if (raw[0] == kEntryDeleted) {
      names->Reset();
      continue;
    }
    if ((raw[11] & 0x3F) == kAttrLongName) {
      names->Add(raw);
      continue;
    }
    const DirEntry entry = DecodeDirEntry(raw);
    if ((entry.attributes & kAttrVolumeLabel) != 0) {
      names->Reset();
      if (isRoot && label_.empty()) {
        std::string oem(reinterpret_cast<const char*>(entry.name), 11);
        while (!oem.empty() && oem.back() == ' ') oem.pop_back();
        label_ = NameFromOem(oem);
      }
      continue;
    }
    FatNode node;
    node.entry = entry;
    node.parent = folder;
    node.entryOffset = diskOffset + at;
    node.firstCluster = entry.clusterLow;
    if (layout_.type == FatType::kFat32) node.firstCluster |= std::uint32_t{entry.clusterHigh} << 16;
    node.shortName = ShortNameText(entry);
    const bool dotEntry = entry.name[0] == '.';
    if (dotEntry) {
      names->Reset();
      const bool self = node.shortName == ".";
      const bool up = node.shortName == "..";
      if (isRoot || (!self && !up) || !node.IsFolder()) {
        Inconsistent(nullptr, "misplaced dot entry");
        continue;
      }
      const FatNode& me = nodes_[static_cast<std::size_t>(folder)];
      const std::uint32_t parentCluster =
          me.parent == kRoot ? 0 : nodes_[static_cast<std::size_t>(me.parent)].firstCluster;
      const std::uint32_t want = self ? me.firstCluster : parentCluster;
      // ".." of a folder in the FAT32 root may name the root cluster instead of 0.
      if (node.firstCluster != want && !(up && me.parent == kRoot && node.firstCluster == layout_.rootCluster)) {
        Inconsistent(nullptr, "dot entry of " + me.name + " points elsewhere");
      }
      node.dot = true;
      node.name = node.shortName;
      nodes_[static_cast<std::size_t>(folder)].children.push_back(static_cast<std::int32_t>(nodes_.size()));
      nodes_.push_back(std::move(node));
      continue;
    }
    std::u16string longName;
    if (names->Take(entry.name, &longName)) {
      if (!NameFromUtf16(longName, &node.name)) {
        Inconsistent(nullptr, "a long name in folder " + FolderPath(folder) + " is not valid UTF-16 (" + node.name + ")");
      } else if (!PathSafeName(longName)) {
        Inconsistent(nullptr, "a long name in folder " + FolderPath(folder) + " holds a character no path can carry");
      }
      node.hasLongName = true;
    } else {
      node.name = node.shortName;
    }
    if (!NameReachable(node.name)) {
      // Left out of the tree: its clusters count as lost, and the volume stays read-only.
      Inconsistent(nullptr, "an entry in " + (isRoot ? std::string("the root folder") : "folder " +
                   nodes_[static_cast<std::size_t>(folder)].name) + " has a name no path can reach");
      continue;
    }
    const auto index = static_cast<std::int32_t>(nodes_.size());
    if (node.IsFolder()) {
      if (depth + 1 > kMaxDepth) {
        Inconsistent(nullptr, "folders nested too deeply");
      } else {
        pending->emplace_back(index, depth + 1);
      }
    } else {
      const std::uint64_t clusters = (std::uint64_t{entry.size} + layout_.bytesPerCluster - 1) / layout_.bytesPerCluster;
      if (node.firstCluster == 0) {
        if (clusters != 0) Inconsistent(nullptr, "file " + node.name + " has a size but no clusters");
      } else if (clusters == 0) {
        Inconsistent(nullptr, "file " + node.name + " has clusters but no size");
      } else {
        ClaimChain(node.firstCluster, static_cast<std::int64_t>(clusters), nullptr);
      }
    }
    nodes_[static_cast<std::size_t>(folder)].children.push_back(index);
    nodes_.push_back(std::move(node));
  }
  return true;
}

void FatVolume::CheckLostChains() {
  const std::uint32_t last = layout_.clusterCount + 1;
  for (std::uint32_t c = 2; c <= last; ++c) {
    const std::uint32_t v = fat_->Get(c);
    if (state_[c] != kFree || v == 0 || fat_->IsBad(v)) continue;
    // Walk the lost chain from c until it ends, or runs into a cluster that is owned,
    // walked just now (a loop), lost already (joins a chain found before) or free.
    // Lost clusters alone are counted but leave the volume writable: an interrupted
    // move leaves them, and they harm no file.
    std::uint32_t x = c;
    while (true) {
      state_[x] = kWalking;
      const std::uint32_t next = fat_->Get(x);
      if (!fat_->IsLink(next)) {
        if (!fat_->IsEnd(next)) {
          Inconsistent(&FatDamage::brokenChains, "lost chain at cluster " + std::to_string(c) + " leaves the volume");
        }
        break;
      }
      if (state_[next] == kOwned) {
        Inconsistent(&FatDamage::crossLinks, "lost chain at cluster " + std::to_string(c) + " runs into a file");
        break;
      }
      if (state_[next] == kWalking) {
        Inconsistent(&FatDamage::brokenChains, "loop in lost chain at cluster " + std::to_string(c));
        break;
      }
      if (state_[next] == kLost) break;
      if (fat_->Get(next) == 0) {
        Inconsistent(&FatDamage::brokenChains,
                     "lost chain at cluster " + std::to_string(c) + " runs into a free cluster");
        break;
      }
      x = next;
    }
    for (x = c; state_[x] == kWalking;) {
      state_[x] = kLost;
      ++damage_.lostClusters;
      const std::uint32_t next = fat_->Get(x);
      if (!fat_->IsLink(next)) break;
      x = next;
    }
  }
}

std::string FatVolume::FolderPath(std::int32_t folder) const {
  if (folder == kRoot) return "\\";
  std::string path;
  for (std::int32_t at = folder; at > kRoot; at = nodes_[static_cast<std::size_t>(at)].parent) {
    path = "\\" + nodes_[static_cast<std::size_t>(at)].name + path;
  }
  return path;
}

void FatVolume::FreeRecordedClusters(const std::vector<ClaimedRun>& runs) {
  const std::uint32_t last = layout_.clusterCount + 1;
  auto lost = [&](std::uint32_t c) { return c >= 2 && c <= last && state_[c] == kFree && fat_->Get(c) != 0; };
  std::vector<std::uint8_t> freeing(std::size_t{last} + 1, 0);
  std::vector<std::uint32_t> work;
  for (const ClaimedRun& run : runs) {
    for (std::uint64_t c = run.first; c < std::uint64_t{run.first} + run.count && c <= last; ++c) {
      const auto x = static_cast<std::uint32_t>(c);
      if (lost(x) && !freeing[x]) {
        freeing[x] = 1;
        work.push_back(x);
      }
    }
  }
  if (work.empty()) return;
  // A lost cluster that leads into a freed one is freed too: no chain may be left
  // running into a free cluster.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> into;  // (next, lost cluster that links to it)
  for (std::uint32_t c = 2; c <= last; ++c) {
    const std::uint32_t next = fat_->Get(c);
    if (lost(c) && fat_->IsLink(next) && next <= last) into.emplace_back(next, c);
  }
  std::sort(into.begin(), into.end());
  while (!work.empty()) {
    const std::uint32_t c = work.back();
    work.pop_back();
    reclaimed_.push_back(c);
    auto it = std::lower_bound(into.begin(), into.end(), std::make_pair(c, std::uint32_t{0}));
    for (; it != into.end() && it->first == c; ++it) {
      if (!freeing[it->second]) {
        freeing[it->second] = 1;
        work.push_back(it->second);
      }
    }
  }
  for (std::uint32_t c : reclaimed_) fat_->Set(c, 0);
  freeClusters_ += static_cast<std::uint32_t>(reclaimed_.size());
}

bool FatVolume::FinishReclaim() {
  written_ = std::make_unique<FatTable>(*fat_);
  // Every copy gets the whole FAT in use: the frees, and the mirror writes the
  // interrupted job never made.
  const auto& bytes = fat_->Bytes();
  for (std::uint32_t copy = 0; copy < layout_.fatCount; ++copy) {
    if (copy != layout_.firstFat && !layout_.mirrored) continue;
    if (!io_->Write(layout_.FatCopyOffset(copy), bytes.data(), bytes.size())) return false;
  }
  if (!io_->Flush()) return false;
  // The dirty mark was the interrupted job's: cleared as that job would have.
  wasDirty_ = false;
  if (!WriteStateMarks(true)) return false;
  return journal_->End();
}

void FatVolume::IndexNames() {
  names_.reserve(nodes_.size() * 2);
  for (std::size_t i = 1; i < nodes_.size(); ++i) {
    const FatNode& n = nodes_[i];
    if (!n.dot) names_.push_back({FoldedNameHash(n.parent, n.name), static_cast<std::int32_t>(i), false});
  }
  // Short names after all long names, so a long name is never hidden by another
  // entry's alias.
  for (std::size_t i = 1; i < nodes_.size(); ++i) {
    const FatNode& n = nodes_[i];
    if (!n.dot && n.hasLongName) names_.push_back({FoldedNameHash(n.parent, n.shortName), static_cast<std::int32_t>(i), true});
  }
  // Stable, so among equal names the first one indexed is found first.
  std::stable_sort(names_.begin(), names_.end(), [](const NameSlot& a, const NameSlot& b) { return a.key < b.key; });
  // Two entries of one folder that are the same name in any case would let a path
  // reach only the first: the volume is not served as it is.
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (names_[i].shortName) continue;
    const FatNode& a = nodes_[static_cast<std::size_t>(names_[i].node)];
    for (std::size_t j = i + 1; j < names_.size() && names_[j].key == names_[i].key; ++j) {
      const FatNode& b = nodes_[static_cast<std::size_t>(names_[j].node)];
      if (!names_[j].shortName && b.parent == a.parent && SameName(a.name, b.name)) {
        Inconsistent(nullptr, "folder " + FolderPath(a.parent) + " holds two entries named " + a.name);
      }
    }
  }
}

void FatVolume::AddNode(FatNode node) {
  const auto index = static_cast<std::int32_t>(nodes_.size());
  const std::int32_t parent = node.parent;
  // After every slot of an equal key: a name found before keeps being found first.
  auto add = [&](const std::string& name, bool shortName) {
    const std::uint64_t key = FoldedNameHash(parent, name);
    const auto at = std::upper_bound(names_.begin(), names_.end(), key,
                                     [](std::uint64_t k, const NameSlot& slot) { return k < slot.key; });
    names_.insert(at, NameSlot{key, index, shortName});
  };
  add(node.name, false);
  if (node.hasLongName) add(node.shortName, true);
  nodes_[static_cast<std::size_t>(parent)].children.push_back(index);
  nodes_.push_back(std::move(node));
}

std::int32_t FatVolume::Find(const std::string& path) const {
  std::int32_t at = kRoot;
  for (const std::string& part : PathComponents(path)) {
    const FatNode& folder = nodes_[static_cast<std::size_t>(at)];
    if (!folder.IsFolder()) return -1;
    if (part == ".") continue;
    if (part == "..") {
      if (at != kRoot) at = folder.parent;
      continue;
    }
    const std::uint64_t key = FoldedNameHash(at, part);
    auto it = std::lower_bound(names_.begin(), names_.end(), key,
                               [](const NameSlot& slot, std::uint64_t k) { return slot.key < k; });
    std::int32_t found = -1;
    for (; it != names_.end() && it->key == key && found < 0; ++it) {
      const FatNode& n = nodes_[static_cast<std::size_t>(it->node)];
      if (n.parent == at && SameName(it->shortName ? n.shortName : n.name, part)) found = it->node;
    }
    if (found < 0) return -1;
    at = found;
  }
  return at;
}

std::uint64_t FatVolume::DistinctClusters(std::uint32_t first) const {
  // Brent's cycle finding, in constant memory: `length` is the loop's length once the
  // hare meets the tortoise; then two walkers `length` apart meet at the loop's start.
  const auto next = [&](std::uint32_t c) { return fat_->Get(c); };
  if (!fat_->IsLink(first)) return 0;
  std::uint32_t tortoise = first;
  std::uint32_t hare = next(first);
  std::uint64_t power = 1;
  std::uint64_t length = 1;
  std::uint64_t steps = 1;
  while (tortoise != hare) {
    if (!fat_->IsLink(hare)) return steps;  // the chain ends: no loop
    if (power == length) {
      tortoise = hare;
      power *= 2;
      length = 0;
    }
    hare = next(hare);
    ++length;
    ++steps;
  }
  std::uint32_t behind = first;
  std::uint32_t ahead = first;
  for (std::uint64_t i = 0; i < length; ++i) ahead = next(ahead);
  std::uint64_t start = 0;
  while (behind != ahead) {
    behind = next(behind);
    ahead = next(ahead);
    ++start;
  }
  return start + length;
}

std::vector<std::uint32_t> FatVolume::Chain(std::int32_t index) const {
  std::vector<std::uint32_t> chain;
  const FatNode& node = nodes_[static_cast<std::size_t>(index)];
  std::uint32_t c = node.firstCluster;
  // The bound keeps a chain finite even on a volume that failed validation: a file has
  // no more clusters than its size needs, a folder no more than the volume.
  std::uint64_t limit =
      node.IsFolder() ? layout_.clusterCount
                      : (std::uint64_t{node.entry.size} + layout_.bytesPerCluster - 1) / layout_.bytesPerCluster;
  // On a damaged volume a chain may loop back on itself: it ends before its first
  // cluster met a second time, however large the size its entry claims.
  if (damage_.brokenChains != 0) limit = std::min(limit, DistinctClusters(c));
  while (fat_->IsLink(c) && chain.size() < limit) {
    chain.push_back(c);
    const std::uint32_t v = fat_->Get(c);
    if (!fat_->IsLink(v)) break;
    c = v;
  }
  return chain;
}

}  // namespace platform::fat
