// A start-up that fails while it loads the volume table: nothing of it stays, every
// export answers as with no volumes, and shutting down and starting again are clean.
// Run under ASan too: a handle or pointer kept from the failed start-up would show.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>

#include "core/engine.h"
#include "core/volume_table.h"
#include "platform/sim_machine.h"
#include "support/temp_dir.h"
#include "vexa/vexa.h"

namespace vexa {
namespace {

// A machine that answers through a simulated one but runs out of memory when the
// bitmap of volume `failing` is read.
class FailingMachine final : public platform::Machine {
 public:
  FailingMachine(platform::sim::SimMachine& sim, char failing) : sim_(sim), failing_(failing) {}

  std::uint32_t DriveType(char letter) override { return sim_.DriveType(letter); }
  bool VolumeInformation(char letter, char* label, std::uint32_t labelSize, char* fileSystem,
                         std::uint32_t fileSystemSize) override {
    return sim_.VolumeInformation(letter, label, labelSize, fileSystem, fileSystemSize);
  }
  bool VolumeSerialNumber(char letter, std::uint32_t* serial) override { return sim_.VolumeSerialNumber(letter, serial); }
  bool FreeSpace(char letter, platform::DiskFreeSpace* out) override { return sim_.FreeSpace(letter, out); }
  platform::Handle OpenVolume(char letter) override {
    const platform::Handle h = sim_.OpenVolume(letter);
    if (letter == failing_) failingHandle_ = h;
    return h;
  }
  platform::Handle OpenFileForQuery(const char* path) override { return sim_.OpenFileForQuery(path); }
  std::uint32_t GetVolumeBitmap(platform::Handle volume, std::int64_t startingLcn, platform::VOLUME_BITMAP_BUFFER* out,
                                std::uint32_t outSize) override {
    if (volume == failingHandle_) throw std::bad_alloc();
    return sim_.GetVolumeBitmap(volume, startingLcn, out, outSize);
  }
  std::uint32_t GetRetrievalPointers(platform::Handle file, std::int64_t startingVcn,
                                     platform::RETRIEVAL_POINTERS_BUFFER* out, std::uint32_t outSize) override {
    return sim_.GetRetrievalPointers(file, startingVcn, out, outSize);
  }
  std::uint32_t MoveFile(platform::Handle volume, const platform::MOVE_FILE_DATA& move) override {
    return sim_.MoveFile(volume, move);
  }
  std::uint32_t FileSize(platform::Handle file, std::uint64_t* size) override { return sim_.FileSize(file, size); }
  platform::Handle FindFirst(const char* pattern, platform::WIN32_FIND_DATAA* data) override {
    return sim_.FindFirst(pattern, data);
  }
  bool FindNext(platform::Handle search, platform::WIN32_FIND_DATAA* data) override { return sim_.FindNext(search, data); }
  void FindClose(platform::Handle search) override { sim_.FindClose(search); }
  void CloseHandle(platform::Handle handle) override { sim_.CloseHandle(handle); }

 private:
  platform::sim::SimMachine& sim_;
  char failing_;
  platform::Handle failingHandle_ = platform::kInvalidHandle;
};

TEST(StartupFailureTest, AFailureWhileLoadingTheVolumeTableLeavesNoEngineState) {
  test::TempDir dir;
  platform::sim::SimMachine sim;
  auto& c = sim.AddVolume('C', "FAT32", 1000);
  c.AddFile("a.bin", 2 * 4096, {{200, 1}, {300, 1}});
  c.SetReportedFreeSpace({8, 512, 100000, 1000});  // past the free-space check
  sim.AddVolume('D', "FAT32", 1000);
  gJobWaitMs = 2;
  {
    auto failing = std::make_unique<FailingMachine>(sim, 'D');
    EXPECT_THROW(Startup(*failing, dir.Path()), std::bad_alloc);
    EXPECT_EQ(sim.OpenHandles(), 0u) << "C:, opened before D: failed, was closed again";
    // The machine goes away with the failed start-up, as the library drops it.
  }
  const int bitmapReads = sim.Volume('C')->BitmapCalls();
  EXPECT_EQ(gVolumeCount, 0);
  EXPECT_EQ(DLL_GetVolumeInfo('C'), nullptr);
  const int32_t* colors = DLL_GetVolumeColorTable('C');
  for (int k = 0; k < 1000; ++k) ASSERT_EQ(colors[k], VEXA_COLOR_EMPTY) << k;
  EXPECT_EQ(DLL_GetVolumeSectorColor('C', 0), VEXA_COLOR_EMPTY);
  EXPECT_EQ(DLL_GetVolumeSectorFilesList('C', 0), 0);
  DLL_SetCurrentVolume('C');
  EXPECT_EQ(DLL_DefragVolume("C"), 1) << "a job export returns at once";
  EXPECT_EQ(DLL_AnalyseVolume("C"), 1);
  EXPECT_EQ(DLL_GetWorkingStatus()->state, VEXA_STATE_IDLE);
  EXPECT_EQ(VexaCheckFiles("C:\\", [](const char*, const VexaFilePieces*, void*) {}, nullptr), VEXA_FILE_NO_VOLUME);
  VexaFileResult result{};
  EXPECT_EQ(VexaMakeContiguous("C:\\a.bin", 0, nullptr, nullptr, &result), VEXA_FILE_NO_VOLUME);
  EXPECT_EQ(VexaListLeftFragmented('C', nullptr, nullptr), 0);
  EXPECT_EQ(sim.Volume('C')->MoveCalls(), 0);
  EXPECT_EQ(sim.Volume('C')->BitmapCalls(), bitmapReads) << "no export read the volume";

  // Unloading after the failure touches nothing and saves no half-loaded map.
  const std::string diskdata = test::ReadFile(dir.File("diskdata"));
  Shutdown();
  EXPECT_EQ(test::ReadFile(dir.File("diskdata")), diskdata);

  // A later start-up on a sound machine works as usual.
  Startup(sim, dir.Path());
  ASSERT_NE(DLL_GetVolumeInfo('C'), nullptr);
  EXPECT_EQ(DLL_DefragVolume("C"), 1);
  EXPECT_EQ(c.RunsOf("a.bin")->size(), 1u);
  Shutdown();
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

}  // namespace
}  // namespace vexa
