// Free-run indexes built from a volume bitmap.
//
// The scan reads the bitmap a 64-bit word at a time: all-used and all-free words are
// skipped whole, and inside a mixed word the edges of runs are found with
// countr_zero/countr_one, so its cost follows the number of runs rather than the
// number of clusters. Runs come out in ascending order of their first cluster.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace vexa {

// Length (clusters) -> first cluster; for each length only the run nearest the
// start of the volume is kept.
using FreeRunMap = std::map<std::int64_t, std::int64_t>;
// First cluster -> length, every run.
using FreeRunsByStart = std::multimap<std::int64_t, std::int64_t>;

// Calls visit(first, length) for every run of free (clear) bits among the first
// `totalClusters` bits of `bitmap` (bit n%8 of byte n/8), in ascending order. A run
// still open at the end stops at totalClusters.
void ForEachFreeRun(const std::uint8_t* bitmap, std::int64_t totalClusters,
                    const std::function<void(std::int64_t first, std::int64_t length)>& visit);

// Empties `map` and fills it from the bitmap.
void BuildFreeRunMap(const std::uint8_t* bitmap, std::int64_t totalClusters, FreeRunMap& map);
void BuildFreeRunsByStart(const std::uint8_t* bitmap, std::int64_t totalClusters, FreeRunsByStart& map);

// Length of the largest run in `map`, 0 when it is empty.
std::int64_t LargestFreeRun(const FreeRunMap& map);

}  // namespace vexa
