// Moving clusters of a file to free runs, in groups that survive a crash at any write.
//
// The moves of consecutive files form a group, committed together. In memory each move
// takes effect at once (later moves of the group, extent queries and the chain see each
// file as the earlier moves left it), and its data is copied to the target at once; the
// FAT and the folder entries reach the disk only when the group is committed, through
// three barriers:
//   1. claims, data and links: every entry of a cluster a file gained (the new runs,
//      each linked to what follows it in the final chain); flush. The frees of the
//      previous group, written after its commit, ride on this flush.
//   2. commits: every entry of a cluster a file kept that now points elsewhere (a
//      predecessor pointing into a new run), and each folder entry's first cluster that
//      changed; flush.
//   3. frees: the entries of the clusters the files left are written as free, without a
//      flush of their own (the next group's first flush, or the job's last, covers them).
// The clusters a group's files left stay taken in the FAT until its commit; a volume
// bitmap shows them free (VacatedClusters), as it would after the commit, so the files
// land where they would land with a commit after every file. A move onto one of them
// commits the group first, and so does a move that finds the group at its limits (files
// or bytes moved: they bound the work a crash undoes), a new file's creation, and the end
// of the job (FinishChanges). The job's first
// write marks the volume dirty and the FSInfo free count unknown (with a flush of its
// own); FinishChanges writes the exact count and the clean mark once at its end.
//
// Why any crash leaves every file readable: a move keeps the order of the virtual
// clusters, so at every position of the chain the file's old cluster and its new one
// hold the same bytes. Until barrier 2 nothing durable points into a new cluster;
// after barrier 1 every new cluster's entry is durable with its final value. A crash
// during barrier 2 stores any subset of the commits: reading then follows the old
// chain until a stored commit leads into a new run, whose durable links lead on to the
// next kept cluster at the same position, so every position is read from an old or a
// new cluster that holds its bytes, and the chain ends where it always did. Old
// clusters are written as free only after the commits are durable, and not reused
// until they are. A crash leaves at worst lost clusters, FAT copies that differ, a
// dirty volume and an unknown free count.
//
// Every FAT change is written from a second table that holds what has been written to
// the disk (written_): writes are merged into larger requests and FAT12 entries share
// bytes, so a request must never carry an in-memory value whose barrier has not come.
// Each FAT change goes to the copy in use first, then to the mirrors. Any failed write
// or flush ends the group and leaves the volume read-only for the rest of the session;
// before barrier 2 the memory is rolled back to what the disk holds.
//
// Another provider (exFAT) follows the same order: claims and data, flush, commits,
// flush, frees riding on the next flush; dirty once at the first write, clean once at
// the end.
#include <algorithm>
#include <memory>

#include "fat_volume.h"
#include "le.h"
#include "platform/win_types.h"

namespace platform::fat {
namespace {

// Data is copied through a buffer of this many bytes (one cluster if that is larger):
// each read and write request of a long run moves 1 MiB, and the data of consecutive
// moves that land back to back is gathered into write requests of up to 1 MiB. Larger
// buffers copy more slowly: the bytes read no longer stay in the processor's cache until
// they are written.
constexpr std::size_t kCopyBytes = 1u << 20;

// Entries closer than this many bytes are written with one request.
constexpr std::uint32_t kMergeGap = 512;

constexpr std::uint32_t kUnknownFreeCount = 0xFFFFFFFF;

// Group marks of a cluster (groupMarks_).
constexpr std::uint8_t kInDurable = 1;  // in a file's chain when the file joined the group
constexpr std::uint8_t kInFinal = 2;    // in a file's chain at the commit

// A group's limits: files, and bytes moved.
constexpr std::size_t kGroupFiles = 256;
constexpr std::uint64_t kGroupBytes = std::uint64_t{512} << 20;

}  // namespace

bool FatVolume::WriteFat(const std::vector<std::uint32_t>& changed) {
  std::vector<std::uint32_t> clusters = changed;
  std::sort(clusters.begin(), clusters.end());
  for (std::uint32_t c : clusters) written_->Set(c, fat_->Get(c));
  struct Span {
    std::uint32_t first;
    std::uint32_t end;
  };
  std::vector<Span> spans;
  for (std::uint32_t c : clusters) {
    const std::uint32_t first = written_->EntryByte(c);
    const std::uint32_t end = first + written_->EntrySize();
    if (!spans.empty() && first <= spans.back().end + kMergeGap) {
      spans.back().end = std::max(spans.back().end, end);
    } else {
      spans.push_back({first, end});
    }
  }
  const auto& bytes = written_->Bytes();
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

bool FatVolume::WriteStateMarks(bool clean) {
  // The record exists, durably, before the volume can be marked dirty by us.
  if (!clean && journal_ != nullptr && !journal_->Begin()) return false;
  if (layout_.fsInfoOffset != 0) {
    std::uint8_t count[4];
    PutLe32(count, clean ? freeClusters_ : kUnknownFreeCount);
    if (!io_->Write(layout_.fsInfoOffset + 488, count, sizeof count)) return false;
  }
  if (!wasDirty_) {
    if (layout_.type == FatType::kFat12) {
      std::uint8_t state = 0;
      if (!io_->Read(layout_.stateOffset, &state, 1)) return false;
      state = clean ? static_cast<std::uint8_t>(state & ~1u) : static_cast<std::uint8_t>(state | 1u);
      if (!io_->Write(layout_.stateOffset, &state, 1)) return false;
    } else {
      const std::uint32_t cleanBit = layout_.type == FatType::kFat16 ? 0x8000 : 0x08000000;
      fat_->Set(1, clean ? fat_->Get(1) | cleanBit : fat_->Get(1) & ~cleanBit);
      if (!WriteFat({1})) return false;
    }
  }
  return io_->Flush();
}

bool FatVolume::WriteData() {
  if (data_.size == 0) return true;
  const bool ok = io_->Write(data_.offset, data_.buffer.get(), data_.size);
  data_.size = 0;
  return ok;
}

bool FatVolume::CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to) {
  const std::size_t bpc = layout_.bytesPerCluster;
  const std::size_t perBuffer = std::max<std::size_t>(1, kCopyBytes / bpc);
  if (data_.buffer == nullptr) {
    data_.capacity = perBuffer * bpc;
    data_.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(data_.capacity);
  }
  std::size_t done = 0;
  while (done < from.size()) {
    const std::size_t take = std::min(perBuffer, from.size() - done);
    // The data goes into the gathered write when it lands right behind it.
    const std::uint64_t target = layout_.ClusterOffset(static_cast<std::uint32_t>(to + done));
    const bool follows = data_.size > 0 && data_.offset + data_.size == target &&
                         data_.size + take * bpc <= data_.capacity;
    if (!follows) {
      if (!WriteData()) return false;
      data_.offset = target;
    }
    const std::size_t base = data_.size;
    data_.size = base + take * bpc;
    // Read the source in runs of consecutive clusters. A source never lies in the
    // gathered bytes: those clusters were free when this group claimed them, and a
    // cluster claimed and left again within the group is written out before it is
    // read (see MoveClusters).
    for (std::size_t i = 0; i < take;) {
      std::size_t run = 1;
      while (i + run < take && from[done + i + run] == from[done + i] + run) ++run;
      if (!io_->Read(layout_.ClusterOffset(from[done + i]), data_.buffer.get() + base + i * bpc, run * bpc)) {
        return false;
      }
      i += run;
    }
    if (data_.size == data_.capacity && !WriteData()) return false;
    done += take;
  }
  return true;
}

bool FatVolume::WriteFirstCluster(const FatNode& node) {
  std::uint8_t raw[kDirEntrySize];
  EncodeDirEntry(node.entry, raw);
  // Bytes 20..27: cluster high word, write time and date, cluster low word.
  return io_->Write(node.entryOffset + kEntryClusterHigh, raw + kEntryClusterHigh, 8);
}

void FatVolume::RollBackGroup() {
  for (auto it = group_.undo.rbegin(); it != group_.undo.rend(); ++it) fat_->Set(it->first, it->second);
  for (const GroupFile& file : group_.files) {
    nodes_[static_cast<std::size_t>(file.node)] = file.savedNode;
    for (std::uint32_t c : file.durable) groupMarks_[c] = 0;
  }
  data_.size = 0;
  group_ = Group{};
  readOnly_ = true;
}

bool FatVolume::CommitGroup() {
  if (group_.files.empty()) return true;
  std::vector<std::uint32_t> claims;
  std::vector<std::uint32_t> commits;
  std::vector<std::uint32_t> frees;
  std::vector<std::int32_t> entries;  // nodes whose first cluster changed
  for (const GroupFile& file : group_.files) {
    for (std::uint32_t c : file.chain) groupMarks_[c] |= kInFinal;
  }
  for (const GroupFile& file : group_.files) {
    for (std::uint32_t c : file.chain) {
      if ((groupMarks_[c] & kInDurable) == 0) {
        claims.push_back(c);
      } else if (fat_->Get(c) != written_->Get(c)) {
        commits.push_back(c);
      }
    }
    for (std::uint32_t c : file.durable) {
      if ((groupMarks_[c] & kInFinal) == 0) frees.push_back(c);
    }
    if (nodes_[static_cast<std::size_t>(file.node)].firstCluster != file.savedNode.firstCluster) {
      entries.push_back(file.node);
    }
  }
  for (const GroupFile& file : group_.files) {
    for (std::uint32_t c : file.chain) groupMarks_[c] = 0;
    for (std::uint32_t c : file.durable) groupMarks_[c] = 0;
  }

  // The clusters this group claims and the ones it will leave are on record before the
  // FAT names any of them: a crash after this leaves nothing that cannot be given back.
  if (journal_ != nullptr) {
    std::vector<std::uint32_t> recorded = claims;
    recorded.insert(recorded.end(), frees.begin(), frees.end());
    if (!journal_->Record(RunsOfClusters(std::move(recorded)))) {
      RollBackGroup();
      return false;
    }
  }
  // Barrier 1: the data, the new runs and their links (and the last group's frees).
  if (!WriteData() || !WriteFat(claims) || !io_->Flush()) {
    RollBackGroup();
    return false;
  }
  // Barrier 2: the files switch to their new runs.
  bool committed = WriteFat(commits);
  for (std::size_t i = 0; committed && i < entries.size(); ++i) {
    committed = WriteFirstCluster(nodes_[static_cast<std::size_t>(entries[i])]);
  }
  committed = committed && io_->Flush();
  group_ = Group{};
  if (!committed) {
    readOnly_ = true;
    return false;
  }
  // Barrier 3: what the files left is free; durable with the next flush.
  for (std::uint32_t c : frees) fat_->Set(c, 0);
  if (!WriteFat(frees)) {
    readOnly_ = true;
    return false;
  }
  return true;
}

bool FatVolume::FinishChanges() {
  if (!changing_) return true;
  if (!CommitGroup() || readOnly_) return false;
  // The frees of the last group, then the exact free count and the clean mark.
  if (!io_->Flush() || !WriteStateMarks(true)) {
    readOnly_ = true;
    return false;
  }
  changing_ = false;
  // Clean and durable: nothing of this job is left to give back. (A volume left dirty
  // by an interrupted job that was not reclaimed keeps its record for the reclaim.)
  if (journal_ != nullptr && !wasDirty_) (void)journal_->End();
  return true;
}

std::uint32_t FatVolume::MoveClusters(std::int32_t index, std::int64_t vcn, std::int64_t lcn,
                                      std::uint32_t count) {
  if (readOnly_) return kErrorWriteProtect;
  if (index <= kRoot || static_cast<std::size_t>(index) >= nodes_.size()) return kErrorInvalidParameter;
  if (nodes_[static_cast<std::size_t>(index)].dot) return kErrorInvalidParameter;
  if (nodes_[static_cast<std::size_t>(index)].IsFolder() && vcn == 0) return kErrorAccessDenied;  // a folder's first cluster stays
  if (count == 0 || vcn < 0 || lcn < 0) return kErrorInvalidParameter;
  if (static_cast<std::uint64_t>(lcn) + count > layout_.clusterCount) return kErrorInvalidParameter;
  if (written_ == nullptr) {
    // Before the first move the disk holds what the memory holds.
    written_ = std::make_unique<FatTable>(*fat_);
    groupMarks_.assign(std::size_t{layout_.clusterCount} + 2, 0);
  }
  const auto first = static_cast<std::uint32_t>(lcn + 2);
  auto member = [this](std::int32_t node) -> GroupFile* {
    for (GroupFile& file : group_.files) {
      if (file.node == node) return &file;
    }
    return nullptr;
  };
  // The clusters the group has vacated are free only once it is committed; a group at
  // its limits is committed before it grows.
  bool commitFirst = !group_.files.empty() &&
                     (group_.movedClusters * layout_.bytesPerCluster >= kGroupBytes ||
                      (member(index) == nullptr && group_.files.size() >= kGroupFiles));
  for (std::uint32_t i = 0; i < count && !commitFirst; ++i) commitFirst = (groupMarks_[first + i] & kInDurable) != 0;
  if (commitFirst && !CommitGroup()) return kErrorWriteFault;

  FatNode& node = nodes_[static_cast<std::size_t>(index)];
  // The group keeps each of its files' chains as the moves so far left it.
  GroupFile* file = member(index);
  std::vector<std::uint32_t> fresh;
  if (file == nullptr) fresh = Chain(index);
  const std::vector<std::uint32_t>& chain = file != nullptr ? file->chain : fresh;
  if (static_cast<std::uint64_t>(vcn) + count > chain.size()) return kErrorInvalidParameter;
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
    const std::uint32_t end = std::min<std::uint32_t>(to, static_cast<std::uint32_t>(written_->Bytes().size()));
    std::vector<std::uint8_t> disk(end - from);
    if (!io_->Read(layout_.FatCopyOffset(layout_.firstFat) + from, disk.data(), disk.size())) return kErrorReadFault;
    if (!std::equal(disk.begin(), disk.end(), written_->Bytes().begin() + from)) {
      RollBackGroup();  // changed behind our back: trust nothing more
      return kErrorAccessDenied;
    }
  }

  if (!changing_) {
    if (!WriteStateMarks(false)) {
      RollBackGroup();
      return kErrorWriteFault;
    }
    changing_ = true;
  }
  if (file == nullptr) {
    GroupFile joined;
    joined.node = index;
    joined.durable = fresh;
    joined.chain = std::move(fresh);
    joined.savedNode = node;
    for (std::uint32_t c : joined.chain) groupMarks_[c] = kInDurable;
    group_.files.push_back(std::move(joined));
    file = &group_.files.back();
  }
  // Data gathered for writing goes out before it is read again as a source.
  bool rereads = false;
  for (std::uint32_t c : old) rereads = rereads || (groupMarks_[c] & kInDurable) == 0;
  if ((rereads && !WriteData()) || !CopyClusters(old, first)) {
    RollBackGroup();
    return kErrorWriteFault;
  }

  auto set = [&](std::uint32_t cluster, std::uint32_t value) {
    group_.undo.emplace_back(cluster, fat_->Get(cluster));
    fat_->Set(cluster, value);
  };
  std::vector<std::uint32_t>& now = file->chain;
  const auto at = static_cast<std::size_t>(vcn);
  const bool hasSucc = at + count < now.size();
  for (std::uint32_t i = 0; i < count; ++i) {
    set(first + i, i + 1 < count ? first + i + 1 : hasSucc ? now[at + count] : fat_->EndMark());
    now[at + i] = first + i;
  }
  if (vcn > 0) {
    set(now[at - 1], first);
  } else {
    node.firstCluster = first;
    node.entry.clusterLow = static_cast<std::uint16_t>(first);
    if (layout_.type == FatType::kFat32) node.entry.clusterHigh = static_cast<std::uint16_t>(first >> 16);
  }
  // Clusters claimed earlier in this group and left again never reached the FAT on
  // disk: they are free at once. The file's durable clusters stay taken until the commit.
  for (std::uint32_t c : old) {
    if ((groupMarks_[c] & kInDurable) == 0) {
      set(c, 0);
    } else {
      group_.vacated.push_back(c);
    }
  }
  group_.movedClusters += count;
  return kErrorSuccess;
}

}  // namespace platform::fat
