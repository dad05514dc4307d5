// The list of files a defragmentation job left in more than one piece.
#include "defrag/left_fragmented.h"

#include <cctype>
#include <mutex>

namespace vexa {
namespace {

// Written by the worker, read by the export after the job; the lock keeps a late
// reader safe all the same.
std::mutex gLeftLock;
std::vector<LeftFragmentedFile> gLeft;

char Upper(char letter) { return static_cast<char>(std::toupper(static_cast<unsigned char>(letter))); }

}  // namespace

void ClearLeftFragmented() {
  std::lock_guard<std::mutex> guard(gLeftLock);
  gLeft.clear();
  gLeft.shrink_to_fit();
}

void NoteLeftFragmented(char letter, const std::string& path, std::int32_t reason, std::uint32_t pieces,
                        std::uint64_t clusters, std::uint64_t largestFreeRun, std::uint32_t error) {
  VexaLeftFile figures{};
  figures.reason = reason;
  figures.pieces = pieces;
  figures.clusters = clusters;
  figures.largestFreeRun = largestFreeRun;
  figures.error = error;
  std::lock_guard<std::mutex> guard(gLeftLock);
  gLeft.push_back({Upper(letter), path, figures});
}

std::vector<LeftFragmentedFile> LeftFragmentedOf(char letter) {
  std::vector<LeftFragmentedFile> files;
  std::lock_guard<std::mutex> guard(gLeftLock);
  for (const LeftFragmentedFile& file : gLeft) {
    if (file.letter == Upper(letter)) files.push_back(file);
  }
  return files;
}

}  // namespace vexa
