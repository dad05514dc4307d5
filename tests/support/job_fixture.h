// An engine on simulated volumes whose working folder holds the delivered data files,
// so jobs write their report pages as they do when installed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/engine_fixture.h"

namespace vexa::test {

class JobTest : public EngineTest {
 protected:
  void SetUp() override {
    for (const auto& entry : std::filesystem::directory_iterator(VEXA_DATA_DIR)) {
      const auto name = entry.path().filename().string();
      if (name == "CMakeLists.txt") continue;
      std::filesystem::copy_file(entry.path(), dir.Path() + name);
    }
  }
  std::string Page(const std::string& name) const { return ReadFile(dir.File(name)); }
  bool HasPage(const std::string& name) const { return FileExists(dir.File(name)); }

  // A volume of `bytesPerCluster` clusters whose every cluster is used except the given
  // free runs; it reports plenty of free bytes, so small test volumes pass the 50 MiB
  // free-space check.
  platform::sim::SimVolume& VolumeWithFreeRuns(char letter, const std::string& fs, std::int64_t total,
                                          std::uint32_t bytesPerCluster,
                                          const std::vector<platform::sim::ClusterRun>& free) {
    auto& v = machine.AddVolume(letter, fs, total, bytesPerCluster);
    for (std::int64_t c = 0; c < total; ++c) {
      bool isFree = false;
      for (const platform::sim::ClusterRun& r : free) isFree = isFree || (c >= r.lcn && c < r.lcn + r.length);
      if (!isFree) v.MarkUsed(c, 1);
    }
    v.SetReportedFreeSpace({8, 512, 100000, static_cast<std::uint32_t>(total)});
    return v;
  }
};

}  // namespace vexa::test
