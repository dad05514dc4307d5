// Creating a file on clusters chosen by the caller, in an order that survives a crash
// at any write.
//
// Everything is planned in memory first (the chain over the runs, the folder slots of
// the new entries, the clusters a full folder grows by); then the writes run in order,
// with the same barriers as a group of moves (mover.cpp):
//   0. An open group of moves is committed first. The job's first write marks the
//      volume dirty and the FSInfo free count unknown (with a flush of its own).
//   1. The runs are claimed as one chain ending in an end mark, and the content is
//      written into them (the last cluster's tail zero-filled). A full folder's new
//      clusters are claimed as a chain of their own and zero-filled; free slots after
//      the folder's end mark that lie before the new entries are marked deleted, so the
//      entries are not hidden behind the end mark. One flush makes all of it durable.
//   2. When the folder grows, its last cluster is linked to the new ones; flush. An
//      empty folder cluster is a valid part of a folder.
//   3. Commit: one write of the long-name entries and the short entry, which lie back to
//      back on the disk, names the file; flush. For a replacement the commit is one
//      write of the old entry's first cluster, time and size fields instead.
//   4. A replaced file's old clusters are freed; then, as at the end of a job, the last
//      frees are flushed and the exact free count and the clean mark written.
// Until step 3 reaches the disk no entry names the new clusters, so a crash leaves at
// worst lost clusters; after it the whole content is in place. A failed write or flush
// leaves the volume read-only for the rest of the session; a content read that fails
// gives the claimed runs back.
#include <algorithm>
#include <array>
#include <cstring>
#include <ctime>

#include "fat_volume.h"
#include "le.h"
#include "platform/new_file_runs.h"
#include "platform/path_parts.h"
#include "platform/win_types.h"
#include "short_alias.h"

namespace platform::fat {
namespace {

constexpr std::uint64_t kMaxFileBytes = 0xFFFFFFFFull;

// Local time of `seconds` since 1970 as FAT date and time words.
void FatTime(std::int64_t seconds, std::uint16_t* date, std::uint16_t* time) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
#ifdef _WIN32
  const bool ok = localtime_s(&local, &t) == 0;
#else
  const bool ok = localtime_r(&t, &local) != nullptr;
#endif
  if (!ok || local.tm_year < 80 || local.tm_year > 207) {
    *date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, the earliest date FAT holds
    *time = 0;
    return;
  }
  *date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

}  // namespace

// The 32-byte slots of a folder with their disk offsets, and where its end mark is.
struct FatVolume::FolderSlots {
  std::vector<std::uint8_t> bytes;     // the folder's content
  std::vector<std::uint64_t> offsets;  // disk offset of each slot
  std::size_t end = 0;                 // first slot at or after the end mark

  std::size_t Count() const { return offsets.size(); }
  bool Free(std::size_t i) const { return i >= end || bytes[i * kDirEntrySize] == kEntryDeleted; }
  // The first run of `k` free slots that lie back to back on the disk, or Count().
  std::size_t Window(std::size_t k) const {
    std::size_t run = 0;
    for (std::size_t i = 0; i < Count(); ++i) {
      const bool joined = run > 0 && offsets[i] == offsets[i - 1] + kDirEntrySize;
      run = Free(i) ? (joined ? run + 1 : 1) : 0;
      if (run == k) return i + 1 - k;
    }
    return Count();
  }
};

bool FatVolume::ReadFolderSlots(std::int32_t folder, FolderSlots* slots) {
  slots->bytes.clear();
  slots->offsets.clear();
  auto add = [&](std::uint64_t offset, std::size_t size) {
    const std::size_t at = slots->bytes.size();
    slots->bytes.resize(at + size);
    if (!io_->Read(offset, slots->bytes.data() + at, size)) return false;
    for (std::size_t i = 0; i < size / kDirEntrySize; ++i) slots->offsets.push_back(offset + i * kDirEntrySize);
    return true;
  };
  if (folder == kRoot && layout_.type != FatType::kFat32) {
    if (!add(layout_.rootOffset, std::size_t{layout_.rootEntries} * kDirEntrySize)) return false;
  } else {
    for (std::uint32_t cluster : Chain(folder)) {
      if (!add(layout_.ClusterOffset(cluster), layout_.bytesPerCluster)) return false;
    }
  }
  slots->end = slots->Count();
  for (std::size_t i = 0; i < slots->Count(); ++i) {
    if (slots->bytes[i * kDirEntrySize] == kEntryEnd) {
      slots->end = i;
      break;
    }
  }
  return true;
}

std::uint32_t FatVolume::WriteContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters) {
  return WriteNewFileContent(file, clusters, layout_.bytesPerCluster,
                             [this](std::uint32_t cluster) { return layout_.ClusterOffset(cluster); }, io_.get());
}

std::uint32_t FatVolume::CreateFileInRuns(const std::string& path, const NewFileData& file) {
  if (readOnly_) return kErrorWriteProtect;
  if (!CommitGroup()) return kErrorWriteFault;
  if (written_ == nullptr) {
    // Before the first change the disk holds what the memory holds.
    written_ = std::make_unique<FatTable>(*fat_);
    groupMarks_.assign(std::size_t{layout_.clusterCount} + 2, 0);
  }
  std::vector<std::string> parts = PathComponents(path);
  if (parts.empty()) return kErrorInvalidName;
  std::string name;
  if (!CleanLongName(parts.back(), &name)) return kErrorInvalidName;
  parts.pop_back();
  std::string folderPath;
  for (const std::string& part : parts) folderPath += "\\" + part;
  const std::int32_t folder = Find(folderPath);
  if (folder < 0 || !Node(folder).IsFolder()) return kErrorPathNotFound;
  if (file.size > kMaxFileBytes) return kErrorFileTooLarge;
  if (!file.read) return kErrorInvalidParameter;

  const std::int32_t existing = Find(folderPath + "\\" + name);
  if (existing >= 0) {
    if (!file.replace) return kErrorFileExists;
    const FatNode& old = Node(existing);
    if (old.dot || old.IsFolder() || (old.entry.attributes & (kAttrReadOnly | kAttrSystem)) != 0) {
      return kErrorAccessDenied;
    }
  }

  // The runs: exactly the clusters the size needs, inside the volume, free now.
  const std::uint64_t bpc = layout_.bytesPerCluster;
  std::vector<std::uint32_t> clusters;
  if (const std::uint32_t rc = ClustersOfNewFile(file, bpc, layout_.clusterCount, &clusters); rc != kErrorSuccess) {
    return rc;
  }
  for (std::uint32_t c : clusters) {
    if (fat_->Get(c) != 0) return kErrorAccessDenied;
  }

  // Entries changed in memory, with their old values, for the rollback.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> undo;
  auto set = [&](std::uint32_t cluster, std::uint32_t value) {
    undo.emplace_back(cluster, fat_->Get(cluster));
    fat_->Set(cluster, value);
  };
  auto rollback = [&] {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) fat_->Set(it->first, it->second);
    undo.clear();
  };
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    set(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : fat_->EndMark());
  }

  std::uint16_t writeDate = 0;
  std::uint16_t writeTime = 0;
  FatTime(file.lastWriteTime, &writeDate, &writeTime);
  const std::uint32_t first = clusters.empty() ? 0 : clusters.front();

  // A new entry: its names, its slots, and the clusters a full folder grows by.
  DirEntry entry{};
  EntryNames names;
  std::vector<std::array<std::uint8_t, kDirEntrySize>> entries;
  FolderSlots slots;
  std::size_t window = 0;
  std::vector<std::uint32_t> growth;
  std::uint32_t folderLast = 0;
  if (existing < 0) {
    if (!ReadFolderSlots(folder, &slots)) {
      rollback();
      return kErrorReadFault;
    }
    auto taken = [&](const std::uint8_t* shortName) {
      for (std::int32_t child : Node(folder).children) {
        if (std::equal(shortName, shortName + 11, Node(child).entry.name)) return true;
      }
      return false;
    };
    if (!NameNewEntry(name, taken, &names)) {
      rollback();
      return kErrorCannotMake;
    }
    std::memcpy(entry.name, names.shortName, 11);
    entry.attributes = kAttrArchive;
    entry.caseFlags = names.caseFlags;
    std::uint16_t nowDate = 0;
    std::uint16_t nowTime = 0;
    FatTime(static_cast<std::int64_t>(std::time(nullptr)), &nowDate, &nowTime);
    entry.createDate = nowDate;
    entry.createTime = nowTime;
    entry.accessDate = nowDate;
    entry.writeDate = writeDate;
    entry.writeTime = writeTime;
    entry.clusterLow = static_cast<std::uint16_t>(first);
    if (layout_.type == FatType::kFat32) entry.clusterHigh = static_cast<std::uint16_t>(first >> 16);
    entry.size = static_cast<std::uint32_t>(file.size);
    if (names.needsLongName) entries = EncodeLongName(name, ShortNameChecksum(names.shortName));
    std::array<std::uint8_t, kDirEntrySize> shortEntry{};
    EncodeDirEntry(entry, shortEntry.data());
    entries.push_back(shortEntry);

    window = slots.Window(entries.size());
    if (window == slots.Count()) {
      // The folder is full: it grows by enough clusters, back to back, for the entries.
      if (folder == kRoot && layout_.type != FatType::kFat32) {
        rollback();
        return kErrorCannotMake;
      }
      const std::uint32_t count =
          static_cast<std::uint32_t>((entries.size() * kDirEntrySize + bpc - 1) / bpc);
      const std::vector<std::uint32_t> chain = Chain(folder);
      folderLast = chain.back();
      std::uint32_t start = 0;
      std::uint32_t run = 0;
      for (std::uint32_t c = 2; c <= layout_.clusterCount + 1 && run < count; ++c) {
        if (fat_->Get(c) == 0) {
          if (run == 0) start = c;
          ++run;
        } else {
          run = 0;
        }
      }
      if (run < count) {
        rollback();
        return kErrorDiskFull;
      }
      for (std::uint32_t i = 0; i < count; ++i) {
        growth.push_back(start + i);
        set(start + i, i + 1 < count ? start + i + 1 : fat_->EndMark());
      }
      for (std::uint32_t c : growth) {
        for (std::uint64_t i = 0; i < bpc / kDirEntrySize; ++i) {
          slots.offsets.push_back(layout_.ClusterOffset(c) + i * kDirEntrySize);
        }
      }
      slots.bytes.resize(slots.offsets.size() * kDirEntrySize, 0);
      window = slots.Window(entries.size());
      if (window == slots.Count()) {
        rollback();
        return kErrorCannotMake;
      }
    }
  }

  // From here on the disk changes.
  auto fail = [&](std::uint32_t error) {
    rollback();
    readOnly_ = true;
    return error;
  };
  if (!changing_) {
    if (!WriteStateMarks(false)) return fail(kErrorWriteFault);
    changing_ = true;
  }
  // On record before the FAT claims them, as the mover's claims are.
  if (journal_ != nullptr && !journal_->Record(RunsOfClusters(clusters))) return fail(kErrorWriteFault);
  if (!clusters.empty() && !WriteFat(clusters)) return fail(kErrorWriteFault);
  const std::uint32_t written = WriteContent(file, clusters);
  if (written == kErrorWriteFault) return fail(kErrorWriteFault);
  if (written != kErrorSuccess) {
    // The content could not be read: give the runs back.
    rollback();
    if (!WriteFat(clusters) || !FinishChanges()) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
    return written;
  }

  if (existing >= 0) {
    if (!io_->Flush()) return fail(kErrorWriteFault);
    FatNode& node = nodes_[static_cast<std::size_t>(existing)];
    const std::vector<std::uint32_t> old = Chain(existing);
    const FatNode saved = node;
    node.firstCluster = first;
    node.entry.clusterLow = static_cast<std::uint16_t>(first);
    node.entry.clusterHigh = layout_.type == FatType::kFat32 ? static_cast<std::uint16_t>(first >> 16) : 0;
    node.entry.writeDate = writeDate;
    node.entry.writeTime = writeTime;
    node.entry.size = static_cast<std::uint32_t>(file.size);
    std::uint8_t raw[kDirEntrySize];
    EncodeDirEntry(node.entry, raw);
    // Bytes 20..31: cluster high word, write time and date, cluster low word, size.
    if (!io_->Write(node.entryOffset + kEntryClusterHigh, raw + kEntryClusterHigh, kDirEntrySize - kEntryClusterHigh) ||
        !io_->Flush()) {
      node = saved;
      return fail(kErrorWriteFault);
    }
    // The new content is in place; from here on a failure only loses clusters.
    freeClusters_ -= static_cast<std::uint32_t>(clusters.size());
    for (std::uint32_t c : old) fat_->Set(c, 0);
    if (!old.empty() && !WriteFat(old)) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
    freeClusters_ += static_cast<std::uint32_t>(old.size());
    return FinishChanges() ? kErrorSuccess : kErrorWriteFault;
  }

  if (!growth.empty()) {
    if (!WriteFat(growth)) return fail(kErrorWriteFault);
    const std::vector<std::uint8_t> zeros(bpc, 0);
    for (std::uint32_t c : growth) {
      if (!io_->Write(layout_.ClusterOffset(c), zeros.data(), zeros.size())) return fail(kErrorWriteFault);
    }
  }
  // Free slots after the end mark and before the window become deleted slots; the slot
  // after the window, when it is past the end mark, must read as the end mark.
  const std::uint8_t deleted = kEntryDeleted;
  const std::uint8_t endMark = kEntryEnd;
  for (std::size_t i = slots.end; i < window; ++i) {
    if (!io_->Write(slots.offsets[i], &deleted, 1)) return fail(kErrorWriteFault);
  }
  const std::size_t after = window + entries.size();
  if (after < slots.Count() && after >= slots.end && after * kDirEntrySize < slots.bytes.size() &&
      slots.bytes[after * kDirEntrySize] != kEntryEnd) {
    if (!io_->Write(slots.offsets[after], &endMark, 1)) return fail(kErrorWriteFault);
  }
  if (!io_->Flush()) return fail(kErrorWriteFault);
  if (!growth.empty()) {
    set(folderLast, growth.front());
    if (!WriteFat({folderLast}) || !io_->Flush()) return fail(kErrorWriteFault);
  }

  // Commit: the entries in one write.
  std::vector<std::uint8_t> commit;
  for (const auto& e : entries) commit.insert(commit.end(), e.begin(), e.end());
  if (!io_->Write(slots.offsets[window], commit.data(), commit.size()) || !io_->Flush()) {
    return fail(kErrorWriteFault);
  }
  freeClusters_ -= static_cast<std::uint32_t>(clusters.size() + growth.size());

  FatNode node;
  node.entry = entry;
  node.shortName = ShortNameText(entry);
  node.hasLongName = names.needsLongName;
  node.name = names.needsLongName ? name : node.shortName;
  node.firstCluster = first;
  node.entryOffset = slots.offsets[window + entries.size() - 1];
  node.parent = folder;
  AddNode(std::move(node));
  return FinishChanges() ? kErrorSuccess : kErrorWriteFault;
}

}  // namespace platform::fat
