// One job over the named volumes.
#include "volume_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cluster_map_text.h"
#include "engine_session.h"
#include "exit_codes.h"
#include "finishing_pass.h"
#include "job_results.h"
#include "job_runner.h"
#include "json_text.h"
#include "platform/console.h"
#include "stop_request.h"

namespace cli {
namespace {

// With --json, one object per requested volume also when the job never started.
void PrintRefusedJson(const Options& options, JobKind kind, const std::vector<VolumeProblem>& problems) {
  for (char letter : options.letters) {
    VolumeResult result;
    result.letter = letter;
    for (const VolumeProblem& problem : problems) {
      if (problem.letter == letter || problem.letter == 0) {
        result.error += (result.error.empty() ? "" : "; ") + problem.text;
      }
    }
    if (result.error.empty()) result.error = "not started: another volume of the job cannot be used";
    std::printf("%s\n", VolumeJson(result, kind, false).c_str());
  }
  std::fflush(stdout);
}

// One volume's map as the engine paints it now, with what its heading says.
struct VolumeMap {
  bool known = false;
  std::int32_t codes[VEXA_MAP_CELLS] = {};
  MapVolume volume;
};

VolumeMap TakeMap(const EngineApi& api, char letter) {
  VolumeMap map;
  const VexaVolumeInfo* info = api.getVolumeInfo(letter);
  if (info == nullptr) return map;
  map.volume.letter = letter;
  map.volume.fileSystem.assign(info->fileSystem, strnlen(info->fileSystem, sizeof info->fileSystem));
  map.volume.totalClusters = info->usedClusters + info->freeClusters;
  map.volume.bytesPerCluster = info->bytesPerCluster;
  map.volume.clustersPerCell = info->clustersPerCell;
  const std::int32_t* codes = api.getVolumeColorTable(letter);
  if (codes == nullptr) return map;
  std::memcpy(map.codes, codes, sizeof map.codes);
  map.known = true;
  return map;
}

std::vector<VolumeMap> TakeMaps(const EngineApi& api, const std::string& letters) {
  std::vector<VolumeMap> maps;
  for (char letter : letters) maps.push_back(TakeMap(api, letter));
  return maps;
}

// Room for the map's wide form: a space after each cell.
bool WideTerminal() { return platform::TerminalColumns(platform::ConsoleStream::kOutput) >= 100; }

MapColours TerminalColours() {
#ifdef _WIN32
  // The classic console prints escapes as text unless told otherwise; Windows Terminal
  // (WT_SESSION) and terminals that set TERM show them.
  if (std::getenv("WT_SESSION") == nullptr && std::getenv("TERM") == nullptr) return MapColours::kLetters;
#endif
  return ChooseMapColours(platform::IsTerminal(platform::ConsoleStream::kOutput), std::getenv("NO_COLOR"),
                          std::getenv("COLORTERM"), std::getenv("TERM"));
}

// The map fields a volume's JSON object gains with --map.
std::string MapJsonFields(const VolumeMap& map, const char* name) {
  if (!map.known) return std::string(",\"") + name + "\":null";
  return std::string(",\"") + name + "\":" + MapCodesJson(map.codes) +
         ",\"clustersPerCell\":" + std::to_string(map.volume.clustersPerCell) +
         ",\"clusters\":" + std::to_string(map.volume.totalClusters);
}

// `vexa map LETTERS`: the volumes' maps after an analysis, as text or one JSON object each.
void PrintMaps(const Options& options, const std::vector<VolumeMap>& maps, const std::vector<VolumeResult>& results) {
  const MapColours colours = TerminalColours();
  for (std::size_t i = 0; i < maps.size(); ++i) {
    const VolumeMap& map = maps[i];
    const char letter = options.letters[i];
    if (options.json) {
      if (!map.known || !results[i].hasAnalysis) {
        std::printf("{\"letter\":\"%c\",\"error\":%s}\n", letter,
                    JsonString(results[i].error.empty() ? "not analysed" : results[i].error).c_str());
        continue;
      }
      std::printf("{\"letter\":\"%c\",\"fileSystem\":%s,\"bytesPerCluster\":%u,\"bytes\":%llu%s}\n", letter,
                  JsonString(map.volume.fileSystem).c_str(), map.volume.bytesPerCluster,
                  static_cast<unsigned long long>(map.volume.totalClusters * map.volume.bytesPerCluster),
                  MapJsonFields(map, "map").c_str());
    } else if (map.known && results[i].hasAnalysis) {
      std::printf("%s%s", i > 0 ? "\n" : "", MapText(std::string("Cluster map of ") + letter + ":", map.codes,
                                                       map.volume, colours, WideTerminal()).c_str());
    }
  }
}

}  // namespace

int RunVolumeCommand(const Options& options, const std::string& engineFolder) {
  const bool mapOnly = options.command == Command::kMap;
  const JobKind kind = options.command == Command::kAnalyze || mapOnly ? JobKind::kAnalyse
                       : options.command == Command::kDefrag ? JobKind::kDefrag
                                                             : JobKind::kOptimize;
  EngineSession session;
  std::vector<VolumeProblem> refused;
  const int opened = session.Open(engineFolder, options.volumes, options.letters, kind != JobKind::kAnalyse,
                                  options.quiet, &refused);
  if (opened != kExitDone) {
    if (options.json && !refused.empty()) PrintRefusedJson(options, kind, refused);
    return opened;
  }
  if (StopRequestCount() > 0) return kExitStopped;  // stopped before anything started

  // The free space each volume needs and has, as the engine will judge it.
  std::vector<VolumeSizes> sizes(options.letters.size());
  std::vector<std::uint64_t> needed(options.letters.size(), VEXA_DEFAULT_MINIMUM_FREE);
  for (std::size_t i = 0; i < options.letters.size(); ++i) {
    const char letter = options.letters[i];
    if (const VexaVolumeInfo* info = session.Api().getVolumeInfo(letter); info != nullptr) {
      sizes[i].known = true;
      sizes[i].usedBytes = info->usedClusters * info->bytesPerCluster;
      sizes[i].freeBytes = info->freeClusters * info->bytesPerCluster;
      sizes[i].totalBytes = sizes[i].usedBytes + sizes[i].freeBytes;
    }
    if (options.minFree && session.Mapped(letter)) {
      needed[i] = *options.minFree;
    } else if (options.minFree && !options.quiet) {
      std::fprintf(stderr, "vexa: --min-free applies to image files and devices; volume %c: keeps the %s minimum\n",
                   letter, SizeText(VEXA_DEFAULT_MINIMUM_FREE).c_str());
    }
  }
  if (options.minFree) session.Api().setMappedMinimumFree(*options.minFree);
  const auto spaceText = [&](char letter) {
    const std::size_t i = options.letters.find(letter);
    if (i == std::string::npos || !sizes[i].known) return std::string();
    std::string text = std::string(JobKindName(kind)) + " needs " + SizeText(needed[i]) + " free; " + letter +
                       " has " + SizeText(sizes[i].freeBytes);
    // The rule is the engine's for hard disks; an image or card may ask for less.
    if (session.Mapped(letter)) {
      text += options.minFree ? "; a smaller --min-free SIZE lowers it further"
                              : "; for images and cards, --min-free SIZE lowers this rule (for example --min-free 64K)";
    }
    return text;
  };

  // The map alone is what a pipe receives: progress only on a terminal.
  const ProgressDisplay::Mode mode = mapOnly && DisplayMode(options) == ProgressDisplay::Mode::kPlain
                                         ? ProgressDisplay::Mode::kSilent
                                         : DisplayMode(options);
  ProgressDisplay display(mode, DisplayStream(options), DisplayColumns(options));
  // The map before a defragmentation: an analysis of its own, as the window shows it
  // before the user starts one (the job's own analysis repaints it at once).
  std::vector<VolumeMap> mapsBefore;
  if (options.map && kind != JobKind::kAnalyse) {
    const JobOutcome analysis = RunEngineJob(session.Api(), JobKind::kAnalyse, options.letters, display);
    if (analysis.refused) {
      std::fprintf(stderr, "vexa: %s\n", kBusyMessage);
      if (options.json) PrintRefusedJson(options, kind, {{0, kBusyMessage}});
      return kExitBusy;
    }
    if (analysis.stopped) return kExitStopped;
    mapsBefore = TakeMaps(session.Api(), options.letters);
  }
  const PageStamps before = StampPages(engineFolder, options.letters);
  const JobOutcome outcome = RunEngineJob(session.Api(), kind, options.letters, display, [&](const std::string& text) {
    const char letter = LetterOfSpaceMessage(text);
    return letter != 0 ? spaceText(letter) : std::string();
  });
  if (outcome.refused) {
    std::fprintf(stderr, "vexa: %s\n", kBusyMessage);
    if (options.json) PrintRefusedJson(options, kind, {{0, kBusyMessage}});
    return kExitBusy;
  }
  std::vector<VolumeResult> results = CollectResults(engineFolder, options.letters, kind, before);

  bool passedOver = false;  // a volume the engine declined, or that left no page
  for (std::size_t i = 0; i < results.size(); ++i) {
    VolumeResult& result = results[i];
    result.sizes = sizes[i];
    result.lost = session.Lost(result.letter);
    for (const std::string& message : outcome.messages) {
      if (LetterOfSpaceMessage(message) == result.letter) result.error = message + " " + spaceText(result.letter);
    }
    const bool done = kind == JobKind::kAnalyse ? result.hasAnalysis : result.hasDefrag;
    if (!done && !outcome.stopped) passedOver = true;
    // The files the job left in pieces, once it went over the volume or was stopped.
    if (kind != JobKind::kAnalyse && result.error.empty() && (result.hasDefrag || outcome.stopped)) {
      result.left = CollectLeftFiles(session.Api(), result.letter, outcome.stopped);
      result.leftKnown = true;
    }
  }
  // The packing of an in-depth pass may have opened the runs that files were left in
  // pieces for want of: one more try each, so one run of optimize does what it can.
  std::vector<int> joined(results.size(), 0);
  if (kind == JobKind::kOptimize && !outcome.stopped) {
    for (std::size_t i = 0; i < results.size(); ++i) {
      if (results[i].leftKnown) joined[i] = JoinAfterPacking(session.Api(), &results[i].left);
    }
  }
  const auto joinedText = [&](std::size_t i) {
    return std::to_string(joined[i]) + (joined[i] == 1 ? " more file" : " more files") + " joined after packing";
  };

  const std::vector<VolumeMap> mapsAfter =
      options.map || mapOnly ? TakeMaps(session.Api(), options.letters) : std::vector<VolumeMap>{};
  if (mapOnly) {
    if (!options.quiet || options.json) PrintMaps(options, mapsAfter, results);
  } else if (options.json) {
    for (std::size_t i = 0; i < results.size(); ++i) {
      std::string json = VolumeJson(results[i], kind, outcome.stopped);
      if (options.map) {
        // The maps go into the volume's object: one object per volume still.
        std::string fields;
        if (!mapsBefore.empty()) fields += MapJsonFields(mapsBefore[i], "mapBefore");
        fields += MapJsonFields(mapsAfter[i], "map");
        json.insert(json.size() - 1, fields);
      }
      if (kind == JobKind::kOptimize) json.insert(json.size() - 1, ",\"joinedAfterPacking\":" + std::to_string(joined[i]));
      std::printf("%s\n", json.c_str());
    }
  } else if (!options.quiet) {
    const MapColours colours = TerminalColours();
    for (std::size_t i = 0; i < results.size(); ++i) {
      const VolumeResult& result = results[i];
      for (const std::string& line : SummaryLines(result, kind, outcome.stopped)) std::printf("%s\n", line.c_str());
      if (joined[i] > 0) std::printf("%c: %s.\n", result.letter, joinedText(i).c_str());
      if (!options.map) continue;
      const std::string letter = std::string(1, result.letter) + ":";
      if (!mapsBefore.empty() && mapsBefore[i].known) {
        std::printf("\n%s", MapText(letter + " before the " + JobKindName(kind) + ":", mapsBefore[i].codes,
                                       mapsBefore[i].volume, colours, WideTerminal()).c_str());
      }
      if (mapsAfter[i].known) {
        const std::string title = kind == JobKind::kAnalyse ? "Cluster map of " + letter
                                                             : letter + " after the " + JobKindName(kind) + ":";
        std::printf("\n%s", MapText(title, mapsAfter[i].codes, mapsAfter[i].volume, colours, WideTerminal()).c_str());
      }
    }
    if (outcome.stopped) std::printf("Stopped after %.1f s.\n", outcome.seconds);
    std::printf("Report: %s\n", EntryPage(engineFolder, kind).c_str());
  }
  std::fflush(stdout);
  if (options.open) session.Api().showReport(kind == JobKind::kAnalyse ? 1 : 2);

  if (outcome.stopped) return kExitStopped;
  // The engine passed a volume over (too little free space), or a page is missing.
  if (outcome.engineMessages > 0 || passedOver) return kExitVolume;
  return kExitDone;
}

}  // namespace cli
