// Word-at-a-time free-run scan and the two free-run indexes.
#include "analysis/free_runs.h"

#include <bit>
#include <cstring>

namespace vexa {
namespace {

// Bits [64 * w, 64 * w + 64) of the bitmap, least significant bit first; bits at
// or past totalClusters read as used so no run reaches beyond the volume.
std::uint64_t Word(const std::uint8_t* bitmap, std::int64_t totalClusters, std::int64_t w) {
  const std::int64_t firstBit = w * 64;
  const std::int64_t bits = totalClusters - firstBit;
  std::uint64_t word = ~std::uint64_t{0};
  if (bits >= 64) {
    std::memcpy(&word, bitmap + w * 8, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    return word;
  }
  std::uint64_t partial = 0;
  const std::int64_t bytes = (bits + 7) / 8;
  for (std::int64_t i = 0; i < bytes; ++i) partial |= std::uint64_t{bitmap[w * 8 + i]} << (8 * i);
  const std::uint64_t valid = (std::uint64_t{1} << bits) - 1;
  return (partial & valid) | ~valid;
}

}  // namespace

void ForEachFreeRun(const std::uint8_t* bitmap, std::int64_t totalClusters,
                    const std::function<void(std::int64_t, std::int64_t)>& visit) {
  if (bitmap == nullptr || totalClusters <= 0) return;
  const std::int64_t words = (totalClusters + 63) / 64;
  std::int64_t runStart = -1;  // first cluster of the open run, -1 when none
  for (std::int64_t w = 0; w < words; ++w) {
    std::uint64_t used = Word(bitmap, totalClusters, w);
    const std::int64_t base = w * 64;
    if (used == ~std::uint64_t{0}) {  // all used: closes an open run at the word edge
      if (runStart >= 0) {
        visit(runStart, base - runStart);
        runStart = -1;
      }
      continue;
    }
    if (used == 0) {  // all free: opens or extends a run
      if (runStart < 0) runStart = base;
      continue;
    }
    int bit = 0;
    while (bit < 64) {
      const std::uint64_t rest = used >> bit;
      if (runStart >= 0) {
        // Inside a run: find the next used bit.
        if (rest == 0) break;  // run continues past this word
        bit += std::countr_zero(rest);
        visit(runStart, base + bit - runStart);
        runStart = -1;
      } else {
        // Inside used clusters: find the next free bit.
        const int ones = std::countr_one(rest);
        if (bit + ones >= 64) break;
        bit += ones;
        runStart = base + bit;
      }
    }
  }
  if (runStart >= 0) visit(runStart, totalClusters - runStart);
}

void BuildFreeRunMap(const std::uint8_t* bitmap, std::int64_t totalClusters, FreeRunMap& map) {
  map.clear();
  ForEachFreeRun(bitmap, totalClusters, [&](std::int64_t first, std::int64_t length) {
    map.emplace(length, first);  // keeps the first run of each length
  });
}

void BuildFreeRunsByStart(const std::uint8_t* bitmap, std::int64_t totalClusters, FreeRunsByStart& map) {
  map.clear();
  ForEachFreeRun(bitmap, totalClusters, [&](std::int64_t first, std::int64_t length) {
    map.emplace_hint(map.end(), first, length);
  });
}

std::int64_t LargestFreeRun(const FreeRunMap& map) { return map.empty() ? 0 : map.rbegin()->first; }

}  // namespace vexa
