// The finishing pass after an in-depth defragmentation: packing files toward the start
// may open the free run a file was left fragmented for want of, so each such file is
// tried once more through the per-file entry.
#pragma once

#include <vector>

#include "engine_api.h"
#include "left_fragmented.h"

namespace cli {

// Tries each file of `left` that no free run could take when the job met it, once, as
// contig does (no room making). A file joined into one piece leaves `left`; a file still
// without a run keeps its entry with the figures of now (pieces, clusters, largest free
// run). Returns how many files were joined. Stops at a stop request. Main thread; no
// job may run.
int JoinAfterPacking(const EngineApi& api, std::vector<LeftFile>* left);

}  // namespace cli
