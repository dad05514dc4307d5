// One exFAT volume: its layout, FAT, allocation bitmap, up-case table and folder tree,
// validated at open.
//
// Open reads the boot region (and checks its checksum), the FAT in use, the root
// folder's allocation bitmap, up-case table and label entries, and every folder's entry
// sets (File, Stream Extension, File Name, vendor entries), checking each set's
// checksum and name hash. Every allocation (the root folder, the bitmap, the up-case
// table, files and folders, vendor allocations) is claimed once: through the FAT, or
// as one run for NoFatChain allocations. A cluster claimed twice, an allocation the
// bitmap calls free, a chain of the wrong length or a broken set leaves the volume
// read-only; so do TexFAT volumes and entry types this tool does not know. Clusters
// the bitmap marks used that nothing claims are lost space (what an interrupted move
// leaves) and stay as they are. The tree is fixed after open: moves change only
// allocations, first clusters and flags, never names or folders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "exfat_format.h"
#include "platform/claim_journal.h"
#include "platform/fat_io.h"
#include "platform/fat_open_status.h"
#include "platform/machine.h"

namespace platform::exfat {

struct ExfatNode {
  std::string name;        // as the seam carries it (name_text.h)
  std::u16string wideName;
  std::uint16_t attributes = 0;
  std::uint32_t createTime = 0;  // exFAT timestamps: DOS date in the high word, time in the low
  std::uint32_t modifyTime = 0;
  std::uint32_t accessTime = 0;
  std::uint8_t create10ms = 0;
  std::uint8_t modify10ms = 0;
  std::uint8_t flags = 0;  // the Stream Extension's GeneralSecondaryFlags
  std::uint32_t firstCluster = 0;  // 0 = no clusters
  std::uint64_t dataLength = 0;    // bytes
  std::uint64_t validDataLength = 0;
  std::uint64_t entryOffset = 0;   // byte offset of the File entry; 0 for the root
  std::uint64_t streamOffset = 0;  // byte offset of the Stream Extension entry
  std::vector<std::uint8_t> set;   // the entry set as stored (File entry first)
  std::int32_t parent = -1;
  std::vector<std::int32_t> children;  // on-disk order

  bool IsFolder() const { return (attributes & kAttrDirectory) != 0; }
  bool NoFatChain() const { return (flags & kNoFatChain) != 0; }
};

class ExfatVolume {
 public:
  // Opens the volume held by `io`. Returns null when it cannot be served (bad boot
  // sector, truncated image, read error); otherwise *status tells whether it is
  // writable (kOk) or why it is read-only; *damage (when not null) what validation found.
  // `claims` and `reclaimed` as for OpenFatVolume (platform/fat_provider.h): a claim
  // record kept while a job writes, VolumeDirty writable only when it is an interrupted
  // job of ours, MediaFailure never; with claims->reclaim, the recorded bits no
  // allocation owns are cleared at open, then VolumeDirty.
  static std::unique_ptr<ExfatVolume> Open(std::unique_ptr<platform::fat::FatIo> io,
                                           platform::fat::FatOpenStatus* status,
                                           platform::fat::FatDamage* damage = nullptr,
                                           const platform::fat::ClaimOptions* claims = nullptr,
                                           platform::fat::ReclaimResult* reclaimed = nullptr);
  // Ends the job's writes (FinishChanges).
  ~ExfatVolume();

  const Layout& Geometry() const { return layout_; }
  bool ReadOnly() const { return readOnly_; }
  const std::string& Label() const { return label_; }
  // The first problem validation found, for diagnostics; empty when none.
  const std::string& Problem() const { return problem_; }
  // Everything validation found, counted by kind (lost clusters: used in the bitmap,
  // owned by nothing; they leave the volume writable).
  const platform::fat::FatDamage& Damage() const { return damage_; }
  // The boot sector's VolumeSerialNumber.
  std::uint32_t SerialNumber() const { return serial_; }

  static constexpr std::int32_t kRoot = 0;
  std::size_t NodeCount() const { return nodes_.size(); }
  const ExfatNode& Node(std::int32_t index) const { return nodes_[static_cast<std::size_t>(index)]; }
  // The node at `path` (names split by '\' or '/', relative to the root, compared
  // through the up-case table); -1 when there is none.
  std::int32_t Find(const std::string& path) const;
  // The clusters of a node's allocation, in order.
  std::vector<std::uint32_t> Chain(std::int32_t node) const;
  // True when cluster `c` (2 .. clusterCount + 1) is marked used in the bitmap.
  bool Used(std::uint32_t c) const { return (bitmap_[(c - 2) / 8] >> ((c - 2) % 8)) & 1; }
  std::uint32_t FreeClusters() const { return freeClusters_; }
  // Why `node` can never be moved, or null when it can ("its directory entry spans two
  // sectors": no single-sector commit exists for it). Returns static storage.
  const char* Unmovable(std::int32_t node) const;

  // Moves `count` clusters of `node` from virtual cluster `vcn` to logical clusters
  // `lcn` onwards (logical cluster 0 = cluster 2), crash-safely (see exfat_mover.cpp).
  // Folders move by the same rule; the root folder's first cluster never moves. The
  // move joins the node's open group of moves: it takes effect in memory at once
  // (Chain, Used) and its data is copied at once; the bitmap, FAT and entry set reach
  // the disk when the group is committed. A move of another node, or onto clusters the
  // group has vacated, commits the group first. Returns a Windows error code.
  [[nodiscard]] std::uint32_t MoveClusters(std::int32_t node, std::int64_t vcn, std::int64_t lcn,
                                           std::uint32_t count);
  // Commits the open group of moves, if any: afterwards the moves are durable and the
  // clusters they vacated are free in memory (their bitmap bits are written, durable
  // with the next flush). False when a write or flush failed: the volume is then
  // read-only, and the files read from their old clusters, or from the new ones when
  // the failure came after the commit.
  [[nodiscard]] bool CommitGroup();
  // Ends the job's writes: commits the open group, makes the last frees durable and
  // clears VolumeDirty (unless it was set before the volume was opened). Nothing is
  // written when nothing was moved since the last call. False when a write failed.
  [[nodiscard]] bool FinishChanges();
  // Creates the file at `path` (relative to the root) on exactly the clusters
  // `file.runs` names, crash-safely (see exfat_file_creator.cpp); the errors of
  // Machine::CreateFileInRuns. A replaced file, or a folder without room, whose File and
  // Stream Extension entries lie in different sectors gives kErrorCannotMake, as does a
  // name too long for its entry set to fit one sector.
  [[nodiscard]] std::uint32_t CreateFileInRuns(const std::string& path, const platform::NewFileData& file);

 private:
  ExfatVolume() = default;
  platform::fat::FatOpenStatus Load();
  bool ReadFolderData(const std::vector<std::uint32_t>& chain, std::vector<std::uint8_t>* data);
  bool ReadRoot(std::vector<std::pair<std::int32_t, int>>* pending);
  bool ReadFolder(std::int32_t folder, int depth, std::vector<std::pair<std::int32_t, int>>* pending);
  void ParseEntries(std::int32_t folder, const std::vector<std::uint8_t>& data,
                    const std::vector<std::uint32_t>& chain, int depth,
                    std::vector<std::pair<std::int32_t, int>>* pending);
  bool ParseFileSet(std::int32_t folder, const std::uint8_t* set, std::size_t count, ExfatNode* node);
  bool ClaimChain(std::uint32_t first, std::uint64_t clusters, bool noFatChain, const std::string& what,
                  std::vector<std::uint32_t>* chain);
  bool LoadBitmap(const std::uint8_t* entry);
  bool LoadUpcase(const std::uint8_t* entry);
  // Counts free and lost clusters; with `recorded` (sorted runs of a claim record) the
  // lost ones it names are cleared in memory and listed in reclaimed_ instead.
  void CheckBitmap(const std::vector<ClaimedRun>* recorded);
  // Writes the cleared bits, clears VolumeDirty and removes the record.
  bool FinishReclaim();
  void IndexNames();
  std::string Key(std::int32_t folder, const std::u16string& name) const;
  // The path of folder `folder` from the root ("\\" for the root), for messages.
  std::string FolderPath(std::int32_t folder) const;
  std::uint64_t ClustersOf(std::uint64_t bytes) const {
    return (bytes + layout_.bytesPerCluster - 1) / layout_.bytesPerCluster;
  }
  // Records one problem of a counted kind (a member of damage_), or, with null, of the others.
  void Inconsistent(std::uint32_t platform::fat::FatDamage::*kind, const std::string& why);
  void Unknown(std::uint8_t type);

  // exfat_mover.cpp
  bool WriteFatEntries(std::vector<std::uint32_t> clusters);
  bool WriteBitmapBits(std::vector<std::uint32_t> clusters);
  bool SetDirty(bool dirty);
  bool CopyClusters(const std::vector<std::uint32_t>& from, std::uint32_t to);
  bool WriteEntrySet(ExfatNode& node, std::uint32_t firstCluster, std::uint8_t flags);
  bool Straddles(const ExfatNode& node) const;
  bool TargetFreeOnDisk(std::uint32_t first, std::uint32_t count);
  void Relocated(std::int32_t folder, const std::vector<std::uint32_t>& from, std::uint32_t to);
  void SetBit(std::uint32_t cluster, bool used);
  void RollBackGroup();

  // exfat_file_creator.cpp
  std::uint32_t WriteNewContent(const platform::NewFileData& file, const std::vector<std::uint32_t>& clusters);

  // The open group of moves (exfat_mover.cpp); node -1 when none is open.
  struct Group {
    std::int32_t node = -1;
    std::vector<std::uint32_t> durable;  // the node's clusters as the disk holds them
    std::uint32_t firstCluster = 0;      // the node's first cluster and flags on disk
    std::uint8_t flags = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> undo;  // (cluster, FAT entry before)
    std::vector<std::uint32_t> claimed;  // clusters whose bits this group set in memory
  };
  Group group_;
  bool changing_ = false;  // VolumeDirty is set on disk by this session's job

  std::unique_ptr<platform::fat::FatIo> io_;
  Layout layout_;
  std::vector<std::uint32_t> fat_;      // entries 0 .. clusterCount + 1
  std::vector<std::uint8_t> bitmap_;    // one bit per cluster from cluster 2
  std::vector<std::uint32_t> bitmapChain_;  // the bitmap's clusters
  UpcaseTable upcase_;
  std::vector<ExfatNode> nodes_;
  std::unordered_map<std::string, std::int32_t> names_;
  std::vector<std::uint8_t> claimed_;   // per cluster during open: 1 = claimed
  std::string label_;
  std::string problem_;
  platform::fat::FatDamage damage_;
  std::uint32_t serial_ = 0;
  std::uint32_t freeClusters_ = 0;
  platform::fat::FatOpenStatus readOnlyReason_ = platform::fat::FatOpenStatus::kOk;
  bool readOnly_ = false;
  bool haveBitmap_ = false;
  bool haveUpcase_ = false;
  bool wasDirty_ = false;  // dirty before we opened it: left dirty
  bool mediaFailure_ = false;
  platform::fat::ClaimOptions claims_;      // where the record is kept (no folder: none)
  std::unique_ptr<ClaimJournal> journal_;   // null: no claim record is kept
  bool interrupted_ = false;  // a record of an interrupted job of ours was found at open
  std::vector<std::uint32_t> reclaimed_;  // clusters whose bits the reclaim cleared
};

}  // namespace platform::exfat
