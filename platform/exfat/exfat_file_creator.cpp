// Creating an exFAT file on clusters chosen by the caller, in an order that survives a
// crash at any write, with any of the writes since the last flush lost.
//
// Everything is planned in memory first: the entry set (File, Stream Extension, File
// Name entries, SetChecksum, the name hash through the up-case table), the folder slots
// it goes to, and how a folder without room grows. The slots are free entries of the
// folder whose whole set lies in one sector; free slots at the folder's end that lie
// before them become deleted entries, so no end-of-folder entry hides the set. Then:
//   0. An open group of moves is committed first (the provider does so); the job's
//      first write sets VolumeDirty (with a flush of its own).
//   1. The content is written into the runs (the last cluster's tail zero-filled), the
//      runs claimed in the bitmap and, for a file in more than one run, linked as one
//      FAT chain with its end mark (a file in one run is NoFatChain). A folder that grows
//      gets its new clusters claimed and written here too, already holding the new set:
//      the root folder one more cluster with its end mark in the FAT; any other folder
//      a copy of itself in a new NoFatChain run one cluster longer. Flush.
//   2. Commit, one write within one sector; flush:
//        - a new entry set in free slots: the set;
//        - a root folder that grows: the FAT entry linking its last cluster to the new one;
//        - another folder that grows: the folder's File and Stream Extension entries in
//          its parent (new first cluster, NoFatChain, length, SetChecksum);
//        - a replacement: the old file's File and Stream Extension entries (new first
//          cluster, flags, lengths, modification time, SetChecksum); its name stays.
//   3. The clusters given up (a replaced file's, a moved folder's old ones) are freed in
//      the bitmap and the FAT; the job's end flushes them and clears VolumeDirty.
// Until step 2 reaches the disk nothing names the new clusters, so a crash leaves at
// worst lost clusters; after it the whole content is in place. A failed write or flush
// leaves the volume read-only for the rest of the session; a content read that fails
// leaves nothing claimed.
#include <algorithm>
#include <cstring>
#include <ctime>

#include "../fat/le.h"
#include "../fat/short_alias.h"
#include "exfat_volume.h"
#include "platform/new_file_runs.h"
#include "platform/name_text.h"
#include "platform/path_parts.h"
#include "platform/win_types.h"

namespace platform::exfat {

using platform::fat::Le32;
using platform::fat::PutLe16;
using platform::fat::PutLe32;

namespace {

constexpr std::uint8_t kTypeDeletedFile = kTypeFile & ~kTypeInUse;
constexpr std::size_t kFileCreateUtcOffset = 22;
constexpr std::size_t kFileModifyUtcOffset = 23;
constexpr std::size_t kFileAccessUtcOffset = 24;

void PutLe64(std::uint8_t* p, std::uint64_t v) {
  PutLe32(p, static_cast<std::uint32_t>(v));
  PutLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// Days from 1970-01-01 to a civil date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t SecondsOf(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1), static_cast<unsigned>(t.tm_mday)) * 86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

// An exFAT timestamp: local time (DOS date high, DOS time low), its 10 ms increment and
// the UTC offset byte (valid bit and 15-minute units).
struct Stamp {
  std::uint32_t time = (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
  std::uint8_t tenMs = 0;
  std::uint8_t utcOffset = 0;
};

Stamp ExfatStamp(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm local{};
  std::tm utc{};
#ifdef _WIN32
  const bool ok = localtime_s(&local, &t) == 0 && gmtime_s(&utc, &t) == 0;
#else
  const bool ok = localtime_r(&t, &local) != nullptr && gmtime_r(&t, &utc) != nullptr;
#endif
  Stamp s;
  if (!ok || local.tm_year < 80 || local.tm_year > 207) return s;
  const std::uint32_t date = static_cast<std::uint32_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const std::uint32_t time = static_cast<std::uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  s.time = (date << 16) | time;
  s.tenMs = static_cast<std::uint8_t>((local.tm_sec % 2) * 100);
  const std::int64_t quarters = (SecondsOf(local) - SecondsOf(utc)) / 900;
  if (quarters >= -48 && quarters <= 56) s.utcOffset = static_cast<std::uint8_t>(0x80 | (quarters & 0x7F));
  return s;
}

}  // namespace

std::uint32_t ExfatVolume::WriteNewContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters) {
  return WriteNewFileContent(file, clusters, layout_.bytesPerCluster,
                             [this](std::uint32_t cluster) { return layout_.ClusterOffset(cluster); }, io_.get());
}

std::uint32_t ExfatVolume::CreateFileInRuns(const std::string& path, const NewFileData& file) {
  if (readOnly_) return kErrorWriteProtect;
  if (!CommitGroup()) return kErrorWriteFault;
  std::vector<std::string> parts = PathComponents(path);
  if (parts.empty()) return kErrorInvalidName;
  std::string name;
  if (!platform::fat::CleanLongName(parts.back(), &name)) return kErrorInvalidName;
  parts.pop_back();
  std::string folderPath;
  for (const std::string& part : parts) folderPath += "\\" + part;
  const std::int32_t folder = Find(folderPath);
  if (folder < 0 || !Node(folder).IsFolder()) return kErrorPathNotFound;
  if (!file.read) return kErrorInvalidParameter;
  std::u16string wide;
  if (!platform::NameToUtf16(name, &wide)) return kErrorInvalidName;

  const std::int32_t existing = Find(folderPath + "\\" + name);
  if (existing >= 0) {
    if (!file.replace) return kErrorFileExists;
    const ExfatNode& old = Node(existing);
    if (old.IsFolder() || (old.attributes & (kAttrReadOnly | kAttrSystem)) != 0) return kErrorAccessDenied;
    // No single-sector commit exists for it.
    if (Straddles(old)) return kErrorFileSystemLimitation;
  }

  // The runs: exactly the clusters the size needs, inside the volume, free in memory and on disk.
  const std::uint64_t bpc = layout_.bytesPerCluster;
  const std::uint64_t needed = (file.size + bpc - 1) / bpc;
  if (needed > layout_.clusterCount) return kErrorDiskFull;
  std::vector<std::uint32_t> clusters;
  if (const std::uint32_t rc = ClustersOfNewFile(file, bpc, layout_.clusterCount, &clusters); rc != kErrorSuccess) {
    return rc;
  }
  for (std::uint32_t c : clusters) {
    if (Used(c)) return kErrorAccessDenied;
  }
  for (const FileRun& run : file.runs) {
    if (!TargetFreeOnDisk(static_cast<std::uint32_t>(run.lcn + 2), static_cast<std::uint32_t>(run.clusters))) {
      readOnly_ = true;  // changed behind our back: trust nothing more
      return kErrorAccessDenied;
    }
  }
  bool oneRun = true;
  for (std::size_t i = 1; i < clusters.size(); ++i) oneRun = oneRun && clusters[i] == clusters[i - 1] + 1;
  const std::uint32_t first = clusters.empty() ? 0 : clusters.front();
  const std::uint8_t flags = static_cast<std::uint8_t>(kAllocationPossible | (!clusters.empty() && oneRun ? kNoFatChain : 0));
  const Stamp modified = ExfatStamp(file.lastWriteTime);

  // The entry set, or for a replacement the old one with new clusters, lengths and time.
  std::vector<std::uint8_t> set;
  if (existing >= 0) {
    set = Node(existing).set;
  } else {
    const std::size_t nameEntries = (wide.size() + kNameUnitsPerEntry - 1) / kNameUnitsPerEntry;
    set.assign((2 + nameEntries) * kEntrySize, 0);
    set[0] = kTypeFile;
    set[kFileSecondaryCount] = static_cast<std::uint8_t>(1 + nameEntries);
    PutLe16(set.data() + kFileAttributes, kAttrArchive);
    const Stamp now = ExfatStamp(static_cast<std::int64_t>(std::time(nullptr)));
    PutLe32(set.data() + kFileCreate, now.time);
    PutLe32(set.data() + kFileAccess, now.time);
    set[kFileCreate10ms] = now.tenMs;
    set[kFileCreateUtcOffset] = now.utcOffset;
    set[kFileAccessUtcOffset] = now.utcOffset;
    std::uint8_t* stream = set.data() + kEntrySize;
    stream[0] = kTypeStream;
    stream[kStreamNameLength] = static_cast<std::uint8_t>(wide.size());
    PutLe16(stream + kStreamNameHash, NameHash(wide, upcase_));
    for (std::size_t k = 0; k < nameEntries; ++k) {
      std::uint8_t* n = set.data() + (2 + k) * kEntrySize;
      n[0] = kTypeName;
      for (std::size_t u = 0; u < kNameUnitsPerEntry && k * kNameUnitsPerEntry + u < wide.size(); ++u) {
        PutLe16(n + 2 + 2 * u, wide[k * kNameUnitsPerEntry + u]);
      }
    }
  }
  PutLe32(set.data() + kFileModify, modified.time);
  set[kFileModify10ms] = modified.tenMs;
  set[kFileModifyUtcOffset] = modified.utcOffset;
  {
    std::uint8_t* stream = set.data() + kEntrySize;
    stream[kStreamFlags] = flags;
    PutLe64(stream + kStreamValidDataLength, file.size);
    PutLe32(stream + kStreamFirstCluster, first);
    PutLe64(stream + kStreamDataLength, file.size);
  }
  PutLe16(set.data() + kFileSetChecksum, SetChecksum(set.data(), set.size() / kEntrySize));

  // Where a new set goes, and how the folder grows when it has no room.
  const std::uint64_t bps = layout_.bytesPerSector;
  const std::size_t k = set.size() / kEntrySize;
  std::vector<std::uint32_t> folderChain;
  std::vector<std::uint8_t> data;
  std::size_t window = 0;
  std::vector<std::size_t> marks;   // slots past the end mark that become deleted entries
  std::size_t endAfter = 0;         // a slot after the set that must read as the end mark; 0 = none
  std::vector<std::uint32_t> growth;  // new clusters of the folder
  bool grows = false;
  if (existing < 0) {
    if (set.size() > bps) return kErrorFileSystemLimitation;  // no sector can hold the set
    folderChain = Chain(folder);
    if (!ReadFolderData(folderChain, &data)) return kErrorReadFault;
    const std::size_t oldSlots = data.size() / kEntrySize;
    std::size_t end = oldSlots;
    for (std::size_t i = 0; i < oldSlots; ++i) {
      if (data[i * kEntrySize] == kTypeEnd) {
        end = i;
        break;
      }
    }
    auto isFree = [&](std::size_t i) { return i >= end || (data[i * kEntrySize] & kTypeInUse) == 0; };
    auto find = [&](std::size_t slots) {
      std::size_t run = 0;
      for (std::size_t i = 0; i < slots; ++i) {
        const bool sameSector = run > 0 && (i * kEntrySize) / bps == ((i - run) * kEntrySize) / bps;
        run = isFree(i) ? (sameSector ? run + 1 : 1) : 0;
        if (run == k) return i + 1 - k;
      }
      return slots;
    };
    window = find(oldSlots);
    if (window == oldSlots) {
      // The folder grows by one cluster (a cluster is at least one sector, and the set fits one).
      const bool root = folder == kRoot;
      // The folder's own entry records its new size: it must lie in one sector.
      if (!root && Straddles(Node(folder))) return kErrorFileSystemLimitation;
      if (data.size() + bpc > (256u << 20)) return kErrorCannotMake;
      const std::uint32_t count = root ? 1 : static_cast<std::uint32_t>(folderChain.size() + 1);
      std::uint32_t run = 0;
      std::uint32_t start = 0;
      for (std::uint32_t c = 2; c - 2 < layout_.clusterCount && run < count; ++c) {
        const bool taken = Used(c) || std::find(clusters.begin(), clusters.end(), c) != clusters.end();
        if (taken) {
          run = 0;
        } else {
          if (run == 0) start = c;
          ++run;
        }
      }
      if (run < count) return kErrorDiskFull;
      if (!TargetFreeOnDisk(start, count)) {
        readOnly_ = true;
        return kErrorAccessDenied;
      }
      for (std::uint32_t i = 0; i < count; ++i) growth.push_back(start + i);
      grows = true;
      data.resize(data.size() + bpc, 0);
      window = find(data.size() / kEntrySize);
    }
    for (std::size_t i = end; i < window; ++i) {
      if (data[i * kEntrySize] == kTypeEnd) {
        data[i * kEntrySize] = kTypeDeletedFile;
        marks.push_back(i);
      }
    }
    const std::size_t after = window + k;
    if (after >= end && after < data.size() / kEntrySize && data[after * kEntrySize] != kTypeEnd) {
      std::fill(data.begin() + static_cast<std::ptrdiff_t>(after * kEntrySize),
                data.begin() + static_cast<std::ptrdiff_t>((after + 1) * kEntrySize), 0);
      endAfter = after;
    }
    std::copy(set.begin(), set.end(), data.begin() + static_cast<std::ptrdiff_t>(window * kEntrySize));
  }
  // Disk offset of byte `at` of the folder as it is now (before growth).
  auto diskOffset = [&](std::size_t at) { return layout_.ClusterOffset(folderChain[at / bpc]) + at % bpc; };

  // From here on the disk changes.
  if (!changing_) {
    if (!SetDirty(true)) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
    changing_ = true;
  }
  // On record before the bitmap claims them, as the mover's claims are.
  if (journal_ != nullptr && !journal_->Record(RunsOfClusters(clusters))) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  // 1. Content, claims, links, a grown folder's new clusters; flush.
  const std::uint32_t written = WriteNewContent(file, clusters);
  if (written == kErrorReadFault) return written;  // nothing is claimed yet
  if (written != kErrorSuccess) {
    readOnly_ = true;
    return kErrorWriteFault;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> undo;
  auto setFat = [&](std::uint32_t cluster, std::uint32_t value) {
    undo.emplace_back(cluster, fat_[cluster]);
    fat_[cluster] = value;
  };
  std::vector<std::uint32_t> claims = clusters;
  claims.insert(claims.end(), growth.begin(), growth.end());
  auto fail = [&]() {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) fat_[it->first] = it->second;
    for (std::uint32_t c : claims) SetBit(c, false);
    readOnly_ = true;
    return kErrorWriteFault;
  };
  for (std::uint32_t c : claims) SetBit(c, true);
  std::vector<std::uint32_t> links;
  if (!oneRun) {
    for (std::size_t i = 0; i < clusters.size(); ++i) setFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : kFatEnd);
    links = clusters;
  }
  const bool root = folder == kRoot;
  if (grows && root) {
    setFat(growth.front(), kFatEnd);
    links.push_back(growth.front());
  }
  if (!WriteBitmapBits(claims) || !WriteFatEntries(links)) return fail();
  if (grows) {
    // The new clusters hold the folder as it will be: the old part too, for a folder that moves.
    const std::size_t from = root ? data.size() - bpc : 0;
    if (!io_->Write(layout_.ClusterOffset(growth.front()), data.data() + from, data.size() - from)) return fail();
    if (root) {
      for (std::size_t i : marks) {
        if (i * kEntrySize < from && !io_->Write(diskOffset(i * kEntrySize), &kTypeDeletedFile, 1)) return fail();
      }
    }
  } else if (existing < 0) {
    for (std::size_t i : marks) {
      if (!io_->Write(diskOffset(i * kEntrySize), &kTypeDeletedFile, 1)) return fail();
    }
    if (endAfter != 0 && !io_->Write(diskOffset(endAfter * kEntrySize), data.data() + endAfter * kEntrySize, kEntrySize)) {
      return fail();
    }
  }
  if (!io_->Flush()) return fail();

  // 2. Commit; flush.
  std::vector<std::uint32_t> left;  // clusters given up
  std::uint64_t entryOffset = 0;
  if (existing >= 0) {
    ExfatNode& old = nodes_[static_cast<std::size_t>(existing)];
    if (!io_->Write(old.entryOffset, set.data(), 2 * kEntrySize) || !io_->Flush()) return fail();
    left = Chain(existing);
    old.set = set;
    old.firstCluster = first;
    old.flags = flags;
    old.dataLength = file.size;
    old.validDataLength = file.size;
    old.modifyTime = modified.time;
    old.modify10ms = modified.tenMs;
  } else if (grows && root) {
    setFat(folderChain.back(), growth.front());
    if (!WriteFatEntries({folderChain.back()}) || !io_->Flush()) return fail();
    nodes_[kRoot].dataLength += bpc;
    nodes_[kRoot].validDataLength += bpc;
    entryOffset = layout_.ClusterOffset(growth.front()) + (window * kEntrySize - (data.size() - bpc));
  } else if (grows) {
    ExfatNode& dir = nodes_[static_cast<std::size_t>(folder)];
    std::vector<std::uint8_t> parentSet = dir.set;
    std::uint8_t* stream = parentSet.data() + kEntrySize;
    stream[kStreamFlags] = static_cast<std::uint8_t>(stream[kStreamFlags] | kNoFatChain);
    PutLe32(stream + kStreamFirstCluster, growth.front());
    PutLe64(stream + kStreamDataLength, data.size());
    PutLe64(stream + kStreamValidDataLength, data.size());
    PutLe16(parentSet.data() + kFileSetChecksum, SetChecksum(parentSet.data(), parentSet.size() / kEntrySize));
    if (!io_->Write(dir.entryOffset, parentSet.data(), 2 * kEntrySize) || !io_->Flush()) return fail();
    left = folderChain;
    Relocated(folder, folderChain, growth.front());
    dir.set = std::move(parentSet);
    dir.firstCluster = growth.front();
    dir.flags = static_cast<std::uint8_t>(dir.flags | kNoFatChain);
    dir.dataLength = data.size();
    dir.validDataLength = data.size();
    entryOffset = layout_.ClusterOffset(growth.front()) + window * kEntrySize;
  } else {
    entryOffset = diskOffset(window * kEntrySize);
    if (!io_->Write(entryOffset, set.data(), set.size()) || !io_->Flush()) return fail();
  }
  freeClusters_ -= static_cast<std::uint32_t>(claims.size());

  if (existing < 0) {
    ExfatNode node;
    node.name = name;
    node.wideName = wide;
    node.attributes = kAttrArchive;
    node.createTime = Le32(set.data() + kFileCreate);
    node.accessTime = Le32(set.data() + kFileAccess);
    node.create10ms = set[kFileCreate10ms];
    node.modifyTime = modified.time;
    node.modify10ms = modified.tenMs;
    node.flags = flags;
    node.firstCluster = first;
    node.dataLength = file.size;
    node.validDataLength = file.size;
    node.entryOffset = entryOffset;
    node.streamOffset = entryOffset + kEntrySize;
    node.set = set;
    node.parent = folder;
    const auto index = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back(std::move(node));
    nodes_[static_cast<std::size_t>(folder)].children.push_back(index);
    names_.emplace(Key(folder, wide), index);
  }

  // 3. Frees, durable with the job's last flush.
  if (!left.empty()) {
    for (std::uint32_t c : left) {
      SetBit(c, false);
      fat_[c] = 0;
    }
    freeClusters_ += static_cast<std::uint32_t>(left.size());
    if (!WriteBitmapBits(left) || !WriteFatEntries(left)) {
      readOnly_ = true;
      return kErrorWriteFault;
    }
  }
  return FinishChanges() ? kErrorSuccess : kErrorWriteFault;
}

}  // namespace platform::exfat
