// Moving clusters of a file to a free run, in an order that survives a crash at any write.
//
// One move runs these steps; each FAT change goes to the copy in use first, then to
// the mirrors, and a flush separates the steps that depend on each other:
//   0. FSInfo's free count is set to unknown and the volume marked dirty; flush.
//   1. The target clusters are claimed as a chain of their own, ending in an end mark.
//   2. The data is copied with large sequential requests.
//   3. The last target cluster is linked to the cluster that followed the moved range;
//      then one flush makes the claim, the data and the link durable together.
//   4. Commit: one write of the predecessor's FAT entry (or of the first-cluster field of
//      the folder entry) points the file at the new run; flush.
//   5. The old clusters are freed; flush.
//   6. FSInfo gets the exact free count and the volume is marked clean; flush.
// Until step 4 reaches the disk the file still reads from its old clusters; after it,
// from the new ones, which hold the same bytes. The flush before the commit covers the
// link too: a disk that reorders writes could otherwise store the commit before the
// link and cut the file short at the end of the new run. A crash leaves at worst lost
// clusters (the claimed run, or the old one), FAT copies that differ, a dirty volume and
// an unknown free count. Any failed write or flush ends the move and leaves the volume
// read-only for the rest of the session.
#include <algorithm>

#include "fat_volume.h"
#include "le.h"
#include "platform/win_types.h"

namespace platform::fat {
namespace {

// Data is copied through a buffer of at least this many bytes, so each read and write
// request of a long run moves at least 1 MiB.
constexpr std::size_t kCopyBytes = 4u << 20;

// Entries closer than this many bytes are written with one request.
constexpr std::uint32_t kMergeGap = 512;

constexpr std::uint32_t kUnknownFreeCount = 0xFFFFFFFF;

}  // namespace

bool FatVolume::WriteEntries(std::vector<std::uint32_t> clusters) {
  std::sort(clusters.begin(), clusters.end());
  struct Span {
    std::uint32_t first;
    std::uint32_t end;
  };
  std::vector<Span> spans;
  for (std::uint32_t c : clusters) {
    const std::uint32_t first = fat_->EntryByte(c);
    const std::uint32_t end = first + fat_->EntrySize();
    if (!spans.empty() && first <= spans.back().end + kMergeGap) {
      spans.back().end = std::max(spans.back().end, end);
    } else {
      spans.push_back({first, end});
    }
  }
  const auto& bytes = fat_->Bytes();
  std::vector<std::uint32_t> copies{layout_.firstFat};
  if (layout_.mirrored) {
    for (std::uint32_t k = 0; k < layout_.fatCount; ++k) {
      if (k != layout_.firstFat) copies.push_back(k);
    }
  }
  for (std::uint32_t copy : copies) {
    for (const Span& s : spans) {
      const std::uint32_t end = std::min<std::uint32_t>(s.end, static_cast<std::uint32_t>(bytes.size()));
      if (!io_->Write(layout_.FatCopyOffset(copy) + s.first, bytes.data() + s.first, end - s.first)) return false;
    }
  }
  return true;
}

bool FatVolume::BeginChange() {
  if (layout_.fsInfoOffset != 0) {
    std::uint8_t unknown[4];
    PutLe32(unknown, kUnknownFreeCount);
    if (!io_->Write(layout_.fsInfoOffset + 488, unknown, sizeof unknown)) return false;
  }
  if (!wasDirty_) {
    if (layout_.type == FatType::kFat12) {
      std::uint8_t state = 0;
      if (!io_->Read(layout_.stateOffset, &state, 1)) return false;
      state |= 1;
      if (!io_->Write(layout_.stateOffset, &state, 1)) return false;
    } else {
      const std::uint32_t cleanBit = layout_.type == FatType::kFat16 ? 0x8000 : 0x08000000;
      fat_->Set(1, fat_->Get(1) & ~cleanBit);
      if (!WriteEntries({1})) return false;
    }
  }
  return io_->Flush();
}

bool FatVolume::EndChange() {
  if (layout_.fsInfoOffset != 0) {
    std::uint8_t count[4];
    PutLe32(count, freeClusters_);
    if (!io_->Write(layout_.fsInfoOffset + 488, count, sizeof count)) return false;
  }
  if (!wasDirty_) {
    if (layout_.type == FatType::kFat12) {
      std::uint8_t state = 0;
      if (!io_->Read(layout_.stateOffset, &state, 1)) return false;
      state &= static_cast<std::uint8_t>(~1u);
      if (!io_->Write(layout_.stateOffset, &state, 1)) return false;
    } else {
      const std::uint32_t cleanBit = layout_.type == FatType::kFat16 ? 0x8000 : 0x08000000;
      fat_->Set(1, fat_->Get(1) | cleanBit);
      if (!WriteEntries({1})) return false;
    }
  }
  return io_->Flush();
}

bool FatVolume::CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to) {
  const std::size_t bpc = layout_.bytesPerCluster;
  const std::size_t perBuffer = std::max<std::size_t>(1, kCopyBytes / bpc);
  std::vector<std::uint8_t> buffer(perBuffer * bpc);
  std::size_t done = 0;
  while (done < from.size()) {
    const std::size_t take = std::min(perBuffer, from.size() - done);
    // Read the source in runs of consecutive clusters.
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

bool FatVolume::WriteFirstCluster(FatNode& node, std::uint32_t cluster) {
  node.firstCluster = cluster;
  node.entry.clusterLow = static_cast<std::uint16_t>(cluster);
  if (layout_.type == FatType::kFat32) node.entry.clusterHigh = static_cast<std::uint16_t>(cluster >> 16);
  std::uint8_t raw[kDirEntrySize];
  EncodeDirEntry(node.entry, raw);
  // Bytes 20..27: cluster high word, write time and date, cluster low word.
  return io_->Write(node.entryOffset + kEntryClusterHigh, raw + kEntryClusterHigh, 8);
}

std::uint32_t FatVolume::MoveClusters(std::int32_t index, std::int64_t vcn, std::int64_t lcn,
                                      std::uint32_t count) {
  if (readOnly_) return kErrorWriteProtect;
  if (index <= kRoot || static_cast<std::size_t>(index) >= nodes_.size()) return kErrorInvalidParameter;
  FatNode& node = nodes_[static_cast<std::size_t>(index)];
  if (node.dot) return kErrorInvalidParameter;
  if (node.IsFolder() && vcn == 0) return kErrorAccessDenied;  // a folder's first cluster stays
  if (count == 0 || vcn < 0 || lcn < 0) return kErrorInvalidParameter;
  const std::vector<std::uint32_t> chain = Chain(index);
  if (static_cast<std::uint64_t>(vcn) + count > chain.size()) return kErrorInvalidParameter;
  if (static_cast<std::uint64_t>(lcn) + count > layout_.clusterCount) return kErrorInvalidParameter;

  const auto first = static_cast<std::uint32_t>(lcn + 2);
  const std::vector<std::uint32_t> old(chain.begin() + vcn, chain.begin() + vcn + count);
  bool inPlace = true;
  for (std::uint32_t i = 0; i < count; ++i) inPlace = inPlace && old[i] == first + i;
  if (inPlace) return kErrorSuccess;

  // The target must be free now, in memory and on disk.
  for (std::uint32_t i = 0; i < count; ++i) {
    if (fat_->Get(first + i) != 0) return kErrorAccessDenied;
  }
  {
    const std::uint32_t from = fat_->EntryByte(first);
    const std::uint32_t to = fat_->EntryByte(first + count - 1) + fat_->EntrySize();
    const std::uint32_t end = std::min<std::uint32_t>(to, static_cast<std::uint32_t>(fat_->Bytes().size()));
    std::vector<std::uint8_t> disk(end - from);
    if (!io_->Read(layout_.FatCopyOffset(layout_.firstFat) + from, disk.data(), disk.size())) return kErrorReadFault;
    if (!std::equal(disk.begin(), disk.end(), fat_->Bytes().begin() + from)) {
      readOnly_ = true;  // changed behind our back: trust nothing more
      return kErrorAccessDenied;
    }
  }

  const bool hasPred = vcn > 0;
  const std::uint32_t pred = hasPred ? chain[static_cast<std::size_t>(vcn - 1)] : 0;
  const bool hasSucc = static_cast<std::uint64_t>(vcn) + count < chain.size();
  const std::uint32_t succ = hasSucc ? chain[static_cast<std::size_t>(vcn) + count] : 0;
  const std::uint32_t last = first + count - 1;

  // Entries changed so far, with their old values, for the in-memory rollback after a
  // failed write: the file then stays where the disk still has it.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> undo;
  auto set = [&](std::uint32_t cluster, std::uint32_t value) {
    undo.emplace_back(cluster, fat_->Get(cluster));
    fat_->Set(cluster, value);
  };
  const FatNode savedNode = node;
  auto fail = [&](std::uint32_t error) {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) fat_->Set(it->first, it->second);
    node = savedNode;
    readOnly_ = true;
    return error;
  };

  if (!BeginChange()) return fail(kErrorWriteFault);

  std::vector<std::uint32_t> targets;
  for (std::uint32_t i = 0; i < count; ++i) {
    set(first + i, i + 1 < count ? first + i + 1 : fat_->EndMark());
    targets.push_back(first + i);
  }
  if (!WriteEntries(targets)) return fail(kErrorWriteFault);

  if (!CopyClusters(old, first)) return fail(kErrorWriteFault);

  if (hasSucc) {
    set(last, succ);
    if (!WriteEntries({last})) return fail(kErrorWriteFault);
  }
  if (!io_->Flush()) return fail(kErrorWriteFault);

  if (hasPred) {
    set(pred, first);
    if (!WriteEntries({pred})) return fail(kErrorWriteFault);
  } else if (!WriteFirstCluster(node, first)) {
    return fail(kErrorWriteFault);
  }
  if (!io_->Flush()) return fail(kErrorWriteFault);
  // The file now reads from the new run; from here on a failure only loses clusters.

  for (std::uint32_t c : old) fat_->Set(c, 0);
  if (!WriteEntries(old) || !io_->Flush()) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  if (!EndChange()) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  return kErrorSuccess;
}

}  // namespace platform::fat
