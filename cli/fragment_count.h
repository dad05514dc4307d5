// Counting the files of a FAT image that lie in more than one piece, read straight from
// the image with the FAT provider (the demo's before-and-after check).
#pragma once

#include <string>

namespace cli {

struct FragmentCount {
  int files = 0;
  int fragmented = 0;  // files with more than one extent
};

// Walks every folder of the FAT image at `path` and counts its files. False, with
// *error set, when the image cannot be opened. No engine may have the image open for
// writing meanwhile. Main thread.
[[nodiscard]] bool CountFragmentedFiles(const std::string& path, FragmentCount* count, std::string* error);

}  // namespace cli
