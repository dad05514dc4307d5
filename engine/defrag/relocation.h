// File relocation: the per-file step of the defragmentation walk.
//
// A file in several pieces, none a hole and no two back to back, is moved extent by
// extent into the smallest free run that holds it whole (of equal lengths, the run
// nearest the start), with one move call per extent; the map follows the moves, the
// report gets one row, and in an in-depth job the file becomes a candidate. The free
// runs are the pass's (defrag/pass_free_space.h): one bitmap read per pass, read again
// only after a refused move. The extents are read when the file is opened and again
// after the moves: only a file that now lies in one piece where it was moved gets its
// row. One that changed meanwhile (another program wrote to it), or whose target was
// taken after the bitmap was read, is tried once more as it is then, in a fresh run,
// and otherwise passed over. A file left in pieces is noted with the reason
// (defrag/left_fragmented.h).
//
// On NTFS the moves keep to what the file system accepts: compressed and sparse files
// move in 16-cluster units, clusters past the file's size rounded to whole clusters
// (preallocated) are not moved, and encrypted files are opened with data access (or
// passed over with the reason when the account has none).
#pragma once

#include <cstdint>
#include <string>

#include "defrag/candidates.h"

namespace vexa {

struct RelocationFile {
  const std::string& path;
  std::uint64_t size;        // bytes, from the directory entry
  std::uint32_t attributes;  // attribute word of the directory entry
  bool system;               // the path contains "system32"
};

// Relocates one file of the walk slot's volume. `candidates` is the in-depth
// candidate map in an in-depth job, else null; `large` selects the large variants'
// size condition for map updates. Defragmentation worker only.
void RelocateFile(const RelocationFile& file, bool large, CandidateMap* candidates);

}  // namespace vexa
