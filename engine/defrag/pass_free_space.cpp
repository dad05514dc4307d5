// One pass's free space: runs in order of position, a segment tree of their lengths
// for the first-fit question and a set by length for the best-fit question.
#include "defrag/pass_free_space.h"

#include <algorithm>

#include "analysis/free_runs.h"

namespace vexa {

PassFreeSpace gPassFreeSpace;

void PassFreeSpace::Build(std::uint8_t* bitmap, std::int64_t totalClusters) {
  Clear();
  freedSinceRead_ = 0;
  bitmap_ = bitmap;
  totalClusters_ = totalClusters;
  ForEachFreeRun(bitmap, totalClusters, [this](std::int64_t first, std::int64_t length) {
    start_.push_back(first);
    length_.push_back(length);
  });
  leaves_ = 1;
  while (leaves_ < start_.size()) leaves_ *= 2;
  longest_.assign(2 * leaves_, 0);
  for (std::size_t i = 0; i < start_.size(); ++i) {
    longest_[leaves_ + i] = length_[i];
    bySize_.emplace(length_[i], i);
  }
  for (std::size_t node = leaves_ - 1; node >= 1; --node) {
    longest_[node] = std::max(longest_[2 * node], longest_[2 * node + 1]);
  }
  ready_ = true;
}

void PassFreeSpace::Clear() {
  ready_ = false;
  start_.clear();
  length_.clear();
  longest_.clear();
  bySize_.clear();
  leaves_ = 0;
}

std::optional<std::int64_t> PassFreeSpace::SmallestHolding(std::int64_t clusters) const {
  const auto it = bySize_.lower_bound({clusters, 0});
  if (it == bySize_.end()) return std::nullopt;
  return start_[it->second];
}

std::optional<std::int64_t> PassFreeSpace::FirstHolding(std::int64_t clusters) const {
  if (leaves_ == 0 || longest_[1] < clusters) return std::nullopt;
  std::size_t node = 1;
  while (node < leaves_) node = longest_[2 * node] >= clusters ? 2 * node : 2 * node + 1;
  return start_[node - leaves_];
}

std::int64_t PassFreeSpace::LengthAt(std::int64_t first) const {
  const auto it = std::lower_bound(start_.begin(), start_.end(), first);
  if (it == start_.end() || *it != first) return 0;
  return length_[static_cast<std::size_t>(it - start_.begin())];
}

std::int64_t PassFreeSpace::Largest() const { return bySize_.empty() ? 0 : bySize_.rbegin()->first; }

void PassFreeSpace::SetLength(std::size_t run, std::int64_t length) {
  bySize_.erase({length_[run], run});
  length_[run] = length;
  if (length > 0) bySize_.emplace(length, run);
  std::size_t node = leaves_ + run;
  longest_[node] = length;
  for (node /= 2; node >= 1; node /= 2) longest_[node] = std::max(longest_[2 * node], longest_[2 * node + 1]);
}

void PassFreeSpace::Take(std::int64_t first, std::int64_t count) {
  if (count <= 0 || first < 0 || first + count > totalClusters_) return;
  for (std::int64_t c = first; c < first + count; ++c) {
    bitmap_[c / 8] = static_cast<std::uint8_t>(bitmap_[c / 8] | (1u << (c % 8)));
  }
  if (!ready_) return;
  const auto after = std::upper_bound(start_.begin(), start_.end(), first);
  if (after != start_.begin()) {
    const auto run = static_cast<std::size_t>(after - start_.begin() - 1);
    if (start_[run] == first && count <= length_[run]) {
      start_[run] += count;
      SetLength(run, length_[run] - count);
      return;
    }
  }
  // Not the front of a run: the bitmap, already marked, is the truth.
  Build(bitmap_, totalClusters_);
}

}  // namespace vexa
