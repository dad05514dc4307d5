// Benchmarks of the defragmentation side of the engine.
//
// FreeRuns/*: building the free-run index from the bitmap of an 8,388,608-cluster volume
// whose free space is scattered (the word scan the engine uses, and a bit-by-bit scan
// of the same bitmap for reference); the ratio of the two is the figure to watch.
// Relocation/*: whole quick defragmentation jobs on a simulated volume with many
// fragmented files, reported per relocated file.
// InDepthTwoTerabytes/*: whole in-depth jobs on a simulated 2 TB volume, reported per
// candidate with the bitmap reads per candidate.
// Run: build/linux/bench/defrag_bench  (or any build folder)
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <vector>

#include "analysis/free_runs.h"
#include "core/engine.h"
#include "platform/sim_machine.h"
#include "vexa/vexa.h"

namespace {

constexpr std::int64_t kClusters = 8388608;

// A bitmap with `freeShare` of its clusters free, in runs of 1 to 64 clusters.
std::vector<std::uint8_t> ScatteredBitmap(double freeShare, unsigned seed) {
  std::vector<std::uint8_t> bitmap(kClusters / 8, 0xFF);
  std::mt19937_64 random(seed);
  std::int64_t c = 0;
  while (c < kClusters) {
    const std::int64_t used = 1 + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(64 * (1 - freeShare) / freeShare + 1));
    const std::int64_t freeRun = 1 + static_cast<std::int64_t>(random() % 64);
    c += used;
    for (std::int64_t i = 0; i < freeRun && c < kClusters; ++i, ++c) bitmap[c / 8] &= static_cast<std::uint8_t>(~(1u << (c % 8)));
  }
  return bitmap;
}

void BuildBitByBit(const std::vector<std::uint8_t>& bitmap, vexa::FreeRunMap& map) {
  map.clear();
  std::int64_t open = -1;
  for (std::int64_t n = 0; n < kClusters; ++n) {
    const bool used = (bitmap[n / 8] >> (n % 8)) & 1;
    if (!used && open < 0) open = n;
    if (used && open >= 0) {
      map.emplace(n - open, open);
      open = -1;
    }
  }
  if (open >= 0) map.emplace(kClusters - open, open);
}

void FreeRunsWordScan(benchmark::State& state) {
  const auto bitmap = ScatteredBitmap(static_cast<double>(state.range(0)) / 100, 7);
  vexa::FreeRunMap map;
  for (auto _ : state) {
    vexa::BuildFreeRunMap(bitmap.data(), kClusters, map);
    benchmark::DoNotOptimize(map);
  }
  state.counters["runs"] = static_cast<double>(map.size());
}

void FreeRunsBitByBit(benchmark::State& state) {
  const auto bitmap = ScatteredBitmap(static_cast<double>(state.range(0)) / 100, 7);
  vexa::FreeRunMap map;
  for (auto _ : state) {
    BuildBitByBit(bitmap, map);
    benchmark::DoNotOptimize(map);
  }
}

BENCHMARK(FreeRunsWordScan)->Arg(5)->Arg(30)->Arg(70)->Unit(benchmark::kMillisecond);
BENCHMARK(FreeRunsBitByBit)->Arg(5)->Arg(30)->Arg(70)->Unit(benchmark::kMillisecond);

// A quick defragmentation of a 1,048,576-cluster volume holding `files` files of 16
// scattered one-cluster pieces, with free space at the end of the volume.
void Relocation(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  const std::string folder = (std::filesystem::temp_directory_path() / "vexa-defrag-bench/").string();
  std::filesystem::create_directories(folder);
  for (auto _ : state) {
    state.PauseTiming();
    platform::sim::SimMachine machine;
    auto& volume = machine.AddVolume('C', "NTFS", 1048576);
    volume.MarkUsed(0, 524288);
    for (int f = 0; f < files; ++f) {
      std::vector<platform::sim::ClusterRun> runs;
      for (int piece = 0; piece < 16; ++piece) runs.push_back({2 * (static_cast<std::int64_t>(piece) * files + f), 1});
      volume.AddFile("Data\\f" + std::to_string(f) + ".bin", 16 * 4096, runs);
    }
    vexa::gJobWaitMs = 1;
    vexa::Startup(machine, folder);
    state.ResumeTiming();
    DLL_DefragVolume("C");
    state.PauseTiming();
    if (volume.MoveCalls() != 16 * files) state.SkipWithError("not every piece was moved");
    vexa::Shutdown();
    state.ResumeTiming();
  }
  state.counters["per_file"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

BENCHMARK(Relocation)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// An in-depth defragmentation of a simulated 2 TB volume (536,870,912 clusters of
// 4 KiB, a 64 MiB bitmap) whose `files` candidates lie in one piece near its end, with
// a free stretch in its middle for the pass to pack them into. Reported: time per
// candidate for the whole job (analysis and relocation walk included) and bitmap reads
// per candidate; both should stay flat as the candidates grow.
void InDepthTwoTerabytes(benchmark::State& state) {
  constexpr std::int64_t kTwoTerabytes = std::int64_t{1} << 29;
  const int files = static_cast<int>(state.range(0));
  const std::string folder = (std::filesystem::temp_directory_path() / "vexa-defrag-bench/").string();
  std::filesystem::create_directories(folder);
  double bitmapReads = 0;
  for (auto _ : state) {
    state.PauseTiming();
    platform::sim::SimMachine machine;
    auto& volume = machine.AddVolume('C', "NTFS", kTwoTerabytes);
    volume.MarkUsed(0, kTwoTerabytes / 2);
    const std::int64_t tail = kTwoTerabytes - std::int64_t{32} * files - 1024;
    volume.MarkUsed(tail, kTwoTerabytes - tail);
    for (int f = 0; f < files; ++f) {
      // A thousand files a folder, as a system volume's folders hold them.
      volume.AddFile("Data" + std::to_string(f / 1000) + "\\f" + std::to_string(f) + ".bin", 16 * 4096,
                     {{tail + 32 * static_cast<std::int64_t>(f), 16}});
    }
    vexa::gJobWaitMs = 1;
    vexa::Startup(machine, folder);
    const int readsBefore = volume.BitmapCalls();
    state.ResumeTiming();
    DLL_OptimizedDefragVolume("C");
    state.PauseTiming();
    bitmapReads = static_cast<double>(volume.BitmapCalls() - readsBefore);
    if (volume.MoveCalls() != files) state.SkipWithError("not every candidate was moved");
    vexa::Shutdown();
    state.ResumeTiming();
  }
  state.counters["per_candidate"] =
      benchmark::Counter(static_cast<double>(files), benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
  state.counters["bitmap_reads_per_candidate"] = bitmapReads / files;
}

BENCHMARK(InDepthTwoTerabytes)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
