// The in-depth candidate map: files in one piece that the in-depth pass may move
// toward the start of the volume, largest first.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace vexa {

struct Candidate {
  std::string path;           // full path as the walk formed it
  std::uint64_t firstCluster; // the file's first logical cluster
};

// Cluster count -> candidate, largest count first; equal counts keep the order in
// which they were inserted.
using CandidateMap = std::multimap<std::int64_t, Candidate, std::greater<std::int64_t>>;

// Adds a candidate with its whole path.
void AddCandidate(CandidateMap& map, std::int64_t clusters, const std::string& path, std::uint64_t firstCluster);

}  // namespace vexa
