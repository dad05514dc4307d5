// The demo: build, check, analyse, defragment in depth, check again, summarise.
#include "demo_command.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "demo_volume.h"
#include "engine_session.h"
#include "exit_codes.h"
#include "fragment_count.h"
#include "job_results.h"
#include "job_runner.h"
#include "stop_request.h"

namespace cli {
namespace {

constexpr char kDemoLetter = 'C';

std::filesystem::path CacheRoot() {
#ifdef _WIN32
  if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && local[0] != 0) return local;
#else
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') return cache;
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::filesystem::path(home) / ".cache";
  }
#endif
  std::error_code error;
  return std::filesystem::temp_directory_path(error);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::string DefaultDemoFolder() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "demo-%Y%m%d-%H%M%S", &local);
  const std::filesystem::path base = CacheRoot() / "vexa";
  std::filesystem::path folder = base / stamp;
  for (int n = 2; std::filesystem::exists(folder); ++n) folder = base / (std::string(stamp) + "-" + std::to_string(n));
  return folder.string();
}

int RunDemoCommand(const Options& options, const std::string& engineFolder) {
  const auto started = std::chrono::steady_clock::now();
  const bool talk = !options.quiet;
  const std::string folder = options.demoFolder.empty() ? DefaultDemoFolder() : options.demoFolder;
  std::error_code code;
  std::filesystem::create_directories(folder, code);
  const std::string image = (std::filesystem::absolute(folder, code) / "demo.img").string();

  if (talk) std::printf("Building the demo volume %s ...\n", image.c_str());
  std::fflush(stdout);
  DemoVolumeFacts facts;
  std::string error;
  if (!BuildDemoVolume(image, &facts, &error)) {
    std::fprintf(stderr, "vexa: cannot build the demo volume %s: %s\n", image.c_str(), error.c_str());
    return kExitVolume;
  }
  FragmentCount before;
  if (!CountFragmentedFiles(image, &before, &error)) {
    std::fprintf(stderr, "vexa: %s\n", error.c_str());
    return kExitVolume;
  }
  if (talk) {
    std::printf("FAT32, %llu MiB, %u-byte clusters: %d files in %d folders, %d of them fragmented.\n",
                static_cast<unsigned long long>(facts.imageBytes >> 20), facts.bytesPerCluster, before.files,
                facts.folders, before.fragmented);
    std::fflush(stdout);
  }

  EngineSession session;
  const int opened = session.Open(engineFolder, {{kDemoLetter, image}}, std::string(1, kDemoLetter), true, options.quiet);
  if (opened != kExitDone) return opened;

  ProgressDisplay display(DisplayMode(options), DisplayStream(options), DisplayColumns(options));
  const std::string letters(1, kDemoLetter);
  if (StopRequestCount() > 0) return kExitStopped;
  const PageStamps analysisBefore = StampPages(engineFolder, letters);
  const JobOutcome analysis = RunEngineJob(session.Api(), JobKind::kAnalyse, letters, display);
  if (analysis.refused) {
    std::fprintf(stderr, "vexa: %s\n", kBusyMessage);
    return kExitBusy;
  }
  const VolumeResult analysed = CollectResults(engineFolder, letters, JobKind::kAnalyse, analysisBefore).front();
  if (options.open) session.Api().showReport(1);
  JobOutcome optimize;
  VolumeResult optimized;
  if (!analysis.stopped && StopRequestCount() == 0) {
    const PageStamps optimizeBefore = StampPages(engineFolder, letters);
    optimize = RunEngineJob(session.Api(), JobKind::kOptimize, letters, display);
    if (optimize.refused) {
      std::fprintf(stderr, "vexa: %s\n", kBusyMessage);
      return kExitBusy;
    }
    optimized = CollectResults(engineFolder, letters, JobKind::kOptimize, optimizeBefore).front();
    if (options.open) session.Api().showReport(2);
  }
  const bool stopped = analysis.stopped || optimize.stopped || StopRequestCount() > 0;
  // The engine lets go of the image when it unloads; then the image is read once more.
  session.Close();
  FragmentCount after;
  const bool counted = CountFragmentedFiles(image, &after, &error);

  if (talk) {
    std::printf("\n");
    std::printf("Files scanned:       %lld\n", FigureNumber(analysed.analysis, "Scanned files"));
    std::printf("Fragmented before:   %d\n", before.fragmented);
    if (optimized.hasDefrag) {
      std::printf("Defragmented:        %lld\n", FigureNumber(optimized.defrag, "Defragged files"));
      if (optimized.defrag.hasOptimization) {
        std::printf("Moved forward:       %zu (in-depth pass)\n", optimized.defrag.optimizedFiles.size());
      }
    } else {
      std::printf("Defragmented:        0\n");
    }
    if (counted) {
      std::printf("Fragmented after:    %d\n", after.fragmented);
    } else {
      std::printf("Fragmented after:    unknown (%s)\n", error.c_str());
    }
    std::printf("Time:                %.1f s (analysis %.1f s, in-depth defragmentation %.1f s)\n", SecondsSince(started),
                analysis.seconds, optimize.seconds);
    if (stopped) std::printf("Stopped.\n");
    std::printf("\nReports:\n");
    if (analysed.hasAnalysis) std::printf("  analysis          %s\n", EntryPage(engineFolder, JobKind::kAnalyse).c_str());
    if (optimized.hasDefrag) std::printf("  defragmentation   %s\n", EntryPage(engineFolder, JobKind::kOptimize).c_str());
    std::printf("Demo image: %s\n", image.c_str());
  }
  std::fflush(stdout);
  if (stopped) return kExitStopped;
  if (analysis.engineMessages > 0 || optimize.engineMessages > 0) return kExitVolume;
  return kExitDone;
}

}  // namespace cli
