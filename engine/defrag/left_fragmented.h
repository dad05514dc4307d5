// Files a defragmentation job left in more than one piece, and why.
//
// The defragmentation worker notes each file it passes over or could not finish; the
// command-line program reads the list after the job to say which files are still in
// pieces. The list belongs to the last job: it is emptied when a defragmentation
// worker starts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vexa/vexa.h"

namespace vexa {

struct LeftFragmentedFile {
  char letter;       // the volume's drive letter
  std::string path;  // full path as the walk formed it
  VexaLeftFile figures;
};

// Empties the list. Defragmentation worker (or a test).
void ClearLeftFragmented();

// Notes one file of volume `letter`. Defragmentation worker.
void NoteLeftFragmented(char letter, const std::string& path, std::int32_t reason, std::uint32_t pieces,
                        std::uint64_t clusters, std::uint64_t largestFreeRun, std::uint32_t error = 0);

// The files noted for volume `letter` (any case), in the order noted.
std::vector<LeftFragmentedFile> LeftFragmentedOf(char letter);

}  // namespace vexa
