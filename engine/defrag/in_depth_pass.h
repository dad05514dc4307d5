// The in-depth pass: packs the volume toward its start by moving files in one piece,
// largest first, into the first free run before them that holds them whole.
#pragma once

#include <cstdint>
#include <optional>

#include "analysis/free_runs.h"
#include "defrag/candidates.h"

namespace vexa {

// Runs the pass over `candidates` on the walk slot's volume; moved candidates leave
// the map. Sets the stopped flag when it ends on a stop request. Defragmentation
// worker only.
void RunInDepthPass(CandidateMap& candidates);

// The in-depth rule for one file of `clusters` clusters starting at logical cluster
// `first`: the runs are examined from the start of the volume up to the first that
// starts at or after the file or is long enough; that run is the answer when it is
// both. Nullopt otherwise, or when a stop is requested. Defragmentation worker or a
// per-file command's thread.
std::optional<std::int64_t> ChooseInDepthRun(const FreeRunsByStart& runs, std::int64_t first, std::int64_t clusters);

}  // namespace vexa
