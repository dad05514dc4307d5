// Moves on real FAT images: fsck.fat stays clean, contents stay the same, refusals are
// Windows' refusals, and writes go in the crash-safe order.
#include <gtest/gtest.h>

#include "fat_image_patch.h"
#include "fat_tools.h"
#include "platform/fat_image_builder.h"
#include "platform/fat_provider.h"

namespace platform::fat {
namespace {

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
  int sectorSize = 512;
  const char* options = "";  // further mkfs.fat options
};

std::string GeometryName(const testing::TestParamInfo<Geometry>& info) {
  return "fat" + std::to_string(info.param.fatBits) + "_spc" + std::to_string(info.param.sectorsPerCluster) +
         "_sector" + std::to_string(info.param.sectorSize);
}

const Geometry kGeometries[] = {{12, 1440, 1},         {12, 4000, 4}, {12, 4000, 1, 2048, "-f 1"}, {16, 20000, 2},
                                {16, 40000, 1, 4096},  {32, 34000, 1}, {32, 70000, 1, 1024, "-R 8"}};

class MoveOnMtoolsImageTest : public testing::TestWithParam<Geometry> {};

TEST_P(MoveOnMtoolsImageTest, DefragmentingKeepsFsckCleanAndContentsUnchanged) {
  FAT_REQUIRE_TOOLS();
  const Geometry g = GetParam();
  fattest::ScratchDir dir;
  const std::string image = dir / "vol.img";
  fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster, "", "-S " + std::to_string(g.sectorSize) + " " + g.options);
  fattest::FillWithMtools(dir, image, static_cast<std::uint32_t>(g.sectorSize * g.sectorsPerCluster));
  const auto before = fattest::MtoolsContents(image);

  std::uint32_t freeBefore = 0;
  {
    FatOpenStatus status;
    auto m = OpenFatVolume('D', image, &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    DiskFreeSpace space{};
    ASSERT_TRUE(m->FreeSpace('D', &space));
    freeBefore = space.freeClusters;
    int moved = 0;
    for (const auto& [path, file] : fattest::Walk(*m, 'D')) {
      if (file.runs.size() < 2) continue;
      std::string win = "D:\\" + path;
      std::replace(win.begin(), win.end(), '/', '\\');
      EXPECT_EQ(fattest::DefragFile(*m, 'D', win), kErrorSuccess) << path;
      EXPECT_EQ(fattest::Extents(*m, win).size(), 1u) << path;
      ++moved;
    }
    ASSERT_GT(moved, 0);
    // A contiguous file moved in two halves, the second half first.
    const std::string copy = "D:\\Folder One\\deeper\\DEEPEST\\COPY.BIN";
    const auto runs = fattest::Extents(*m, copy);
    ASSERT_EQ(runs.size(), 1u);
    const Handle v = m->OpenVolume('D');
    const Handle f = m->OpenFileForQuery(copy.c_str());
    const std::int64_t target = fattest::FindFreeRun(*m, v, runs[0].second);
    ASSERT_GE(target, 0);
    const std::int64_t half = runs[0].second / 2;
    EXPECT_EQ(m->MoveFile(v, {f, half, target + half, static_cast<std::uint32_t>(runs[0].second - half)}),
              kErrorSuccess);
    EXPECT_EQ(m->MoveFile(v, {f, 0, target, static_cast<std::uint32_t>(half)}), kErrorSuccess);
    m->CloseHandle(f);
    m->CloseHandle(v);
    EXPECT_EQ(fattest::Extents(*m, copy), (fattest::Runs{{target, runs[0].second}}));
  }

  std::string out;
  EXPECT_EQ(fattest::Fsck(image, &out), 0) << out;
  EXPECT_EQ(fattest::ChangedFiles(before, fattest::MtoolsContents(image)), std::vector<std::string>{});
  // The provider, opened afresh, agrees with mtools on every extent and on free space.
  FatOpenStatus status;
  auto m = OpenFatVolume('D', image, &status);
  ASSERT_EQ(status, FatOpenStatus::kOk);
  for (const auto& [path, file] : fattest::Walk(*m, 'D')) {
    if (path.back() != '/') {
      EXPECT_EQ(file.runs, fattest::MtoolsRuns(image, path)) << path;
    }
  }
  DiskFreeSpace space{};
  ASSERT_TRUE(m->FreeSpace('D', &space));
  EXPECT_EQ(space.freeClusters, freeBefore);
}

INSTANTIATE_TEST_SUITE_P(Geometries, MoveOnMtoolsImageTest, testing::ValuesIn(kGeometries), GeometryName);

// A FAT16 image from the builder: "a.bin" in 3 runs of 2 clusters, "b.bin" contiguous,
// a bad cluster at 40.
std::vector<std::uint8_t> SmallImage(FatType type = FatType::kFat16) {
  const std::uint64_t size = type == FatType::kFat32 ? 34u << 20 : type == FatType::kFat16 ? 9u << 20 : 1u << 20;
  const std::uint32_t cluster = type == FatType::kFat16 ? 2048 : 512;
  auto b = FatImageBuilder::Create({type, size, cluster, ""}, nullptr);
  EXPECT_NE(b, nullptr);
  const std::uint32_t first = type == FatType::kFat32 ? 1 : 0;
  EXPECT_TRUE(b->AddFile("a.bin", fattest::RandomBytes(cluster * 6 - 5, 1),
                         {{first + 10, 2}, {first + 20, 2}, {first + 30, 2}}));
  EXPECT_TRUE(b->AddFile("b.bin", fattest::RandomBytes(cluster * 3, 2), {{first + 12, 3}}));
  EXPECT_TRUE(b->MarkBad(first + 40));
  std::vector<std::uint8_t> image;
  EXPECT_TRUE(b->Build(&image)) << b->Error();
  return image;
}

TEST(FatMoveTest, RefusesWhatWindowsRefusesWithoutWriting) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "small.img";
  const auto bytes = SmallImage();
  fattest::WriteAll(image, std::string(bytes.begin(), bytes.end()));
  {
    FatOpenStatus status;
    auto m = OpenFatVolume('C', image, &status);
    ASSERT_EQ(status, FatOpenStatus::kOk);
    const Handle v = m->OpenVolume('C');
    const Handle a = m->OpenFileForQuery("C:\\a.bin");
    ASSERT_NE(a, kInvalidHandle);
    DiskFreeSpace space{};
    ASSERT_TRUE(m->FreeSpace('C', &space));
    const std::int64_t total = space.totalClusters;
    EXPECT_EQ(m->MoveFile(v, {a, 0, 11, 2}), kErrorAccessDenied) << "target partly used by a.bin itself";
    EXPECT_EQ(m->MoveFile(v, {a, 0, 13, 2}), kErrorAccessDenied) << "target used by b.bin";
    EXPECT_EQ(m->MoveFile(v, {a, 0, 39, 2}), kErrorAccessDenied) << "target holds a bad cluster";
    EXPECT_EQ(m->MoveFile(v, {a, 0, total - 1, 2}), kErrorInvalidParameter) << "target past the end";
    EXPECT_EQ(m->MoveFile(v, {a, 5, 100, 2}), kErrorInvalidParameter) << "past the file's clusters";
    EXPECT_EQ(m->MoveFile(v, {a, 0, 100, 0}), kErrorInvalidParameter);
    EXPECT_EQ(m->MoveFile(v, {a, -1, 100, 1}), kErrorInvalidParameter);
    EXPECT_EQ(m->MoveFile(a, {a, 0, 100, 1}), kErrorInvalidHandle) << "a file handle is no volume handle";
    EXPECT_EQ(m->MoveFile(v, {v, 0, 100, 1}), kErrorInvalidHandle);
    EXPECT_EQ(m->MoveFile(v, {a, 0, 10, 2}), kErrorSuccess) << "already there: nothing to do";
    m->CloseHandle(a);
    m->CloseHandle(v);
  }
  const std::string after = fattest::ReadAll(image);
  EXPECT_TRUE(after == std::string(bytes.begin(), bytes.end())) << "a refused move wrote to the image";
}

// Records every write and flush, for checking their order.
class RecordingIo final : public FatIo {
 public:
  struct Op {
    bool flush;
    std::uint64_t offset;
    std::size_t size;
  };
  RecordingIo(std::vector<std::uint8_t> bytes, std::vector<Op>* log) : inner_(std::move(bytes)), log_(log) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Writable() const override { return true; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override { return inner_.Read(offset, data, size); }
  bool Write(std::uint64_t offset, const void* data, std::size_t size) override {
    log_->push_back({false, offset, size});
    return inner_.Write(offset, data, size);
  }
  bool Flush() override {
    log_->push_back({true, 0, 0});
    return true;
  }

 private:
  MemoryFatIo inner_;
  std::vector<Op>* log_;
};

// Names the writes of `log` on the small FAT32 image: the FSInfo free count, entry 1
// (the dirty mark) and the entries of the FAT clusters in `names`, in FAT copy 0 or 1,
// data written at a data cluster, folder entries, and flushes.
std::vector<std::string> Steps(const std::vector<RecordingIo::Op>& log, const std::vector<std::uint8_t>& image,
                               const std::vector<std::pair<std::string, std::vector<std::uint32_t>>>& names) {
  const std::uint64_t fatBytes = std::uint64_t{fattest::Get32(image, 36)} * 512;
  const std::uint64_t fat0 = 32 * 512;
  const std::uint64_t data = fat0 + 2 * fatBytes;
  auto covers = [](const RecordingIo::Op& op, std::uint64_t copy, const std::vector<std::uint32_t>& clusters) {
    for (std::uint32_t c : clusters) {
      if (op.offset > copy + c * 4 || op.offset + op.size < copy + c * 4 + 4) return false;
    }
    return op.size < clusters.size() * 4 + 512;
  };
  std::vector<std::string> steps;
  for (const auto& op : log) {
    std::string step;
    if (op.flush) step = "flush";
    else if (op.offset == 512 + 488) step = "fsinfo";
    else if (op.offset >= data && op.offset < data + 512 && op.size == 8 && op.offset % 32 == 20) step = "entry";
    else if (op.offset >= data + 512) step = "data@" + std::to_string((op.offset - data) / 512 + 2);
    for (int copy = 0; copy < 2 && step.empty(); ++copy) {
      const std::uint64_t at = fat0 + copy * fatBytes;
      if (op.size == 4 && covers(op, at, {1})) step = "dirty" + std::to_string(copy);
      for (const auto& [name, clusters] : names) {
        if (step.empty() && covers(op, at, clusters)) step = name + std::to_string(copy);
      }
    }
    steps.push_back(step.empty() ? "other@" + std::to_string(op.offset) : step);
  }
  return steps;
}

TEST(FatMoveTest, WritesInTheCrashSafeOrder) {
  // FAT32 with 512-byte clusters. a.bin lies in FAT clusters 13-14, 23-24 and 33-34;
  // its middle run moves to FAT clusters 52-53.
  const auto bytes = SmallImage(FatType::kFat32);
  std::vector<RecordingIo::Op> log;
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<RecordingIo>(bytes, &log), &status);
  ASSERT_EQ(status, FatOpenStatus::kOk);
  ASSERT_TRUE(log.empty()) << "opening writes nothing";
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\A.BIN");
  ASSERT_EQ(m->MoveFile(v, {a, 2, 50, 2}), kErrorSuccess);
  m->CloseHandle(a);
  EXPECT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  const std::vector<std::pair<std::string, std::vector<std::uint32_t>>> names = {
      {"claim", {52, 53}}, {"commit", {14}}, {"free", {23, 24}}};
  // Dirty first; the claims and the data, flush; the commit, flush; the frees, which
  // the job's last flush makes durable; then the clean mark with the exact count.
  const std::vector<std::string> expected = {"fsinfo", "dirty0", "dirty1", "flush",  "data@52", "claim0",
                                             "claim1", "flush",  "commit0", "commit1", "flush",  "free0",
                                             "free1",  "flush",  "fsinfo", "dirty0",  "dirty1", "flush"};
  EXPECT_EQ(Steps(log, bytes, names), expected);

  // A first extent commits through the folder entry: one 8-byte write of bytes 20..27,
  // alone between the two flushes of its group. Nothing more is marked dirty or clean
  // until the job's end.
  log.clear();
  const Handle again = m->OpenFileForQuery("C:\\A.BIN");
  ASSERT_EQ(m->MoveFile(v, {again, 0, 60, 2}), kErrorSuccess);
  m->CloseHandle(again);
  EXPECT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  EXPECT_EQ(Steps(log, bytes, {{"claim", {62, 63}}, {"free", {13, 14}}}),
            (std::vector<std::string>{"fsinfo", "dirty0", "dirty1", "flush", "data@62", "claim0", "claim1", "flush",
                                      "entry", "flush", "free0", "free1", "flush", "fsinfo", "dirty0", "dirty1",
                                      "flush"}));
  m->CloseHandle(v);
}

TEST(FatMoveTest, GroupsTheMovesOfOneFileBehindOneCommit) {
  // a.bin's three runs (FAT clusters 13-14, 23-24, 33-34) move back to back to 62-67.
  const auto bytes = SmallImage(FatType::kFat32);
  std::vector<RecordingIo::Op> log;
  FatOpenStatus status;
  auto io = std::make_unique<RecordingIo>(bytes, &log);
  auto m = OpenFatVolume('C', std::move(io), &status);
  ASSERT_EQ(status, FatOpenStatus::kOk);
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\a.bin");
  // Later moves, and queries, see the chain as the earlier moves left it.
  const fattest::Runs after[] = {{{60, 2}, {21, 2}, {31, 2}}, {{60, 4}, {31, 2}}, {{60, 6}}};
  for (std::int64_t i = 0; i < 3; ++i) {
    ASSERT_EQ(m->MoveFile(v, {a, 2 * i, 60 + 2 * i, 2}), kErrorSuccess) << i;
    EXPECT_EQ(fattest::Extents(*m, "C:\\a.bin"), after[i]) << i;
  }
  EXPECT_EQ(Steps(log, bytes, {}), (std::vector<std::string>{"fsinfo", "dirty0", "dirty1", "flush"}))
      << "nothing of the group is written before it ends";
  log.clear();
  m->CloseHandle(a);
  EXPECT_TRUE(log.empty()) << "closing the file leaves its moves in the open group";
  EXPECT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  // One data write for the three runs, the claims, flush; the folder entry alone,
  // flush; the frees of all three old runs, then the job's end.
  EXPECT_EQ(Steps(log, bytes, {{"claim", {62, 63, 64, 65, 66, 67}}, {"free", {13, 14, 23, 24, 33, 34}}}),
            (std::vector<std::string>{"data@62", "claim0", "claim1", "flush", "entry", "flush", "free0", "free1",
                                      "flush", "fsinfo", "dirty0", "dirty1", "flush"}));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().size, 6u * 512);
  m->CloseHandle(v);
}

TEST(FatMoveTest, MovesOfSeveralFilesShareOneCommitUntilAMoveLandsOnWhatTheyLeft) {
  // FAT32, 512-byte clusters: a.bin in FAT clusters 13-14, 23-24, 33-34; b.bin in 15-17.
  const auto bytes = SmallImage(FatType::kFat32);
  std::vector<RecordingIo::Op> log;
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<RecordingIo>(bytes, &log), &status);
  ASSERT_EQ(status, FatOpenStatus::kOk);
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\a.bin");
  ASSERT_EQ(m->MoveFile(v, {a, 0, 60, 6}), kErrorSuccess);
  m->CloseHandle(a);
  const Handle b = m->OpenFileForQuery("C:\\b.bin");
  ASSERT_EQ(m->MoveFile(v, {b, 0, 70, 3}), kErrorSuccess);
  // a.bin's data goes out when b.bin's does not follow it; no FAT entry and no folder
  // entry is written: b.bin joined the open group.
  EXPECT_EQ(Steps(log, bytes, {}), (std::vector<std::string>{"fsinfo", "dirty0", "dirty1", "flush", "data@62"}));

  // The bitmap shows what both files left as free and their new runs as used, and
  // reading it writes nothing.
  log.clear();
  std::vector<std::uint8_t> buffer(kVolumeBitmapHeaderSize + 4096);
  auto* bitmap = reinterpret_cast<VOLUME_BITMAP_BUFFER*>(buffer.data());
  ASSERT_EQ(m->GetVolumeBitmap(v, 0, bitmap, static_cast<std::uint32_t>(buffer.size())), kErrorMoreData);
  auto used = [&](std::int64_t c) { return ((bitmap->Buffer[c / 8] >> (c % 8)) & 1) != 0; };
  for (std::int64_t c : {11, 12, 13, 14, 15, 21, 22, 31, 32}) EXPECT_FALSE(used(c)) << c;
  for (std::int64_t c : {60, 65, 70, 72}) EXPECT_TRUE(used(c)) << c;
  EXPECT_TRUE(log.empty());

  // b.bin moves onto clusters a.bin left: the group is committed first, both files'
  // data and claims behind one flush, both folder entries behind the next.
  ASSERT_EQ(m->MoveFile(v, {b, 0, 11, 3}), kErrorSuccess);
  const std::vector<std::pair<std::string, std::vector<std::uint32_t>>> names = {
      {"claim", {62, 63, 64, 65, 66, 67, 72, 73, 74}}, {"free", {13, 14, 15, 16, 17, 23, 24, 33, 34}}};
  EXPECT_EQ(Steps(log, bytes, names), (std::vector<std::string>{"data@72", "claim0", "claim1", "flush", "entry",
                                                                "entry", "flush", "free0", "free1"}));
  m->CloseHandle(b);
  EXPECT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  EXPECT_EQ(fattest::Extents(*m, "C:\\a.bin"), (fattest::Runs{{60, 6}}));
  EXPECT_EQ(fattest::Extents(*m, "C:\\b.bin"), (fattest::Runs{{11, 3}}));
  m->CloseHandle(v);
}

TEST(FatMoveTest, CopiesLongRunsWithRequestsOfAtLeastOneMebibyte) {
  auto b = FatImageBuilder::Create({FatType::kFat16, 64u << 20, 4096, ""}, nullptr);
  ASSERT_NE(b, nullptr);
  const std::string content = fattest::RandomBytes(3u << 20, 3);  // 768 clusters
  ASSERT_TRUE(b->AddFile("big.bin", content, {{100, 768}}));
  std::vector<std::uint8_t> image;
  ASSERT_TRUE(b->Build(&image));
  std::vector<RecordingIo::Op> log;
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::make_unique<RecordingIo>(image, &log), &status);
  const Handle v = m->OpenVolume('C');
  const Handle f = m->OpenFileForQuery("C:\\big.bin");
  ASSERT_EQ(m->MoveFile(v, {f, 0, 2000, 768}), kErrorSuccess);
  m->CloseHandle(f);
  ASSERT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  std::size_t dataBytes = 0;
  for (const auto& op : log) {
    if (op.size >= 4096) {
      EXPECT_GE(op.size, 1u << 20);
      dataBytes += op.size;
    }
  }
  EXPECT_EQ(dataBytes, content.size());
}

// Runs one move of a.bin's first extent on `image`, in memory; returns the image after.
std::vector<std::uint8_t> MoveFirstExtent(std::vector<std::uint8_t> image, std::int64_t target) {
  auto io = std::make_unique<MemoryFatIo>(std::move(image));
  MemoryFatIo* memory = io.get();
  FatOpenStatus status;
  auto m = OpenFatVolume('C', std::move(io), &status);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  const Handle v = m->OpenVolume('C');
  const Handle a = m->OpenFileForQuery("C:\\a.bin");
  EXPECT_EQ(m->MoveFile(v, {a, 0, target, 2}), kErrorSuccess);
  m->CloseHandle(a);
  EXPECT_EQ(m->FlushFileBuffers(v), kErrorSuccess);
  return memory->Bytes();
}

TEST(FatMoveTest, LeavesTheVolumeCleanWithAnExactFreeCountUnlessItWasDirty) {
  const auto image = SmallImage(FatType::kFat32);
  auto after = MoveFirstExtent(image, 100);
  EXPECT_EQ(fattest::GetFat(after, 32, 1) & 0x08000000u, 0x08000000u) << "clean";
  EXPECT_EQ(fattest::GetFat(after, 32, 1, 1) & 0x08000000u, 0x08000000u) << "clean in the mirror";
  EXPECT_EQ(fattest::Get32(after, 512 + 488), fattest::Get32(image, 512 + 488)) << "a move frees what it claims";
  auto unknown = image;
  fattest::Put32(unknown, 512 + 488, 0xFFFFFFFF);
  after = MoveFirstExtent(unknown, 100);
  EXPECT_EQ(fattest::Get32(after, 512 + 488), fattest::Get32(image, 512 + 488)) << "counted afresh";

  // Dirty before, with no record of a job of ours: something else left it so, and the
  // checker must see it first. The volume is opened read-only and nothing is written.
  auto dirty = SmallImage(FatType::kFat16);
  fattest::SetFat(dirty, 16, 1, 0x7FFF);
  {
    FatOpenStatus status;
    auto io = std::make_unique<MemoryFatIo>(dirty);
    MemoryFatIo* memory = io.get();
    auto m = OpenFatVolume('C', std::move(io), &status);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, FatOpenStatus::kReadOnlyDirty);
    const Handle v = m->OpenVolume('C');
    const Handle a = m->OpenFileForQuery("C:\\a.bin");
    EXPECT_EQ(m->MoveFile(v, {a, 0, 100, 2}), kErrorWriteProtect);
    m->CloseHandle(a);
    (void)m->FlushFileBuffers(v);
    EXPECT_EQ(fattest::GetFat(memory->Bytes(), 16, 1), 0x7FFFu) << "a volume dirty before stays dirty";
    EXPECT_EQ(memory->Bytes(), dirty) << "and nothing is written";
  }

  auto fat12 = SmallImage(FatType::kFat12);
  after = MoveFirstExtent(fat12, 100);
  EXPECT_EQ(after[37] & 1, 0) << "FAT12 keeps its dirty flag in the boot sector";
}

TEST(FatMoveTest, WritesOnlyTheActiveFatWhenMirroringIsOff) {
  auto image = SmallImage(FatType::kFat32);
  fattest::Put16(image, 40, 0x80);  // mirroring off, FAT 0 active
  const auto after = MoveFirstExtent(image, 100);
  EXPECT_EQ(fattest::GetFat(after, 32, 2 + 100), 2u + 101);
  EXPECT_EQ(fattest::GetFat(after, 32, 2 + 100, 1), 0u) << "FAT 1 untouched";
  EXPECT_EQ(fattest::GetFat(after, 32, 2 + 11, 1), 2u + 12);
}

}  // namespace
}  // namespace platform::fat
