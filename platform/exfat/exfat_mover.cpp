// Moving clusters of an exFAT file or folder to a free run, in an order that survives a
// crash at any write, with any of the writes since the last flush lost.
//
// One move runs these steps, with a flush where a later step depends on an earlier one:
//   0. VolumeDirty is set in the boot sector (outside the boot checksum); flush.
//   1. Claim: the target clusters' bitmap bits are set and the run is written to the
//      FAT as a terminated chain of its own, so it is valid whether the file ends up
//      with NoFatChain or not. A NoFatChain file moved only in part also gets its
//      present clusters written as a FAT chain (ignored while the flag is set).
//   2. The data is copied with large sequential requests: whole clusters, so the bytes
//      past ValidDataLength travel too.
//   3. Links nothing reads yet: the run's last cluster to the cluster after the moved
//      range; for a NoFatChain file, the predecessor to the run. One flush then makes
//      the claim, the data and the links durable together.
//   4. Commit, one write within one sector; flush:
//        - a FAT-chained file moved from its second cluster on: the predecessor's FAT
//          entry;
//        - otherwise the one sector holding the File and Stream Extension entries: the
//          new first cluster and flags and the recomputed SetChecksum.
//      A FAT-chained file that is now one run then gets NoFatChain by a second such
//      entry write (valid either way: its FAT chain is correct); flush.
//   5. The old clusters' bitmap bits are cleared and their FAT entries zeroed; flush.
//   6. VolumeDirty is cleared; flush.
// Until the commit reaches the disk, the file reads from its old clusters; after it,
// from the new ones, which hold the same bytes. A crash leaves at worst lost clusters
// (bits set that nothing owns: the claimed run, or the old one) and a dirty volume.
// A file whose File and Stream Extension entries lie in different sectors has no
// single-sector commit and is never moved. Any failed write or flush ends the move and
// leaves the volume read-only for the rest of the session.
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

// Spans of changed bytes closer than this are written with one request.
constexpr std::uint64_t kMergeGap = 512;

struct Span {
  std::uint64_t first;
  std::uint64_t end;
};

// Sorted, merged byte spans.
std::vector<Span> Merge(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
  std::vector<Span> out;
  for (const Span& s : spans) {
    if (!out.empty() && s.first <= out.back().end + kMergeGap) {
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
  for (const Span& s : Merge(std::move(spans))) {
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
  for (const Span& s : Merge(std::move(spans))) {
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
    if (!std::equal(disk.begin(), disk.end(), bitmap_.begin() + static_cast<std::ptrdiff_t>(at))) return false;
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

std::uint32_t ExfatVolume::MoveClusters(std::int32_t index, std::int64_t vcn, std::int64_t lcn, std::uint32_t count) {
  if (readOnly_) return kErrorWriteProtect;
  if (index < kRoot || static_cast<std::size_t>(index) >= nodes_.size()) return kErrorInvalidParameter;
  if (count == 0 || vcn < 0 || lcn < 0) return kErrorInvalidParameter;
  ExfatNode& node = nodes_[static_cast<std::size_t>(index)];
  const bool root = index == kRoot;
  if (root && vcn == 0) return kErrorAccessDenied;  // its first cluster is in the boot sector
  if (!root && Straddles(node)) return kErrorAccessDenied;
  const std::vector<std::uint32_t> chain = Chain(index);
  if (static_cast<std::uint64_t>(vcn) + count > chain.size()) return kErrorInvalidParameter;
  if (static_cast<std::uint64_t>(lcn) + count > layout_.clusterCount) return kErrorInvalidParameter;

  const auto first = static_cast<std::uint32_t>(lcn + 2);
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

  const bool fatChained = !node.NoFatChain();
  const bool hasPred = v > 0;
  const std::uint32_t pred = hasPred ? chain[v - 1] : 0;
  const bool hasSucc = v + count < chain.size();
  const std::uint32_t succ = hasSucc ? chain[v + count] : 0;
  const std::uint32_t last = first + count - 1;
  std::vector<std::uint32_t> after = chain;
  for (std::uint32_t i = 0; i < count; ++i) after[v + i] = first + i;
  bool oneRun = true;
  for (std::size_t i = 1; i < after.size(); ++i) oneRun = oneRun && after[i] == after[i - 1] + 1;
  // Joined files become NoFatChain; a partly moved NoFatChain file goes back to the FAT.
  const std::uint8_t newFlags = static_cast<std::uint8_t>(
      root ? node.flags : oneRun ? (node.flags | kNoFatChain) : (node.flags & ~kNoFatChain));

  // In-memory changes so far, for the rollback after a failed write before the commit:
  // the file then stays where the disk still has it.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> undoFat;
  auto setFat = [&](std::uint32_t cluster, std::uint32_t value) {
    undoFat.emplace_back(cluster, fat_[cluster]);
    fat_[cluster] = value;
  };
  auto setBit = [&](std::uint32_t cluster, bool used) {
    const std::size_t byte = (cluster - 2) / 8;
    const auto bit = static_cast<std::uint8_t>(1u << ((cluster - 2) % 8));
    bitmap_[byte] = static_cast<std::uint8_t>(used ? (bitmap_[byte] | bit) : (bitmap_[byte] & ~bit));
  };
  auto fail = [&](std::uint32_t error) {
    for (auto it = undoFat.rbegin(); it != undoFat.rend(); ++it) fat_[it->first] = it->second;
    for (std::uint32_t i = 0; i < count; ++i) setBit(first + i, false);
    readOnly_ = true;
    return error;
  };

  if (!SetDirty(true)) return fail(kErrorWriteFault);

  // 1. Claim.
  std::vector<std::uint32_t> fatWrites;
  std::vector<std::uint32_t> targets;
  for (std::uint32_t i = 0; i < count; ++i) {
    setBit(first + i, true);
    setFat(first + i, i + 1 < count ? first + i + 1 : kFatEnd);
    targets.push_back(first + i);
    fatWrites.push_back(first + i);
  }
  if (!fatChained && !oneRun) {
    for (std::size_t i = 0; i < chain.size(); ++i) {
      setFat(chain[i], i + 1 < chain.size() ? chain[i + 1] : kFatEnd);
      fatWrites.push_back(chain[i]);
    }
  }
  // 3. (written with the claim) Links nothing reads before the commit.
  if (hasSucc) setFat(last, succ);
  if (!fatChained && hasPred) setFat(pred, first);
  if (!WriteBitmapBits(targets) || !WriteFatEntries(fatWrites)) return fail(kErrorWriteFault);
  // 2. Copy.
  if (!CopyClusters(old, first)) return fail(kErrorWriteFault);
  if (!io_->Flush()) return fail(kErrorWriteFault);

  // 4. Commit.
  const ExfatNode saved = node;
  if (fatChained && hasPred) {
    setFat(pred, first);
    if (!WriteFatEntries({pred})) return fail(kErrorWriteFault);
  } else {
    if (!WriteEntrySet(node, v == 0 ? first : node.firstCluster, newFlags)) {
      node = saved;
      return fail(kErrorWriteFault);
    }
  }
  if (!io_->Flush()) {
    node = saved;
    return fail(kErrorWriteFault);
  }
  // The file now reads from the new run; from here on a failure only loses clusters.
  if (root || node.IsFolder()) Relocated(index, old, first);
  if (fatChained && hasPred && !root && newFlags != node.flags) {
    if (!WriteEntrySet(node, node.firstCluster, newFlags) || !io_->Flush()) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
  }

  // 5. Free the old clusters.
  for (std::uint32_t c : old) {
    setBit(c, false);
    fat_[c] = 0;
  }
  if (!WriteBitmapBits(old) || !WriteFatEntries(old) || !io_->Flush()) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  if (!SetDirty(false)) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  return kErrorSuccess;
}

}  // namespace platform::exfat
