// The demo volume: a FAT32 image of a few hundred MiB with a few thousand files in
// nested folders, a few hundred of them badly fragmented, always laid out the same way.
#pragma once

#include <cstdint>
#include <string>

namespace cli {

struct DemoVolumeFacts {
  std::uint64_t imageBytes = 0;
  std::uint32_t bytesPerCluster = 0;
  int folders = 0;
  int files = 0;            // every file, fragmented ones included
  int fragmentedFiles = 0;  // files laid out in more than one piece
};

// Builds the demo image at `path` (replacing any file there). False, with *error set,
// when it cannot be built or written. Main thread.
[[nodiscard]] bool BuildDemoVolume(const std::string& path, DemoVolumeFacts* facts, std::string* error);

}  // namespace cli
