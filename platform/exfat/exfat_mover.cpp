// Moving clusters of an exFAT file or folder to free runs, in groups that survive a
// crash at any write, with any of the writes since the last flush lost.
//
// The moves of one file form a group, committed together, in the order the FAT
// provider follows. In memory each move takes effect at once (Chain and Used see the
// file as the earlier moves left it), and its data is copied to the target at once,
// whole clusters, so the bytes past ValidDataLength travel too. The bitmap, the FAT and
// the entry set reach the disk when the group is committed, through three barriers:
//   1. claims and links: the bitmap bits of every cluster the file gained, and the FAT
//      entries of those clusters with their final links, so each new run is a valid
//      chain whether the file ends up NoFatChain or not; a NoFatChain file that ends up
//      in pieces gets its whole final chain written (ignored while the flag is set).
//      Flush: claims, data and links are durable together.
//   2. commit; flush. A NoFatChain file, or one whose first cluster or flags change:
//      the one sector holding its File and Stream Extension entries (new first cluster
//      and GeneralSecondaryFlags, recomputed SetChecksum), one write. A FAT-chained file
//      moved from its second cluster on: the FAT entries of kept clusters that now
//      point into a new run. A file that ends in one run becomes NoFatChain in the same
//      barrier; its FAT links ride along and are right either way.
//   3. frees: the bits and FAT entries of the clusters the file left are cleared,
//      without a flush of their own (the next group's first flush, or the job's last).
// Why any crash leaves every file readable: nothing durable points into a new cluster
// until barrier 2, and after barrier 1 every new cluster holds its data and its final
// link. A crash in barrier 2 keeps any subset of its writes: the entry write switches
// the file at once; FAT links, as on FAT, lead from an old cluster into a new run
// whose links lead back to the next kept cluster at the same position, so every
// position reads from a cluster that holds its bytes. Old clusters are cleared only
// after the commit is durable. A crash leaves at worst lost clusters (bits set that
// nothing owns) and VolumeDirty set.
//
// A group ends at a move of another node or onto clusters it vacated, and when the
// provider commits it (file handle closed, bitmap read, end of the job). VolumeDirty is
// set once at the job's first move (with a flush) and cleared once by FinishChanges.
// A file whose File and Stream Extension entries lie in different sectors has no
// single-sector commit and is never moved. Any failed write or flush ends the group and
// leaves the volume read-only for the rest of the session; before barrier 2 the memory
// is rolled back to what the disk holds.
#include <algorithm>

#include "../fat/le.h"
#include "exfat_volume.h"
#include "platform/win_types.h"

namespace platform::exfat {

using platform::fat::PutLe16;
using platform::fat::PutLe32;

namespace {

// Data is copied through a buffer of at least this many bytes.
constexpr std::size_t kCopyBytes = 4u << 20;

// Bitmap bytes closer than this are written with one request (the bytes between hold
// what the disk holds, or claims of the same barrier).
constexpr std::uint64_t kBitmapMergeGap = 512;

struct Span {
  std::uint64_t first;
  std::uint64_t end;
};

// Sorted byte spans, merged where at most `gap` bytes lie between.
std::vector<Span> Merge(std::vector<Span> spans, std::uint64_t gap) {
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
  std::vector<Span> out;
  for (const Span& s : spans) {
    if (!out.empty() && s.first <= out.back().end + gap) {
      out.back().end = std::max(out.back().end, s.end);
    } else {
      out.push_back(s);
    }
  }
  return out;
}

}  // namespace

bool ExfatVolume::WriteFatEntries(std::vector<std::uint32_t> clusters) {
  std::vector<Span> spans;
  for (std::uint32_t c : clusters) spans.push_back({std::uint64_t{c} * 4, std::uint64_t{c} * 4 + 4});
  std::vector<std::uint8_t> bytes;
  // Only adjacent entries share a request: an entry between them may hold an in-memory
  // value whose barrier has not come.
  for (const Span& s : Merge(std::move(spans), 0)) {
    bytes.resize(static_cast<std::size_t>(s.end - s.first));
    for (std::uint64_t at = s.first; at < s.end; at += 4) {
      PutLe32(bytes.data() + (at - s.first), fat_[static_cast<std::size_t>(at / 4)]);
    }
    if (!io_->Write(layout_.fatOffset + s.first, bytes.data(), bytes.size())) return false;
  }
  return true;
}

bool ExfatVolume::WriteBitmapBits(std::vector<std::uint32_t> clusters) {
  // Bitmap bytes never straddle a cluster of the bitmap, so each span is cut at cluster
  // boundaries and written where that cluster lies.
  const std::uint64_t bpc = layout_.bytesPerCluster;
  std::vector<Span> spans;
  for (std::uint32_t c : clusters) {
    const std::uint64_t byte = (c - 2) / 8;
    spans.push_back({byte, byte + 1});
  }
  for (const Span& s : Merge(std::move(spans), kBitmapMergeGap)) {
    for (std::uint64_t at = s.first; at < s.end;) {
      const std::uint64_t end = std::min(s.end, (at / bpc + 1) * bpc);
      const std::uint64_t disk = layout_.ClusterOffset(bitmapChain_[static_cast<std::size_t>(at / bpc)]) + at % bpc;
      if (!io_->Write(disk, bitmap_.data() + at, static_cast<std::size_t>(end - at))) return false;
      at = end;
    }
  }
  return true;
}

bool ExfatVolume::SetDirty(bool dirty) {
  // The record exists, durably, before the volume can be marked dirty by us.
  if (dirty && journal_ != nullptr && !journal_->Begin()) return false;
  if (wasDirty_) return io_->Flush();  // dirty before we came: left for fsck to clear
  std::uint8_t flags[2];
  if (!io_->Read(kVolumeFlagsOffset, flags, sizeof flags)) return false;
  if (dirty) {
    flags[0] = static_cast<std::uint8_t>(flags[0] | kFlagVolumeDirty);
  } else {
    flags[0] = static_cast<std::uint8_t>(flags[0] & ~kFlagVolumeDirty);
  }
  return io_->Write(kVolumeFlagsOffset, flags, sizeof flags) && io_->Flush();
}

bool ExfatVolume::CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to) {
  const std::size_t bpc = layout_.bytesPerCluster;
  const std::size_t perBuffer = std::max<std::size_t>(1, kCopyBytes / bpc);
  std::vector<std::uint8_t> buffer(std::min(perBuffer, from.size()) * bpc);
  std::size_t done = 0;
  while (done < from.size()) {
    const std::size_t take = std::min(perBuffer, from.size() - done);
    for (std::size_t i = 0; i < take;) {
      std::size_t run = 1;
      while (i + run < take && from[done + i + run] == from[done + i] + run) ++run;
      if (!io_->Read(layout_.ClusterOffset(from[done + i]), buffer.data() + i * bpc, run * bpc)) return false;
      i += run;
    }
    const auto target = static_cast<std::uint32_t>(to + done);
    if (!io_->Write(layout_.ClusterOffset(target), buffer.data(), take * bpc)) return false;
    done += take;
  }
  return true;
}

bool ExfatVolume::WriteEntrySet(ExfatNode& node, std::uint32_t firstCluster, std::uint8_t flags) {
  std::vector<std::uint8_t> set = node.set;
  std::uint8_t* stream = set.data() + kEntrySize;
  stream[kStreamFlags] = flags;
  PutLe32(stream + kStreamFirstCluster, firstCluster);
  PutLe16(set.data() + kFileSetChecksum, SetChecksum(set.data(), set.size() / kEntrySize));
  // The File and Stream Extension entries, one sector: the only bytes that changed.
  if (!io_->Write(node.entryOffset, set.data(), 2 * kEntrySize)) return false;
  node.set = std::move(set);
  node.firstCluster = firstCluster;
  node.flags = flags;
  return true;
}

bool ExfatVolume::TargetFreeOnDisk(std::uint32_t first, std::uint32_t count) {
  const std::uint64_t bpc = layout_.bytesPerCluster;
  const std::uint64_t from = (first - 2) / 8;
  const std::uint64_t to = (first - 2 + count - 1) / 8 + 1;
  std::vector<std::uint8_t> disk;
  for (std::uint64_t at = from; at < to;) {
    const std::uint64_t end = std::min(to, (at / bpc + 1) * bpc);
    disk.resize(static_cast<std::size_t>(end - at));
    const std::uint64_t offset = layout_.ClusterOffset(bitmapChain_[static_cast<std::size_t>(at / bpc)]) + at % bpc;
    if (!io_->Read(offset, disk.data(), disk.size())) return false;
    // Only the target's own bits: their neighbours may hold claims of the open group.
    for (std::uint64_t byte = at; byte < end; ++byte) {
      for (std::uint32_t bit = 0; bit < 8; ++bit) {
        const std::uint64_t c = byte * 8 + bit + 2;
        if (c >= first && c < std::uint64_t{first} + count && ((disk[byte - at] >> bit) & 1) != 0) return false;
      }
    }
    at = end;
  }
  return true;
}

void ExfatVolume::Relocated(std::int32_t folder, const std::vector<std::uint32_t>& from, std::uint32_t to) {
  // The folder's entries moved with its clusters: so did the children's entry offsets.
  const std::uint64_t bpc = layout_.bytesPerCluster;
  for (std::int32_t child : nodes_[static_cast<std::size_t>(folder)].children) {
    ExfatNode& n = nodes_[static_cast<std::size_t>(child)];
    for (std::size_t i = 0; i < from.size(); ++i) {
      const std::uint64_t start = layout_.ClusterOffset(from[i]);
      const std::uint64_t moved = layout_.ClusterOffset(static_cast<std::uint32_t>(to + i));
      if (n.entryOffset >= start && n.entryOffset < start + bpc) n.entryOffset = moved + (n.entryOffset - start);
      if (n.streamOffset >= start && n.streamOffset < start + bpc) n.streamOffset = moved + (n.streamOffset - start);
    }
  }
}

void ExfatVolume::SetBit(std::uint32_t cluster, bool used) {
  const std::size_t byte = (cluster - 2) / 8;
  const auto bit = static_cast<std::uint8_t>(1u << ((cluster - 2) % 8));
  bitmap_[byte] = static_cast<std::uint8_t>(used ? (bitmap_[byte] | bit) : (bitmap_[byte] & ~bit));
}

void ExfatVolume::RollBackGroup() {
  ExfatNode& node = nodes_[static_cast<std::size_t>(group_.node)];
  for (auto it = group_.undo.rbegin(); it != group_.undo.rend(); ++it) fat_[it->first] = it->second;
  for (std::uint32_t c : group_.claimed) SetBit(c, false);
  node.firstCluster = group_.firstCluster;
  node.flags = group_.flags;
  group_ = Group{};
  readOnly_ = true;
}

std::uint32_t ExfatVolume::MoveClusters(std::int32_t index, std::int64_t vcn, std::int64_t lcn, std::uint32_t count) {
  if (readOnly_) return kErrorWriteProtect;
  if (index < kRoot || static_cast<std::size_t>(index) >= nodes_.size()) return kErrorInvalidParameter;
  if (count == 0 || vcn < 0 || lcn < 0) return kErrorInvalidParameter;
  const bool root = index == kRoot;
  if (root && vcn == 0) return kErrorAccessDenied;  // its first cluster is in the boot sector
  if (!root && Straddles(nodes_[static_cast<std::size_t>(index)])) return kErrorAccessDenied;
  if (static_cast<std::uint64_t>(lcn) + count > layout_.clusterCount) return kErrorInvalidParameter;
  const auto first = static_cast<std::uint32_t>(lcn + 2);
  if (group_.node != index && group_.node >= 0 && !CommitGroup()) return kErrorWriteFault;
  // A target on clusters the group vacated waits for their frees: commit first.
  if (group_.node == index) {
    const std::vector<std::uint32_t> current = Chain(index);
    for (std::uint32_t c : group_.durable) {
      if (c >= first && c - first < count && std::find(current.begin(), current.end(), c) == current.end()) {
        if (!CommitGroup()) return kErrorWriteFault;
        break;
      }
    }
  }
  ExfatNode& node = nodes_[static_cast<std::size_t>(index)];
  const std::vector<std::uint32_t> chain = Chain(index);
  if (static_cast<std::uint64_t>(vcn) + count > chain.size()) return kErrorInvalidParameter;
  const auto v = static_cast<std::size_t>(vcn);
  const std::vector<std::uint32_t> old(chain.begin() + static_cast<std::ptrdiff_t>(v),
                                       chain.begin() + static_cast<std::ptrdiff_t>(v + count));
  bool inPlace = true;
  for (std::uint32_t i = 0; i < count; ++i) inPlace = inPlace && old[i] == first + i;
  if (inPlace) return kErrorSuccess;

  // The target must be free now, in memory and on disk.
  for (std::uint32_t i = 0; i < count; ++i) {
    if (Used(first + i)) return kErrorAccessDenied;
  }
  if (!TargetFreeOnDisk(first, count)) {
    readOnly_ = true;  // changed behind our back: trust nothing more
    return kErrorAccessDenied;
  }

  if (!changing_) {
    if (!SetDirty(true)) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
    changing_ = true;
  }
  if (group_.node < 0) {
    group_.node = index;
    group_.durable = chain;
    group_.firstCluster = node.firstCluster;
    group_.flags = node.flags;
  }
  if (!CopyClusters(old, first)) {
    RollBackGroup();
    return kErrorWriteFault;
  }

  // In memory: the file as the move leaves it, always as a FAT chain until the commit
  // decides its flags.
  std::vector<std::uint32_t> after = chain;
  for (std::uint32_t i = 0; i < count; ++i) after[v + i] = first + i;
  auto setFat = [&](std::uint32_t cluster, std::uint32_t value) {
    if (fat_[cluster] == value) return;
    group_.undo.emplace_back(cluster, fat_[cluster]);
    fat_[cluster] = value;
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    SetBit(first + i, true);
    group_.claimed.push_back(first + i);
  }
  const bool wasNoFatChain = node.NoFatChain();
  for (std::size_t i = 0; i < after.size(); ++i) {
    // A FAT-chained file changes only around the moved range.
    if (!wasNoFatChain && (i + 1 < v || i > v + count)) continue;
    setFat(after[i], i + 1 < after.size() ? after[i + 1] : kFatEnd);
  }
  node.flags = static_cast<std::uint8_t>(node.flags & ~kNoFatChain);
  if (v == 0) node.firstCluster = first;
  if (root || node.IsFolder()) Relocated(index, old, first);
  return kErrorSuccess;
}

bool ExfatVolume::CommitGroup() {
  if (group_.node < 0) return true;
  const std::int32_t index = group_.node;
  ExfatNode& node = nodes_[static_cast<std::size_t>(index)];
  const bool root = index == kRoot;
  const std::vector<std::uint32_t> final = Chain(index);
  std::vector<std::uint32_t> durableSorted = group_.durable;
  std::sort(durableSorted.begin(), durableSorted.end());
  std::vector<std::uint32_t> finalSorted = final;
  std::sort(finalSorted.begin(), finalSorted.end());
  std::vector<std::uint32_t> gained, left;
  std::set_difference(finalSorted.begin(), finalSorted.end(), durableSorted.begin(), durableSorted.end(),
                      std::back_inserter(gained));
  std::set_difference(durableSorted.begin(), durableSorted.end(), finalSorted.begin(), finalSorted.end(),
                      std::back_inserter(left));
  bool oneRun = true;
  for (std::size_t i = 1; i < final.size(); ++i) oneRun = oneRun && final[i] == final[i - 1] + 1;
  const bool durableNoFatChain = (group_.flags & kNoFatChain) != 0;
  const std::uint8_t newFlags = static_cast<std::uint8_t>(
      root ? group_.flags : oneRun ? (group_.flags | kNoFatChain) : (group_.flags & ~kNoFatChain));

  // The clusters the file gains and the ones it will leave are on record before the
  // bitmap names any of them: a crash after this leaves nothing that cannot be given back.
  if (journal_ != nullptr) {
    std::vector<std::uint32_t> recorded = gained;
    recorded.insert(recorded.end(), left.begin(), left.end());
    if (!journal_->Record(RunsOfClusters(std::move(recorded)))) {
      RollBackGroup();
      return false;
    }
  }
  // 1. Claims and links.
  std::vector<std::uint32_t> links = gained;
  if (durableNoFatChain && !oneRun) links = final;
  if (!WriteBitmapBits(gained) || !WriteFatEntries(links) || !io_->Flush()) {
    RollBackGroup();
    return false;
  }
  // 2. Commit.
  std::vector<std::uint32_t> commits;
  if (!durableNoFatChain) {
    for (std::size_t i = 0; i + 1 < final.size(); ++i) {
      if (std::binary_search(durableSorted.begin(), durableSorted.end(), final[i])) commits.push_back(final[i]);
    }
  }
  const bool entryChanges = !root && (final.front() != group_.firstCluster || newFlags != group_.flags);
  bool ok = WriteFatEntries(commits);
  if (ok && entryChanges) ok = WriteEntrySet(node, final.front(), newFlags);
  if (!ok || !io_->Flush()) {
    RollBackGroup();
    return false;
  }
  node.flags = newFlags;
  node.firstCluster = final.front();
  // The file now reads from its new clusters; from here on a failure only loses clusters.
  // 3. Frees, durable with the next flush.
  for (std::uint32_t c : left) {
    SetBit(c, false);
    fat_[c] = 0;
  }
  group_ = Group{};
  if (!WriteBitmapBits(left) || !WriteFatEntries(left)) {
    readOnly_ = true;
    return false;
  }
  return true;
}

bool ExfatVolume::FinishChanges() {
  if (!changing_) return true;
  if (readOnly_) return false;
  if (!CommitGroup() || !io_->Flush() || !SetDirty(false)) {
    readOnly_ = true;
    return false;
  }
  changing_ = false;
  // Clean and durable: nothing of this job is left to give back. (A volume left dirty
  // by an interrupted job that was not reclaimed keeps its record for the reclaim.)
  if (journal_ != nullptr && !wasDirty_) (void)journal_->End();
  return true;
}

}  // namespace platform::exfat
