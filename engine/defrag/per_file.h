// Per-file work for the command-line program: how many pieces files lie in (check),
// making one file contiguous (contig) and copying a file in contiguously (put).
//
// Everything goes through the volume seam, so it works on every provider that
// answers the volume calls (put also needs Machine::CreateFileInRuns). Each call runs
// on the caller's thread as a job would: it claims the job slots first and lets a stop
// request end it between two moves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/volume_access.h"
#include "platform/machine.h"
#include "vexa/vexa.h"

namespace vexa {

// Runs of consecutive clusters in an extent list: pieces that lie back to back are
// one piece, holes are none. `extents` is a filled retrieval buffer.
std::uint32_t CountPieces(const ExtentBuffer& extents);

// The runs a new file of `clusters` clusters goes to, in file order (ascending
// position), from the free runs `freeRuns` (first cluster, length; ascending): the
// smallest run that holds it all, the one nearest the start among equals; when none
// does, the fewest runs, largest first (nearest the start among equals), the last
// one exchanged for the smallest run that holds the rest. *runsNeeded is how many runs
// that takes (0 when even all runs together are too small). Empty when more than
// `maxPieces` runs would be needed.
std::vector<platform::FileRun> ChooseNewFileRuns(const std::vector<std::pair<std::int64_t, std::int64_t>>& freeRuns,
                                                    std::int64_t clusters, std::uint32_t maxPieces,
                                                    std::uint32_t* runsNeeded);

using FileVisitor = std::function<void(const std::string& path, const VexaFilePieces& file)>;
using MovedVisitor = std::function<void(const std::string& path, const VexaMovedFile& move)>;
using ContentReader = std::function<bool(std::uint64_t offset, void* data, std::uint32_t size)>;

// check: visits the file at the full path `path`, or every file under the folder at
// `path`, with its figures; the path given is the one the folder walk finds (names as
// stored). Returns a VEXA_FILE_* outcome.
std::int32_t CheckFiles(const std::string& path, const FileVisitor& visit);

// contig: see VexaMakeContiguous. Fills *result and returns its outcome.
std::int32_t MakeContiguous(const std::string& path, bool makeRoom, const MovedVisitor& moved,
                            VexaFileResult* result);

// put: see VexaPutFile. Fills *result and returns its outcome.
std::int32_t PutFile(const std::string& path, std::uint64_t size, std::int64_t lastWriteTime,
                     std::uint32_t maxPieces, bool replace, const ContentReader& read, VexaFileResult* result);

}  // namespace vexa
