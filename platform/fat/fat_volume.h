// One FAT volume: its layout, its FAT, and its folder tree, validated at open.
//
// Open reads the boot sector, the FAT copy in use and every folder, and checks that
// each chain stays inside the volume, ends properly, has the length its entry's size
// calls for, and shares no cluster with another chain (loops, cross-links and folder
// cycles all show up as a cluster claimed twice). Every cluster is claimed at most once,
// so the walk is bounded by the cluster count whatever the image holds. A volume that
// fails any check is kept read-only; the checks go on to the end, so Damage() counts
// everything found. Moves change only chains and first clusters; new files
// (file_creator.cpp) add entries, and clusters to their folder when it is full.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "boot_sector.h"
#include "dir_entry.h"
#include "fat_table.h"
#include "platform/claim_journal.h"
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
  // writable (kOk) or why it is read-only; *damage (when not null) what validation found.
  // With `claims` (not null, a folder given), the volume keeps a claim record there
  // while a job writes (platform/claim_journal.h); a dirty mark is ours only when such a
  // record exists, and any other dirty or error mark keeps the volume read-only. With
  // claims->reclaim, a record found is acted on at open (*reclaimed says what was done).
  static std::unique_ptr<FatVolume> Open(std::unique_ptr<FatIo> io, FatOpenStatus* status,
                                         FatDamage* damage = nullptr, const ClaimOptions* claims = nullptr,
                                         ReclaimResult* reclaimed = nullptr);
  ~FatVolume();

  const FatLayout& Layout() const { return layout_; }
  const FatTable& Fat() const { return *fat_; }
  bool ReadOnly() const { return readOnly_; }
  const std::string& Label() const { return label_; }
  // The volume serial number of the boot sector; 0 when it holds none.
  std::uint32_t VolumeId() const { return volumeId_; }
  // The first problem validation found, for diagnostics; empty when none.
  const std::string& Problem() const { return problem_; }
  // Everything validation found, counted by kind.
  const FatDamage& Damage() const { return damage_; }

  static constexpr std::int32_t kRoot = 0;
  const FatNode& Node(std::int32_t index) const { return nodes_[static_cast<std::size_t>(index)]; }
  // The node at `path` (components split by '\' or '/', relative to the root, compared
  // case-insensitively with long and short names); -1 when there is none.
  std::int32_t Find(const std::string& path) const;
  // The FAT clusters of a node's chain, in order.
  std::vector<std::uint32_t> Chain(std::int32_t node) const;
  // How many different clusters the chain from `first` visits before it ends or meets
  // one of them again (0 when `first` is no cluster).
  std::uint64_t DistinctClusters(std::uint32_t first) const;
  std::uint32_t FreeClusters() const { return freeClusters_; }

  // Moves `count` clusters of `node` from virtual cluster `vcn` to logical clusters
  // `lcn` onwards (logical cluster 0 = FAT cluster 2), crash-safely (see mover.cpp).
  // The move joins the open group of moves: it takes effect in memory at once (Chain,
  // Fat) and reaches the disk when the group is committed. A move onto clusters the
  // group has vacated, or one that would make the group larger than its limits,
  // commits the group first. Returns a Windows error code.
  [[nodiscard]] std::uint32_t MoveClusters(std::int32_t node, std::int64_t vcn, std::int64_t lcn,
                                           std::uint32_t count);
  // Commits the open group of moves, if any: after it the moves are durable and the
  // clusters they vacated are free in memory (their free entries are written, durable
  // with the next flush). False when a write or flush failed: the volume is then
  // read-only, and the files read from their old clusters, or from the new ones when
  // the failure came after the commit.
  [[nodiscard]] bool CommitGroup();
  // The clusters the open group's files have left: still taken in the FAT until the
  // group is committed, but free as far as a new move is concerned (a move onto them
  // commits the group first). A volume bitmap shows them free.
  const std::vector<std::uint32_t>& VacatedClusters() const { return group_.vacated; }
  // Ends the job's writes: commits the open group, makes the last frees durable, then
  // writes the exact FSInfo free count and the clean mark (unless the volume was dirty
  // before it was opened). Nothing is written when nothing was moved since the last
  // call. False when a write failed (the volume stays dirty and read-only).
  [[nodiscard]] bool FinishChanges();

  // Creates the file at `path` (relative to the root) on the logical clusters
  // `file.runs`, crash-safely (see file_creator.cpp). Returns a Windows error code as
  // Machine::CreateFileInRuns documents.
  [[nodiscard]] std::uint32_t CreateFileInRuns(const std::string& path, const NewFileData& file);

 private:
  FatVolume() = default;
  FatOpenStatus Load();
  bool CheckMirrors();
  bool WalkTree();
  // Whether folder `index` starts at the first cluster of a folder on its own path (the
  // root included): reading it would lead back into the path without end.
  bool LeadsBackIntoItsPath(std::int32_t index) const;
  bool ClaimChain(std::uint32_t first, std::int64_t expected, std::vector<std::uint32_t>* chain);
  bool ReadFolder(std::int32_t folder, const std::vector<std::uint32_t>& chain, int depth,
                  std::vector<std::pair<std::int32_t, int>>* pending);
  bool ParseEntries(std::int32_t folder, const std::uint8_t* data, std::size_t size, std::uint64_t diskOffset,
                    int depth, LongNameCollector* names, bool* ended,
                    std::vector<std::pair<std::int32_t, int>>* pending);
  void CheckLostChains();
  // Frees, in memory, the recorded clusters no file or folder owns (and the lost ones
  // that lead into them, so no chain is left running into a free cluster).
  void FreeRecordedClusters(const std::vector<ClaimedRun>& runs);
  // Writes what FreeRecordedClusters freed (and the FAT in use over every copy), then the
  // clean mark, and removes the record.
  bool FinishReclaim();
  void IndexNames();
  // The path of folder `folder` from the root ("\\" for the root), for messages.
  std::string FolderPath(std::int32_t folder) const;
  // Records one problem of a counted kind (a member of damage_), or, with null, of the others.
  void Inconsistent(std::uint32_t FatDamage::*kind, const std::string& why);
  bool InChain(std::uint32_t first, std::int64_t length, std::uint32_t cluster) const;

  // mover.cpp
  bool WriteFat(const std::vector<std::uint32_t>& changed);
  bool WriteStateMarks(bool clean);
  bool WriteData();
  bool CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to);
  bool WriteFirstCluster(const FatNode& node);
  void RollBackGroup();

  // file_creator.cpp
  struct FolderSlots;
  bool ReadFolderSlots(std::int32_t folder, FolderSlots* slots);
  std::uint32_t WriteContent(const NewFileData& file, const std::vector<std::uint32_t>& clusters);
  void AddNode(FatNode node);

  std::unique_ptr<FatIo> io_;
  FatLayout layout_;
  std::unique_ptr<FatTable> fat_;     // the FAT as the files see it (moves of the open group included)
  // The FAT as written to the disk (durable or not yet flushed); made at the first move.
  std::unique_ptr<FatTable> written_;
  std::vector<FatNode> nodes_;
  // Path lookups: every node's long name and, after them all, the short names of the
  // nodes that have a long one, keyed by FoldedNameHash(parent, name) and sorted by key
  // (stable, so the first entry of a folder wins when two share a name).
  struct NameSlot {
    std::uint64_t key;
    std::int32_t node;
    bool shortName;  // the slot holds the node's short name
  };
  std::vector<NameSlot> names_;
  std::vector<std::uint8_t> state_;  // per cluster during open: see fat_volume.cpp
  std::string label_;
  std::uint32_t volumeId_ = 0;
  std::string problem_;
  FatDamage damage_;
  std::uint32_t freeClusters_ = 0;
  bool readOnly_ = false;
  bool inconsistent_ = false;
  bool wasDirty_ = false;  // dirty before we opened it: left dirty
  bool hardErrors_ = false;  // FAT16/32: FAT[1] records disk errors
  std::unique_ptr<ClaimJournal> journal_;  // null: no claim record is kept
  bool interrupted_ = false;  // a record of an interrupted job of ours was found at open
  ClaimOptions claims_;       // where the record is kept (no folder: none) and whether to reclaim
  bool mirrorsDiffer_ = false;
  std::vector<std::uint32_t> reclaimed_;  // clusters FreeRecordedClusters freed

  // The open group of moves (mover.cpp): the files it moved, each as the disk holds it
  // and as the moves left it in memory.
  struct GroupFile {
    std::int32_t node = -1;
    std::vector<std::uint32_t> durable;  // the node's chain as the disk holds it
    std::vector<std::uint32_t> chain;    // the node's chain in memory, after the group's moves
    FatNode savedNode;                   // the node as the disk holds it
  };
  struct Group {
    std::vector<GroupFile> files;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> undo;  // (cluster, entry before) in memory
    std::vector<std::uint32_t> vacated;  // durable clusters the files left
    std::uint64_t movedClusters = 0;
  };
  Group group_;
  std::vector<std::uint8_t> groupMarks_;  // per cluster (mover.cpp); made at the first move
  // Data copied by the open group, gathered for one write request. The buffer is made
  // at the first copy and never cleared: every byte written out was read in first.
  struct PendingData {
    std::uint64_t offset = 0;  // bytes from the start of the volume
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t capacity = 0;
    std::size_t size = 0;
  };
  PendingData data_;
  bool changing_ = false;  // the volume is marked dirty on disk by this session's job
};

}  // namespace platform::fat
