// The record of clusters a write job has claimed on a volume, kept in the engine's
// working folder so that space left by an interrupted job can be given back.
//
// Before a job's first write a volume's record is created ("claims-" and 16 hex digits
// of the volume's identity), naming the volume; before each group of moves claims its
// target runs, the runs (and the clusters the group will leave) are appended and made
// durable (the file, and the folder when the file is new). A job whose changes end
// cleanly removes the record. A record found later is what an interrupted job left: the
// next write job frees those of its clusters that no file owns, then clears the dirty
// mark that job set and removes the record. Clusters a file owns are never freed, so a
// run recorded for a move that did commit is harmless.
//
// File layout, text lines ending in '\n':
//   "vexa claims 1"             the first line
//   "volume <identity>"         the volume the record is for
//   "run <first> <count>"       a run of clusters (the file system's own cluster numbers)
// A line cut short by a crash (no '\n') is ignored: it was never made durable, so the
// writes it announced had not begun.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ClaimedRun {
  std::uint32_t first = 0;  // the file system's cluster number (2 = first data cluster)
  std::uint32_t count = 0;
  bool operator==(const ClaimedRun&) const = default;
};

class ClaimJournal {
 public:
  // The record of the volume `identity` (VolumeIdentity) in `folder` (ending with its
  // separator). Nothing is touched until Begin.
  ClaimJournal(std::string folder, std::string identity);
  ~ClaimJournal();
  ClaimJournal(const ClaimJournal&) = delete;
  ClaimJournal& operator=(const ClaimJournal&) = delete;

  // True when a record for this volume exists: an interrupted job of ours wrote it.
  bool Exists() const;
  // The runs of the record, in the order recorded; empty when there is none.
  std::vector<ClaimedRun> Runs() const;
  // Creates the record, naming the volume, and makes it durable (a record already there
  // is kept and added to). Before a job's first write.
  [[nodiscard]] bool Begin();
  // Appends `runs` and makes them durable. Before the clusters are claimed.
  [[nodiscard]] bool Record(const std::vector<ClaimedRun>& runs);
  // Removes the record (the job's changes ended cleanly, or a reclaim finished).
  [[nodiscard]] bool End();
  // The file name of the record.
  const std::string& Path() const { return path_; }

 private:
  std::string folder_;
  std::string identity_;
  std::string path_;
  int fd_ = -1;
};

// Clusters as runs of consecutive numbers, in ascending order.
std::vector<ClaimedRun> RunsOfClusters(std::vector<std::uint32_t> clusters);

// The identity of a volume for its claim record: the boot sector's serial number, the
// size in bytes, and what holds the bytes (an image file's device and inode, a block
// device's device number); `path` is only looked at, never opened.
std::string VolumeIdentity(const std::string& path, std::uint32_t serial, std::uint64_t size);

}  // namespace platform
