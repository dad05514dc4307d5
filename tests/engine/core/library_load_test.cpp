// The engine library as a front end loads it: start-up when it is loaded (working
// folder, volume map, volume table), shut-down when it is unloaded (diskdata).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/fat_image_builder.h"
#include "support/temp_dir.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

using test::TempDir;

struct LoadedEngine {
  void* library = nullptr;
  template <typename F>
  F Get(const char* name) {
    return reinterpret_cast<F>(dlsym(library, name));
  }
};

TEST(LibraryLoad, LoadingStartsTheEngineOnTheMappedImagesAndUnloadingSavesTheMap) {
  const std::string stage = VEXA_ENGINE_DIR;
  if (!std::filesystem::exists(stage + "/libvexa.so")) GTEST_SKIP() << "libvexa.so not built";
  // A private copy of the installed folder: the engine's files land here.
  TempDir dir;
  std::filesystem::copy_file(stage + "/libvexa.so", dir.File("libvexa.so"));
  for (const auto& entry : std::filesystem::directory_iterator(VEXA_DATA_DIR)) {
    if (entry.path().filename() != "CMakeLists.txt") {
      std::filesystem::copy_file(entry.path(), dir.File(entry.path().filename().string()));
    }
  }
  platform::fat::FatImageOptions options;
  options.type = platform::fat::FatType::kFat16;
  options.sizeBytes = 16ull << 20;
  options.bytesPerCluster = 2048;
  std::string error;
  auto builder = platform::fat::FatImageBuilder::Create(options, &error);
  ASSERT_NE(builder, nullptr) << error;
  ASSERT_TRUE(builder->AddFile("hello.txt", std::string(5000, 'h'), {{100, 3}}));
  ASSERT_TRUE(builder->Save(dir.File("card.img")));
  test::WriteFile(dir.File("volumes.ini"), "[volumes]\nE=card.img\n");
  unsetenv("VEXA_VOLUMES");

  void* library = dlopen((dir.Path() + "libvexa.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  LoadedEngine engine{library};
  auto getInfo = engine.Get<const VexaVolumeInfo* (*)(char)>("DLL_GetVolumeInfo");
  auto analyse = engine.Get<int32_t (*)(const char*)>("DLL_AnalyseVolume");
  auto colours = engine.Get<const int32_t* (*)(char)>("DLL_GetVolumeColorTable");
  ASSERT_NE(getInfo, nullptr);
  ASSERT_NE(analyse, nullptr);
  ASSERT_NE(colours, nullptr);

  const VexaVolumeInfo* info = getInfo('E');
  ASSERT_NE(info, nullptr);
  EXPECT_STREQ(info->fileSystem, "FAT16");
  EXPECT_EQ(info->bytesPerCluster, 2048u);
  EXPECT_EQ(getInfo('F'), nullptr);
  EXPECT_EQ(analyse("E"), 1);
  EXPECT_TRUE(test::FileExists(dir.File("analysisreport1.html")));
  int marked = 0;
  for (int k = 0; k < 1000; ++k) marked += colours('E')[k] != 0 ? 1 : 0;
  EXPECT_GT(marked, 0);
  ASSERT_EQ(dlclose(library), 0);

  // The map of slot 2 (E) was saved at unload.
  const std::string diskdata = test::ReadFile(dir.File("diskdata"));
  ASSERT_EQ(diskdata.size(), 26u * 24000);
  auto nonZero = [&](std::size_t block) {
    return std::count_if(diskdata.begin() + block * 24000, diskdata.begin() + (block + 1) * 24000,
                         [](char c) { return c != 0; });
  };
  EXPECT_GT(nonZero(2), 0);
  EXPECT_EQ(nonZero(0), 0);
}

}  // namespace
}  // namespace vexa
