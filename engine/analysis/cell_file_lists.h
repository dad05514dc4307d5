// The files the analysis found in each cell of a volume's cluster map.
//
// The analysis worker adds paths while the front end may ask for a cell's list, so
// the lists are guarded by one mutex per volume; adds are short and uncontended.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vexa {

class CellFileLists {
 public:
  CellFileLists();

  // Appends `path` (the whole path the walk formed) to the list of cell k (capped at 999).
  void Add(int k, std::string_view path);
  // Whether the list of cell k holds `path`, compared case-insensitively.
  bool Contains(int k, std::string_view path) const;
  // Empties every list.
  void Clear();
  // A copy of the list of cell k; empty for k outside 0..999.
  std::vector<std::string> List(int k) const;

 private:
  mutable std::mutex lock_;
  std::vector<std::vector<std::string>> lists_;
};

// Writes `paths`, one per line ending in CR LF, to the file `fileName`, replacing
// it. False when the file cannot be created or written.
[[nodiscard]] bool WriteFileList(const std::string& fileName, const std::vector<std::string>& paths);

}  // namespace vexa
