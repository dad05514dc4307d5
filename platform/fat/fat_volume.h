// One FAT volume: its layout, its FAT, and its folder tree, validated at open.
//
// Open reads the boot sector, the FAT copy in use and every folder, and checks that
// each chain stays inside the volume, ends properly, has the length its entry's size
// calls for, and shares no cluster with another chain (loops, cross-links and folder
// cycles all show up as a cluster claimed twice). Every cluster is claimed at most once,
// so the walk is bounded by the cluster count whatever the image holds. A volume that
// fails any check is kept read-only. Moves change only chains and first clusters;
// new files (file_creator.cpp) add entries, and clusters to their folder when it is full.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "boot_sector.h"
#include "dir_entry.h"
#include "fat_table.h"
#include "platform/fat_io.h"
#include "platform/machine.h"

namespace platform::fat {

struct FatNode {
  std::string name;           // as Windows shows it: the long name, else the 8.3 name
  std::string shortName;      // the 8.3 name, case flags applied
  bool hasLongName = false;
  bool dot = false;           // a "." or ".." entry
  DirEntry entry{};           // the short entry as read (attributes, times, size)
  std::uint32_t firstCluster = 0;  // 0 = no clusters
  std::uint64_t entryOffset = 0;   // byte offset of the short entry; 0 for the root
  std::int32_t parent = -1;
  std::vector<std::int32_t> children;  // on-disk order

  bool IsFolder() const { return (entry.attributes & kAttrDirectory) != 0; }
};

class FatVolume {
 public:
  // Opens the volume held by `io`. Returns null when it cannot be served (bad boot
  // sector, truncated image, read error); otherwise *status tells whether it is
  // writable (kOk) or why it is read-only.
  static std::unique_ptr<FatVolume> Open(std::unique_ptr<FatIo> io, FatOpenStatus* status);
  ~FatVolume();

  const FatLayout& Layout() const { return layout_; }
  const FatTable& Fat() const { return *fat_; }
  bool ReadOnly() const { return readOnly_; }
  const std::string& Label() const { return label_; }
  // The first problem validation found, for diagnostics; empty when none.
  const std::string& Problem() const { return problem_; }

  static constexpr std::int32_t kRoot = 0;
  const FatNode& Node(std::int32_t index) const { return nodes_[static_cast<std::size_t>(index)]; }
  // The node at `path` (components split by '\' or '/', relative to the root, compared
  // case-insensitively with long and short names); -1 when there is none.
  std::int32_t Find(const std::string& path) const;
  // The FAT clusters of a node's chain, in order.
  std::vector<std::uint32_t> Chain(std::int32_t node) const;
  std::uint32_t FreeClusters() const { return freeClusters_; }

  // Moves `count` clusters of `node` from virtual cluster `vcn` to logical clusters
  // `lcn` onwards (logical cluster 0 = FAT cluster 2), crash-safely (see mover.cpp).
  // Returns a Windows error code.
  [[nodiscard]] std::uint32_t MoveClusters(std::int32_t node, std::int64_t vcn, std::int64_t lcn,
                                           std::uint32_t count);

  // Creates the file at `path` (relative to the root) on the logical clusters
  // `file.runs`, crash-safely (see file_creator.cpp). Returns a Windows error code as
  // Machine::CreateFileInRuns documents.
  [[nodiscard]] std::uint32_t CreateFileInRuns(const std::string& path, const NewFileData& file);

 private:
  FatVolume() = default;
  FatOpenStatus Load();
  bool CheckMirrors();
  bool WalkTree();
  bool ClaimChain(std::uint32_t first, std::int64_t expected, std::vector<std::uint32_t>* chain);
  bool ReadFolder(std::int32_t folder, const std::vector<std::uint32_t>& chain, int depth,
                  std::vector<std::pair<std::int32_t, int>>* pending);
  bool ParseEntries(std::int32_t folder, const std::uint8_t* data, std::size_t size, std::uint64_t diskOffset,
                    int depth, LongNameCollector* names, bool* ended,
                    std::vector<std::pair<std::int32_t, int>>* pending);
  void CheckLostChains();
  void IndexNames();
  void Inconsistent(const std::string& why);

  // mover.cpp
  bool WriteEntries(std::vector<std::uint32_t> clusters);
  bool BeginChange();
  bool EndChange();
  bool CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to);
  bool WriteFirstCluster(FatNode& node, std::uint32_t cluster);

  // file_creator.cpp
  struct FolderSlots;
  bool ReadFolderSlots(std::int32_t folder, FolderSlots* slots);
  std::uint32_t WriteContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters);
  void AddNode(FatNode node);

  std::unique_ptr<FatIo> io_;
  FatLayout layout_;
  std::unique_ptr<FatTable> fat_;
  std::vector<FatNode> nodes_;
  // Folder index and folded name (long and short) to node, for path lookups; the first
  // entry of a folder wins when two share a name.
  std::unordered_map<std::string, std::int32_t> names_;
  std::vector<std::uint8_t> state_;  // per cluster during open: see fat_volume.cpp
  std::string label_;
  std::string problem_;
  std::uint32_t freeClusters_ = 0;
  bool readOnly_ = false;
  bool inconsistent_ = false;
  bool wasDirty_ = false;  // dirty before we opened it: left dirty
};

}  // namespace platform::fat
