// The in-depth pass: packs the volume toward its start by moving files in one piece,
// largest first, into the first free run before them that holds them whole.
#pragma once

#include "defrag/candidates.h"

namespace vexa {

// Runs the pass over `candidates` on the walk slot's volume; moved candidates leave
// the map. Sets the stopped flag when it ends on a stop request. Defragmentation
// worker only.
void RunInDepthPass(CandidateMap& candidates);

}  // namespace vexa
