// Files a job left in more than one piece, and why: what the engine noted while it
// defragmented, and after a stop the files it never reached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine_api.h"

namespace cli {

struct LeftFile {
  std::string path;  // as the terminal shows it
  VexaLeftFile figures{};
};

// The files the last defragmentation job left in pieces on volume `letter`, in the order
// the engine met them. After a stop (`stopped`) the files it never reached that lie in
// more than one piece follow, found with a read-only check of the volume, as stopped.
// Main thread; no job may run.
std::vector<LeftFile> CollectLeftFiles(const EngineApi& api, char letter, bool stopped);

// The JSON name of a VEXA_LEFT_* reason: "noFreeRun", "excluded", "systemFile",
// "readOnlyVolume", "stopped", "changed", "moveFailed".
const char* LeftReasonName(std::int32_t reason);

// Why the file is still in pieces, for people: "no free run is large enough: it needs
// 1,024 contiguous clusters; the largest free run has 300", "excluded by the Options
// lists", ...
std::string LeftReasonText(const VexaLeftFile& file);

// The summary line of one file: "  \GAMES\X.ISO: 12 pieces; <reason>".
std::string LeftFileLine(const LeftFile& file);

// One JSON object for one file (path, pieces, clusters, reason, largestFreeRun, text).
std::string LeftFileJson(const LeftFile& file);

}  // namespace cli
