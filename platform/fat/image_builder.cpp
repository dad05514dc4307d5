// Formatting FAT images and placing folders and files on exactly the clusters asked for.
//
// Create computes a layout the way mkfs.fat does (1 reserved sector on FAT12/16 and a
// 512-entry root folder; 32 reserved sectors, FSInfo at 1 and a boot-sector copy at 6
// on FAT32; two FATs sized for the clusters they describe). Add* records the tree and
// claims the clusters given. Build first sizes every folder from its entries, then
// places what was not placed, then writes boot sectors, FATs, folders and file data.
#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "boot_sector.h"
#include "dir_entry.h"
#include "fat_table.h"
#include "le.h"
#include "platform/fat_image_builder.h"
#include "platform/path_parts.h"

namespace platform::fat {
namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kRootEntries = 512;
// 2024-01-01 12:00:00, for every time stamp: images are byte-for-byte reproducible.
constexpr std::uint16_t kDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
constexpr std::uint16_t kTime = 12 << 11;

bool BadNameChar(char c) {
  return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

}  // namespace

struct FatImageBuilder::Impl {
  struct Item {
    std::string name;
    bool folder = false;
    std::uint8_t attributes = 0;
    std::string content;
    std::vector<ClusterRun> runs;        // as given
    std::vector<std::uint32_t> clusters; // FAT clusters, after layout
    int parent = -1;
    std::vector<int> children;
    std::uint8_t shortName[11]{};
    std::uint8_t caseFlags = 0;
    bool longName = false;
  };

  FatImageOptions options;
  FatLayout layout;
  std::uint32_t reservedSectors = 0;
  std::uint32_t sectorsPerFat = 0;
  std::vector<Item> items;            // items[0] is the root
  std::vector<std::uint8_t> claimed;  // per FAT cluster: 0 free, 1 used, 2 bad
  std::string error;
  bool placed = false;  // Build has placed everything

  bool Fail(const std::string& why) {
    error = why;
    return false;
  }

  std::uint32_t EntriesOf(const Item& folder) const {
    std::uint32_t n = folder.parent < 0 ? (options.label.empty() ? 0 : 1) : 2;
    for (int child : folder.children) {
      const Item& c = items[static_cast<std::size_t>(child)];
      n += 1 + (c.longName ? static_cast<std::uint32_t>((c.name.size() + 12) / 13) : 0);
    }
    return n;
  }

  int FindChild(int folder, const std::string& name) const {
    for (int child : items[static_cast<std::size_t>(folder)].children) {
      if (SameName(items[static_cast<std::size_t>(child)].name, name)) return child;
    }
    return -1;
  }

  // Finds the parent folder of `path` and the last component.
  bool Split(const std::string& path, int* parent, std::string* name) {
    const std::vector<std::string> parts = PathComponents(path);
    if (parts.empty()) return Fail("empty path");
    int at = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      at = FindChild(at, parts[i]);
      if (at < 0 || !items[static_cast<std::size_t>(at)].folder) return Fail("no folder " + parts[i]);
    }
    *parent = at;
    *name = parts.back();
    if (name->size() > 255 || *name == "." || *name == ".." ||
        std::any_of(name->begin(), name->end(), BadNameChar) || name->back() == ' ' || name->back() == '.') {
      return Fail("bad name " + *name);
    }
    if (FindChild(at, *name) >= 0) return Fail("duplicate name " + *name);
    return true;
  }

  bool Claim(const std::vector<ClusterRun>& runs, std::vector<std::uint32_t>* clusters) {
    for (const ClusterRun& r : runs) {
      if (r.length == 0 || std::uint64_t{r.lcn} + r.length > layout.clusterCount) return Fail("run outside the volume");
      if (layout.type == FatType::kFat32 && r.lcn == 0) return Fail("logical cluster 0 holds the FAT32 root");
      for (std::uint32_t i = 0; i < r.length; ++i) {
        if (claimed[r.lcn + i + 2] != 0) return Fail("cluster " + std::to_string(r.lcn + i) + " claimed twice");
      }
    }
    for (const ClusterRun& r : runs) {
      for (std::uint32_t i = 0; i < r.length; ++i) {
        claimed[r.lcn + i + 2] = 1;
        clusters->push_back(r.lcn + i + 2);
      }
    }
    return true;
  }

  // Gives `item` `count` more clusters: the lowest free run that holds them all, else
  // the lowest free clusters.
  bool Place(Item& item, std::uint32_t count) {
    const std::uint32_t last = layout.clusterCount + 1;
    std::uint32_t runStart = 0;
    std::uint32_t runLength = 0;
    for (std::uint32_t c = 2; c <= last && runLength < count; ++c) {
      if (claimed[c] != 0) {
        runLength = 0;
        continue;
      }
      if (runLength == 0) runStart = c;
      ++runLength;
    }
    if (runLength >= count) {
      for (std::uint32_t i = 0; i < count; ++i) {
        claimed[runStart + i] = 1;
        item.clusters.push_back(runStart + i);
      }
      return true;
    }
    std::vector<std::uint32_t> found;
    for (std::uint32_t c = 2; c <= last && found.size() < count; ++c) {
      if (claimed[c] == 0) found.push_back(c);
    }
    if (found.size() < count) return Fail("volume full");
    for (std::uint32_t c : found) {
      claimed[c] = 1;
      item.clusters.push_back(c);
    }
    return true;
  }

  void NameEntries(Item& item, int parent) {
    std::set<std::string> used;
    for (int sibling : items[static_cast<std::size_t>(parent)].children) {
      const Item& s = items[static_cast<std::size_t>(sibling)];
      used.insert(std::string(reinterpret_cast<const char*>(s.shortName), 11));
    }
    if (StoreAsShortName(item.name, item.shortName, &item.caseFlags) &&
        used.count(std::string(reinterpret_cast<const char*>(item.shortName), 11)) == 0) {
      item.longName = false;
      return;
    }
    item.longName = true;
    item.caseFlags = 0;
    for (int n = 1;; ++n) {
      MakeShortAlias(item.name, n, item.shortName);
      if (used.count(std::string(reinterpret_cast<const char*>(item.shortName), 11)) == 0) return;
    }
  }

  void WriteEntry(std::uint8_t* at, const std::uint8_t name[11], std::uint8_t attributes, std::uint8_t caseFlags,
                  std::uint32_t cluster, std::uint32_t size) const {
    DirEntry e{};
    std::memcpy(e.name, name, 11);
    e.attributes = attributes;
    e.caseFlags = caseFlags;
    e.createTime = kTime;
    e.createDate = kDate;
    e.accessDate = kDate;
    e.writeTime = kTime;
    e.writeDate = kDate;
    e.clusterLow = static_cast<std::uint16_t>(cluster);
    e.clusterHigh = layout.type == FatType::kFat32 ? static_cast<std::uint16_t>(cluster >> 16) : 0;
    e.size = size;
    EncodeDirEntry(e, at);
  }

  std::vector<std::uint8_t> FolderBytes(const Item& folder, std::size_t size) const {
    std::vector<std::uint8_t> bytes(size, 0);
    std::uint8_t* at = bytes.data();
    if (folder.parent < 0) {
      if (!options.label.empty()) {
        std::uint8_t label[11];
        std::memset(label, ' ', 11);
        for (std::size_t i = 0; i < options.label.size() && i < 11; ++i) {
          label[i] = static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(options.label[i])));
        }
        WriteEntry(at, label, kAttrVolumeLabel, 0, 0, 0);
        at += kDirEntrySize;
      }
    } else {
      std::uint8_t dot[11];
      std::memset(dot, ' ', 11);
      dot[0] = '.';
      WriteEntry(at, dot, kAttrDirectory, 0, folder.clusters.front(), 0);
      at += kDirEntrySize;
      dot[1] = '.';
      const Item& parent = items[static_cast<std::size_t>(folder.parent)];
      WriteEntry(at, dot, kAttrDirectory, 0, parent.parent < 0 ? 0 : parent.clusters.front(), 0);
      at += kDirEntrySize;
    }
    for (int child : folder.children) {
      const Item& c = items[static_cast<std::size_t>(child)];
      if (c.longName) {
        for (const auto& lfn : EncodeLongName(c.name, ShortNameChecksum(c.shortName))) {
          std::memcpy(at, lfn.data(), kDirEntrySize);
          at += kDirEntrySize;
        }
      }
      const std::uint8_t attributes = static_cast<std::uint8_t>(c.attributes | (c.folder ? kAttrDirectory : 0));
      WriteEntry(at, c.shortName, attributes, c.caseFlags, c.clusters.empty() ? 0 : c.clusters.front(),
                 c.folder ? 0 : static_cast<std::uint32_t>(c.content.size()));
      at += kDirEntrySize;
    }
    return bytes;
  }
};

FatImageBuilder::FatImageBuilder() : impl_(std::make_unique<Impl>()) {}
FatImageBuilder::~FatImageBuilder() = default;

std::unique_ptr<FatImageBuilder> FatImageBuilder::Create(const FatImageOptions& options, std::string* error) {
  auto fail = [error](const std::string& why) -> std::unique_ptr<FatImageBuilder> {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  const std::uint32_t bpc = options.bytesPerCluster;
  if (bpc < kSector || bpc > 65536 || (bpc & (bpc - 1)) != 0) return fail("cluster size must be a power of two, 512 to 65536");
  if (options.sizeBytes % kSector != 0 || options.sizeBytes / kSector > 0xFFFFFFFFull) return fail("bad image size");
  if (options.label.size() > 11) return fail("label longer than 11 characters");
  const bool fat32 = options.type == FatType::kFat32;
  const std::uint64_t total = options.sizeBytes / kSector;
  const std::uint32_t spc = bpc / kSector;
  const std::uint32_t reserved = fat32 ? 32 : 1;
  const std::uint32_t rootSectors = fat32 ? 0 : kRootEntries * kDirEntrySize / kSector;
  const std::uint32_t bits = options.type == FatType::kFat12 ? 12 : options.type == FatType::kFat16 ? 16 : 32;
  std::uint64_t fatSectors = 1;
  std::uint64_t clusters = 0;
  for (int round = 0; round < 64; ++round) {
    const std::uint64_t meta = reserved + rootSectors + 2 * fatSectors;
    if (meta >= total) return fail("image too small");
    clusters = (total - meta) / spc;
    const std::uint64_t need = ((clusters + 2) * bits / 8 + 1 + kSector - 1) / kSector;
    if (need <= fatSectors) break;
    fatSectors = need;
  }
  const bool fits = options.type == FatType::kFat12   ? clusters >= 1 && clusters <= kFat12MaxClusters
                    : options.type == FatType::kFat16 ? clusters >= kFat12MaxClusters + 3 && clusters <= kFat16MaxClusters
                                                      : clusters >= kFat16MaxClusters + 3 && clusters <= 0x0FFFFFF5;
  if (!fits) {
    return fail("size and cluster size give " + std::to_string(clusters) + " clusters, not a " +
                FatTypeName(options.type) + " volume");
  }
  if (!fat32 && fatSectors > 0xFFFF) return fail("FAT too large");

  std::unique_ptr<FatImageBuilder> builder(new FatImageBuilder());
  Impl& m = *builder->impl_;
  m.options = options;
  m.reservedSectors = reserved;
  m.sectorsPerFat = static_cast<std::uint32_t>(fatSectors);
  FatLayout& l = m.layout;
  l.type = options.type;
  l.bytesPerSector = kSector;
  l.sectorsPerCluster = spc;
  l.bytesPerCluster = bpc;
  l.clusterCount = static_cast<std::uint32_t>(clusters);
  l.fatOffset = std::uint64_t{reserved} * kSector;
  l.fatBytes = fatSectors * kSector;
  l.fatCount = 2;
  l.rootOffset = l.fatOffset + 2 * l.fatBytes;
  l.rootEntries = fat32 ? 0 : kRootEntries;
  l.dataOffset = l.rootOffset + std::uint64_t{rootSectors} * kSector;
  l.rootCluster = fat32 ? 2 : 0;
  l.volumeBytes = total * kSector;
  m.claimed.assign(std::size_t{l.clusterCount} + 2, 0);
  Impl::Item root;
  root.folder = true;
  root.attributes = kAttrDirectory;
  if (fat32) {
    m.claimed[2] = 1;
    root.clusters.push_back(2);
  }
  m.items.push_back(root);
  return builder;
}

std::uint32_t FatImageBuilder::ClusterCount() const { return impl_->layout.clusterCount; }
std::uint32_t FatImageBuilder::BytesPerCluster() const { return impl_->layout.bytesPerCluster; }
const std::string& FatImageBuilder::Error() const { return impl_->error; }

bool FatImageBuilder::AddFolder(const std::string& path, const std::vector<ClusterRun>& runs, std::uint8_t attributes) {
  Impl& m = *impl_;
  if (m.placed) return m.Fail("image already built");
  int parent = 0;
  Impl::Item item;
  if (!m.Split(path, &parent, &item.name)) return false;
  if (!m.Claim(runs, &item.clusters)) return false;
  item.folder = true;
  item.attributes = static_cast<std::uint8_t>((attributes & (kFatReadOnly | kFatHidden | kFatSystem | kFatArchive)));
  item.runs = runs;
  item.parent = parent;
  m.NameEntries(item, parent);
  m.items[static_cast<std::size_t>(parent)].children.push_back(static_cast<int>(m.items.size()));
  m.items.push_back(std::move(item));
  return true;
}

namespace {

// A FAT file holds at most 4 GiB - 1 bytes (a size only a 64-bit size_t can exceed).
bool TooLargeForFat(std::uint64_t bytes) { return bytes > 0xFFFFFFFFull; }

}  // namespace

bool FatImageBuilder::AddFile(const std::string& path, const std::string& content, const std::vector<ClusterRun>& runs,
                              std::uint8_t attributes) {
  Impl& m = *impl_;
  if (m.placed) return m.Fail("image already built");
  if (TooLargeForFat(content.size())) return m.Fail("file too large");
  int parent = 0;
  Impl::Item item;
  if (!m.Split(path, &parent, &item.name)) return false;
  const std::uint64_t need = (content.size() + m.layout.bytesPerCluster - 1) / m.layout.bytesPerCluster;
  std::uint64_t given = 0;
  for (const ClusterRun& r : runs) given += r.length;
  if (!runs.empty() && given != need) return m.Fail("runs of " + item.name + " do not match its size");
  if (!m.Claim(runs, &item.clusters)) return false;
  item.attributes = static_cast<std::uint8_t>(attributes & (kFatReadOnly | kFatHidden | kFatSystem | kFatArchive));
  item.content = content;
  item.runs = runs;
  item.parent = parent;
  m.NameEntries(item, parent);
  m.items[static_cast<std::size_t>(parent)].children.push_back(static_cast<int>(m.items.size()));
  m.items.push_back(std::move(item));
  return true;
}

bool FatImageBuilder::MarkBad(std::uint32_t lcn) {
  Impl& m = *impl_;
  if (m.placed) return m.Fail("image already built");
  if (lcn >= m.layout.clusterCount || m.claimed[lcn + 2] != 0) return m.Fail("cannot mark cluster bad");
  m.claimed[lcn + 2] = 2;
  return true;
}

bool FatImageBuilder::Build(std::vector<std::uint8_t>* image) {
  Impl& m = *impl_;
  const FatLayout& l = m.layout;
  const std::uint32_t bpc = l.bytesPerCluster;
  const bool fat32 = l.type == FatType::kFat32;

  // Folders first (their size follows from their entries), then files, in the order added.
  for (std::size_t i = 0; i < m.items.size() && !m.placed; ++i) {
    Impl::Item& item = m.items[i];
    if (!item.folder) continue;
    const std::uint64_t bytes = std::uint64_t{m.EntriesOf(item)} * kDirEntrySize;
    if (i == 0 && !fat32) {
      if (bytes > std::uint64_t{kRootEntries} * kDirEntrySize) return m.Fail("root folder full");
      continue;
    }
    const auto need = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (bytes + bpc - 1) / bpc));
    if (item.clusters.size() < need) {
      if (!item.runs.empty()) return m.Fail("folder " + item.name + " outgrows its runs");
      if (!m.Place(item, need - static_cast<std::uint32_t>(item.clusters.size()))) return false;
    }
  }
  for (Impl::Item& item : m.items) {
    if (m.placed || item.folder || !item.runs.empty() || item.content.empty()) continue;
    if (!m.Place(item, static_cast<std::uint32_t>((item.content.size() + bpc - 1) / bpc))) return false;
  }
  m.placed = true;

  std::vector<std::uint8_t>& img = *image;
  img.assign(static_cast<std::size_t>(m.options.sizeBytes), 0);

  // Boot sector.
  std::uint8_t* b = img.data();
  b[0] = 0xEB;
  b[1] = fat32 ? 0x58 : 0x3C;
  b[2] = 0x90;
  std::memcpy(b + 3, "TOLVANE ", 8);
  PutLe16(b + 11, kSector);
  b[13] = static_cast<std::uint8_t>(l.sectorsPerCluster);
  PutLe16(b + 14, m.reservedSectors);
  b[16] = 2;
  PutLe16(b + 17, fat32 ? 0 : kRootEntries);
  const std::uint64_t totalSectors = l.volumeBytes / kSector;
  if (totalSectors < 65536 && !fat32) {
    PutLe16(b + 19, static_cast<std::uint32_t>(totalSectors));
  } else {
    PutLe32(b + 32, static_cast<std::uint32_t>(totalSectors));
  }
  b[21] = 0xF8;
  PutLe16(b + 24, 32);  // sectors per track
  PutLe16(b + 26, 64);  // heads
  std::uint8_t label[11];
  std::memset(label, ' ', 11);
  if (m.options.label.empty()) {
    std::memcpy(label, "NO NAME    ", 11);
  } else {
    for (std::size_t i = 0; i < m.options.label.size(); ++i) {
      label[i] = static_cast<std::uint8_t>(std::toupper(static_cast<unsigned char>(m.options.label[i])));
    }
  }
  std::uint8_t* ext = b + (fat32 ? 64 : 36);
  if (fat32) {
    PutLe32(b + 36, m.sectorsPerFat);
    PutLe32(b + 44, l.rootCluster);
    PutLe16(b + 48, 1);  // FSInfo
    PutLe16(b + 50, 6);  // boot sector copy
  } else {
    PutLe16(b + 22, m.sectorsPerFat);
  }
  ext[0] = 0x80;  // drive number
  ext[2] = 0x29;  // extended boot signature
  PutLe32(ext + 3, 0x1D0C2024);
  std::memcpy(ext + 7, label, 11);
  std::memcpy(ext + 18, l.type == FatType::kFat12 ? "FAT12   " : l.type == FatType::kFat16 ? "FAT16   " : "FAT32   ", 8);
  b[510] = 0x55;
  b[511] = 0xAA;

  // FAT.
  std::vector<std::uint8_t> fatBytes(static_cast<std::size_t>(l.fatBytes), 0);
  FatTable fat(l.type, l.clusterCount, std::move(fatBytes));
  fat.Set(0, (fat.EndMark() & ~0xFFu) | 0xF8);
  fat.Set(1, fat.EndMark());
  for (std::uint32_t c = 2; c <= l.clusterCount + 1; ++c) {
    if (m.claimed[c] == 2) fat.Set(c, fat.BadMark());
  }
  for (const Impl::Item& item : m.items) {
    for (std::size_t i = 0; i < item.clusters.size(); ++i) {
      fat.Set(item.clusters[i], i + 1 < item.clusters.size() ? item.clusters[i + 1] : fat.EndMark());
    }
  }
  std::uint32_t freeCount = 0;
  for (std::uint32_t c = 2; c <= l.clusterCount + 1; ++c) freeCount += fat.Get(c) == 0 ? 1 : 0;
  for (std::uint32_t copy = 0; copy < 2; ++copy) {
    std::memcpy(img.data() + l.FatCopyOffset(copy), fat.Bytes().data(), fat.Bytes().size());
  }

  if (fat32) {
    std::uint8_t* info = img.data() + kSector;
    PutLe32(info, 0x41615252);
    PutLe32(info + 484, 0x61417272);
    PutLe32(info + 488, freeCount);
    PutLe32(info + 492, 0xFFFFFFFF);
    PutLe32(info + 508, 0xAA550000);
    std::memcpy(img.data() + 6 * kSector, img.data(), 2 * kSector);  // boot sector and FSInfo copies
    // The FAT32 boot area carries the signature at the end of sector 2 as well.
    img[2 * kSector + 510] = 0x55;
    img[2 * kSector + 511] = 0xAA;
    img[8 * kSector + 510] = 0x55;
    img[8 * kSector + 511] = 0xAA;
  }

  // Folders and file data.
  for (std::size_t i = 0; i < m.items.size(); ++i) {
    const Impl::Item& item = m.items[i];
    if (item.folder) {
      if (i == 0 && !fat32) {
        const auto bytes = m.FolderBytes(item, std::size_t{kRootEntries} * kDirEntrySize);
        std::memcpy(img.data() + l.rootOffset, bytes.data(), bytes.size());
        continue;
      }
      const auto bytes = m.FolderBytes(item, item.clusters.size() * bpc);
      for (std::size_t k = 0; k < item.clusters.size(); ++k) {
        std::memcpy(img.data() + l.ClusterOffset(item.clusters[k]), bytes.data() + k * bpc, bpc);
      }
    } else {
      for (std::size_t k = 0; k < item.clusters.size(); ++k) {
        const std::size_t from = k * bpc;
        const std::size_t n = std::min<std::size_t>(bpc, item.content.size() - from);
        std::memcpy(img.data() + l.ClusterOffset(item.clusters[k]), item.content.data() + from, n);
      }
    }
  }
  return true;
}

bool FatImageBuilder::Save(const std::string& path) {
  std::vector<std::uint8_t> image;
  if (!Build(&image)) return false;
  // Blocks of zeros are left as holes: a large, mostly empty image costs little disk.
  constexpr std::size_t kBlock = 64 * 1024;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::size_t at = 0; at < image.size() && out; at += kBlock) {
    const std::size_t n = std::min(kBlock, image.size() - at);
    const auto* block = image.data() + at;
    if (std::all_of(block, block + n, [](std::uint8_t v) { return v == 0; })) continue;
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(block), static_cast<std::streamsize>(n));
  }
  out.close();
  std::error_code resized;
  if (out) std::filesystem::resize_file(path, image.size(), resized);
  if (!out || resized) return impl_->Fail("cannot write " + path);
  return true;
}

}  // namespace platform::fat
