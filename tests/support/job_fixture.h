// An engine on simulated volumes whose working folder holds the delivered data files,
// so jobs write their report pages as they do when installed.
#pragma once

#include <filesystem>
#include <string>

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
};

}  // namespace vexa::test
