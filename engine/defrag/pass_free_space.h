// The free space of one defragmentation pass: built from one bitmap read and kept up to
// date after each move, so a pass reads the volume bitmap once, and again only after
// the volume refused a move.
//
// Only clusters a move takes are marked in use; clusters a move frees stay in use until
// the next bitmap read, as NTFS itself does not let a move use them before then. The
// runs are those of the bitmap read; a move takes clusters from the front of a run (the
// engine moves files to the start of the run it chose), which keeps the runs in order of
// their first cluster, so both questions are answered in logarithmic time: the smallest
// run that holds a file (relocation's best fit) and the first run by position that
// holds it (the in-depth rule).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace vexa {

class PassFreeSpace {
 public:
  // Rebuilds from `bitmap` (bit n%8 of byte n/8, set = in use) of `totalClusters`
  // clusters. The bitmap must outlive the index's use: Take marks clusters in it.
  void Build(std::uint8_t* bitmap, std::int64_t totalClusters);
  // Forgets everything: the next use must build again.
  void Clear();
  // Built and not marked stale since.
  bool Ready() const { return ready_; }
  // After a refused move: the volume's free space is no longer what the index says.
  void MarkStale() { ready_ = false; }
  // `count` clusters were freed by a move: unused until the next bitmap read.
  void Freed(std::int64_t count) { freedSinceRead_ += count; }
  // Whether moves freed clusters since the bitmap was read, so that a new read could
  // find a run the index cannot.
  bool FreedSinceRead() const { return freedSinceRead_ > 0; }

  // The start of the smallest run of at least `clusters` clusters (of equal lengths,
  // the one nearest the start of the volume), or nullopt.
  std::optional<std::int64_t> SmallestHolding(std::int64_t clusters) const;
  // The start of the first run, by position, of at least `clusters` clusters, or
  // nullopt.
  std::optional<std::int64_t> FirstHolding(std::int64_t clusters) const;
  // Length of the run starting at `first` (0 when no run starts there).
  std::int64_t LengthAt(std::int64_t first) const;
  // Length of the largest run (0 when there is none).
  std::int64_t Largest() const;
  // `count` clusters from `first` were taken by a move. Taking from the start of a run
  // costs logarithmic time; anything else rebuilds from the bitmap.
  void Take(std::int64_t first, std::int64_t count);

 private:
  void SetLength(std::size_t run, std::int64_t length);

  std::uint8_t* bitmap_ = nullptr;
  std::int64_t totalClusters_ = 0;
  bool ready_ = false;
  std::int64_t freedSinceRead_ = 0;
  std::vector<std::int64_t> start_;   // by run, ascending
  std::vector<std::int64_t> length_;  // by run; 0 once used up
  std::size_t leaves_ = 0;            // power of two >= run count
  std::vector<std::int64_t> longest_; // segment tree of the longest run below each node
  std::set<std::pair<std::int64_t, std::size_t>> bySize_;  // (length, run), length > 0
};

// The defragmentation worker's free space of the volume it works on.
extern PassFreeSpace gPassFreeSpace;

}  // namespace vexa
