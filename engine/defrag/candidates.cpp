// The in-depth candidate map.
#include "defrag/candidates.h"

namespace vexa {

void AddCandidate(CandidateMap& map, std::int64_t clusters, const std::string& path, std::uint64_t firstCluster) {
  map.emplace(clusters, Candidate{path, firstCluster});
}

}  // namespace vexa
