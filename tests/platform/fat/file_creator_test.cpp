// Creating files on chosen clusters: what mtools and fsck.fat read back, folders that
// grow, replacement, refusals, and a crash after any write.
#include <gtest/gtest.h>

#include <cstring>

#include "fat_tools.h"
#include "platform/fat_provider.h"
#include "platform/fat_write_limit_io.h"

namespace platform::fat {
namespace {

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
};

std::string GeometryName(const testing::TestParamInfo<Geometry>& info) {
  return "fat" + std::to_string(info.param.fatBits) + "_spc" + std::to_string(info.param.sectorsPerCluster);
}

NewFileData Content(const std::string& bytes, std::vector<FileRun> runs, bool replace = false) {
  NewFileData data;
  data.size = bytes.size();
  data.runs = std::move(runs);
  data.replace = replace;
  data.lastWriteTime = 1700000000;  // 2023-11-14
  data.read = [bytes](std::uint64_t offset, void* out, std::size_t size) {
    if (offset + size > bytes.size()) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  };
  return data;
}

std::int64_t LowestFreeRun(Machine& m, std::int64_t clusters) {
  const Handle v = m.OpenVolume('C');
  const std::int64_t lcn = fattest::FindFreeRun(m, v, clusters);
  m.CloseHandle(v);
  return lcn;
}

std::uint32_t FreeClusters(Machine& m) {
  DiskFreeSpace space{};
  EXPECT_TRUE(m.FreeSpace('C', &space));
  return space.freeClusters;
}

// A folder "Full" whose clusters hold exactly as many entries as fit (".", ".." and
// short-named empty files), so a new entry makes it grow.
void AddFullFolder(const fattest::ScratchDir& dir, const std::string& image, std::uint32_t bytesPerCluster) {
  const std::string host = dir / "Full";
  std::filesystem::create_directory(host);
  for (std::uint32_t i = 0; i + 2 < bytesPerCluster / 32; ++i) fattest::WriteAll(host + "/F" + std::to_string(i), "");
  std::string out;
  ASSERT_EQ(fattest::Run("mcopy -s -i " + fattest::Quote(image) + " " + fattest::Quote(host) + " ::/", &out), 0) << out;
  ASSERT_EQ(fattest::MtoolsRuns(image, "Full").size(), 1u);
}

class FileCreatorTest : public testing::TestWithParam<Geometry> {
 protected:
  void SetUp() override {
    if (!fattest::HaveTools()) GTEST_SKIP() << "mkfs.fat, fsck.fat or mtools missing";
    const Geometry g = GetParam();
    bpc = 512u * static_cast<std::uint32_t>(g.sectorsPerCluster);
    fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster);
    fattest::Mmd(image, "Games");
    fattest::WriteAll(dir / "old", fattest::RandomBytes(bpc * 2 + 5, 3));
    fattest::Mcopy(image, dir / "old", "Games/OLD.BIN");
    AddFullFolder(dir, image, bpc);
  }

  std::unique_ptr<Machine> Open(std::unique_ptr<FatIo> io = nullptr) {
    FatOpenStatus status{};
    auto m = io != nullptr ? OpenFatVolume('C', std::move(io), &status) : OpenFatVolume('C', image, &status);
    EXPECT_EQ(status, FatOpenStatus::kOk) << FatOpenStatusText(status);
    return m;
  }

  fattest::ScratchDir dir;
  std::string image = dir / "card.img";
  std::uint32_t bpc = 512;
};

TEST_P(FileCreatorTest, NewFilesReadBackWithMtoolsOnTheirRunsUnderTheirNames) {
  const std::string game = fattest::RandomBytes(bpc * 5 + 100, 11);
  const std::string split = fattest::RandomBytes(bpc * 4, 12);
  {
    auto m = Open();
    const std::uint32_t free = FreeClusters(*m);
    const std::int64_t at = LowestFreeRun(*m, 20);
    ASSERT_GE(at, 0);
    ASSERT_EQ(m->CreateFileInRuns("C:\\Games\\My Game (Europe).iso", Content(game, {{at, 6}})), kErrorSuccess);
    // Two runs with a free gap between them, in file order.
    ASSERT_EQ(m->CreateFileInRuns("C:\\Split File.bin", Content(split, {{at + 12, 3}, {at + 8, 1}})), kErrorSuccess);
    ASSERT_EQ(m->CreateFileInRuns("C:\\readme.txt", Content("hello", {{at + 16, 1}})), kErrorSuccess);
    ASSERT_EQ(m->CreateFileInRuns("C:/EMPTY.DAT", Content("", {})), kErrorSuccess);
    EXPECT_EQ(FreeClusters(*m), free - 11);
    // The provider finds what it created, by long and short name.
    EXPECT_EQ(fattest::Extents(*m, "C:\\games\\MYGAME~1.ISO"), (fattest::Runs{{at, 6}}));
  }
  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::Mtype(image, "Games/My Game (Europe).iso"), game);
  EXPECT_EQ(fattest::Mtype(image, "Split File.bin"), split);
  EXPECT_EQ(fattest::Mtype(image, "readme.txt"), "hello");
  EXPECT_EQ(fattest::Mtype(image, "EMPTY.DAT"), "");
  const auto at = fattest::MtoolsRuns(image, "Games/My Game (Europe).iso").front().first;
  EXPECT_EQ(fattest::MtoolsRuns(image, "Split File.bin"), (fattest::Runs{{at + 12, 3}, {at + 8, 1}}));
  // mdir shows the 8.3 alias Windows would store beside the long name, and the
  // lower-case 8.3 name without a long name.
  fattest::Run("mdir -i " + fattest::Quote(image) + " ::/Games", &out);
  EXPECT_NE(out.find("MYGAME~1 ISO"), std::string::npos) << out;
  EXPECT_NE(out.find("My Game (Europe).iso"), std::string::npos) << out;
  fattest::Run("mdir -i " + fattest::Quote(image) + " ::/", &out);
  EXPECT_NE(out.find("readme   txt"), std::string::npos) << out;
  EXPECT_NE(out.find("SPLITF~1 BIN"), std::string::npos) << out;
}

TEST_P(FileCreatorTest, AFullFolderGrowsByAClusterForTheNewEntries) {
  const std::string bytes = fattest::RandomBytes(bpc + 1, 13);
  {
    auto m = Open();
    const std::int64_t at = LowestFreeRun(*m, 2);
    ASSERT_EQ(m->CreateFileInRuns("C:\\Full\\A long name that takes three entries.bin", Content(bytes, {{at, 2}})),
              kErrorSuccess);
  }
  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::Mtype(image, "Full/A long name that takes three entries.bin"), bytes);
  std::int64_t folderClusters = 0;
  for (const auto& run : fattest::MtoolsRuns(image, "Full")) folderClusters += run.second;
  EXPECT_EQ(folderClusters, 2);
  // Every entry that was there still is.
  const auto paths = fattest::MtoolsPaths(image);
  EXPECT_EQ(std::count_if(paths.begin(), paths.end(), [](const std::string& p) { return p.rfind("Full/F", 0) == 0; }),
            static_cast<long>(bpc / 32 - 2));
}

TEST_P(FileCreatorTest, ReplacingFreesTheOldClustersAndKeepsTheName) {
  const std::string bytes = fattest::RandomBytes(bpc * 3, 14);
  {
    auto m = Open();
    const std::uint32_t free = FreeClusters(*m);
    const std::int64_t at = LowestFreeRun(*m, 3);
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games\\old.bin", Content(bytes, {{at, 3}})), kErrorFileExists);
    ASSERT_EQ(m->CreateFileInRuns("C:\\Games\\old.bin", Content(bytes, {{at, 3}}, true)), kErrorSuccess);
    EXPECT_EQ(FreeClusters(*m), free - 3 + 3);
    EXPECT_EQ(fattest::Extents(*m, "C:\\Games\\OLD.BIN"), (fattest::Runs{{at, 3}}));
  }
  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;  // no lost clusters
  EXPECT_EQ(fattest::Mtype(image, "Games/OLD.BIN"), bytes);
}

TEST_P(FileCreatorTest, RefusalsChangeNothing) {
  const std::string before = fattest::ReadAll(image);
  {
    auto m = Open();
    const std::int64_t at = LowestFreeRun(*m, 2);
    const std::int64_t used = fattest::Extents(*m, "C:\\Games\\OLD.BIN").front().first;
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games\\NEW.BIN", Content("x", {{used, 1}})), kErrorAccessDenied);
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games\\NEW.BIN", Content("x", {{at, 2}})), kErrorInvalidParameter);
    EXPECT_EQ(m->CreateFileInRuns("C:\\Nowhere\\NEW.BIN", Content("x", {{at, 1}})), kErrorPathNotFound);
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games\\a?b", Content("x", {{at, 1}})), kErrorInvalidName);
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games", Content("x", {{at, 1}}, true)), kErrorAccessDenied);
  }
  EXPECT_TRUE(fattest::ReadAll(image) == before) << "a refused file changed the image";

  // Content that cannot be read to the end: the claimed clusters are given back.
  const auto contents = fattest::MtoolsContents(image);
  {
    auto m = Open();
    const std::uint32_t free = FreeClusters(*m);
    NewFileData data = Content(std::string(bpc * 2, 'x'), {{LowestFreeRun(*m, 2), 2}});
    data.size += bpc;  // one cluster more than the reader has
    data.runs[0].clusters = 3;
    EXPECT_EQ(m->CreateFileInRuns("C:\\Games\\SHORT.BIN", data), kErrorReadFault);
    EXPECT_EQ(FreeClusters(*m), free);
  }
  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::ChangedFiles(contents, fattest::MtoolsContents(image)), std::vector<std::string>{});
}

// Stops after every possible number of writes while a long-named file goes into the
// full folder and OLD.BIN is replaced: afterwards fsck.fat finds at most what a crash
// may leave, the new file is absent or whole, OLD.BIN holds its old or its new content,
// and every other file reads as before.
TEST_P(FileCreatorTest, StoppingAtAnyWriteLeavesNoFileOrTheWholeFile) {
  const std::string pristine = dir / "pristine.img";
  std::filesystem::copy_file(image, pristine);
  const auto before = fattest::MtoolsContents(pristine);
  const std::string added = fattest::RandomBytes(bpc * 3 + 7, 15);
  const std::string replaced = fattest::RandomBytes(bpc * 2, 16);
  const std::string addedPath = "Full/Put while the power fails.iso";

  auto run = [&](std::uint64_t allowed) {
    std::filesystem::copy_file(pristine, image, std::filesystem::copy_options::overwrite_existing);
    FatOpenStatus status{};
    auto limited = std::make_unique<WriteLimitIo>(OpenFatDevice(image, &status), allowed);
    WriteLimitIo* counter = limited.get();
    auto m = Open(std::move(limited));
    const std::int64_t at = LowestFreeRun(*m, 8);
    const std::uint32_t a =
        m->CreateFileInRuns("C:\\Full\\Put while the power fails.iso", Content(added, {{at, 2}, {at + 4, 2}}));
    // The folder grows into the lowest free cluster, at + 2.
    const std::uint32_t b = m->CreateFileInRuns("C:\\Games\\OLD.BIN", Content(replaced, {{at + 6, 2}}, true));
    if (allowed == WriteLimitIo::kUnlimited) {
      EXPECT_EQ(a, kErrorSuccess);
      EXPECT_EQ(b, kErrorSuccess);
    }
    return counter->WritesSeen();
  };

  const std::uint64_t total = run(WriteLimitIo::kUnlimited);
  ASSERT_GT(total, 10u);
  std::string out;
  ASSERT_EQ(fattest::Fsck(image, &out), 0) << out;
  ASSERT_EQ(fattest::Mtype(image, addedPath), added);

  for (std::uint64_t n = 0; n < total; ++n) {
    SCOPED_TRACE("writes let through: " + std::to_string(n));
    run(n);
    fattest::Fsck(image, &out);
    EXPECT_EQ(fattest::DisallowedFsckLines(out), std::vector<std::string>{}) << out;
    auto after = fattest::MtoolsContents(image);
    if (after.count(addedPath) != 0) {
      EXPECT_EQ(after[addedPath], added);
      after.erase(addedPath);
    }
    if (after["Games/OLD.BIN"] == replaced) after["Games/OLD.BIN"] = before.at("Games/OLD.BIN");
    EXPECT_EQ(fattest::ChangedFiles(before, after), std::vector<std::string>{});
    FatOpenStatus status{};
    EXPECT_NE(OpenFatVolume('C', image, &status), nullptr) << FatOpenStatusText(status);
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, FileCreatorTest,
                         testing::Values(Geometry{12, 1440, 1}, Geometry{16, 20000, 4}, Geometry{32, 34000, 1}),
                         GeometryName);

// A FAT12/16 root folder has a fixed size: when it is full the file is refused.
TEST(FileCreatorRootTest, AFullFixedRootFolderRefusesTheEntry) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "root.img";
  fattest::MakeFs(image, 16, 20000, 1, "", "-r 16");
  fattest::WriteAll(dir / "e", "");
  for (int i = 0; i < 16; ++i) fattest::Mcopy(image, dir / "e", "E" + std::to_string(i));
  const std::string before = fattest::ReadAll(image);
  {
    FatOpenStatus status{};
    auto m = OpenFatVolume('C', image, &status);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->CreateFileInRuns("C:\\ONE.BIN", Content("x", {{LowestFreeRun(*m, 1), 1}})), kErrorCannotMake);
  }
  EXPECT_TRUE(fattest::ReadAll(image) == before) << "the refused file changed the image";
}

}  // namespace
}  // namespace platform::fat
