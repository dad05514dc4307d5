// The FAT provider read against mkfs.fat and mtools: names, sizes, attributes, extents,
// free space and bitmap as those tools see them, and Windows' buffer and error rules.
#include "platform/fat_provider.h"

#include <gtest/gtest.h>

#include <cstring>

#include <set>

#include "fat_tools.h"
#include "platform/fat_image_builder.h"

namespace platform::fat {
namespace {

using fattest::Runs;

struct Geometry {
  int fatBits;
  int kib;
  int sectorsPerCluster;
  int sectorSize = 512;
  const char* options = "";  // further mkfs.fat options
};

class MtoolsImageTest : public testing::TestWithParam<Geometry> {};

TEST_P(MtoolsImageTest, ReadsEverythingAsMtoolsAndFsckSeeIt) {
  FAT_REQUIRE_TOOLS();
  const Geometry g = GetParam();
  fattest::ScratchDir dir;
  const std::string image = dir / "vol.img";
  fattest::MakeFs(image, g.fatBits, g.kib, g.sectorsPerCluster, "MTOOLSVOL",
                  "-S " + std::to_string(g.sectorSize) + " " + g.options);
  const auto bytesPerCluster = static_cast<std::uint32_t>(g.sectorSize * g.sectorsPerCluster);
  fattest::FillWithMtools(dir, image, bytesPerCluster);

  FatOpenStatus status;
  auto machine = OpenFatVolume('e', image, &status);
  ASSERT_NE(machine, nullptr) << FatOpenStatusText(status);
  ASSERT_EQ(status, FatOpenStatus::kOk);

  EXPECT_EQ(machine->DriveType('E'), kDriveFixed);
  EXPECT_EQ(machine->DriveType('F'), kDriveNoRootDir);
  char label[261];
  char fs[261];
  ASSERT_TRUE(machine->VolumeInformation('E', label, sizeof label, fs, sizeof fs));
  EXPECT_STREQ(fs, ("FAT" + std::to_string(g.fatBits)).c_str());
  EXPECT_STREQ(label, "MTOOLSVOL");

  // Paths, sizes, read-only flags and extents, file by file.
  const auto seen = fattest::Walk(*machine, 'E');
  const auto paths = fattest::MtoolsPaths(image);
  ASSERT_EQ(seen.size(), paths.size());
  bool fragmented = false;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    auto it = seen.find(path);
    ASSERT_NE(it, seen.end());
    const bool folder = path.back() == '/';
    EXPECT_EQ((it->second.attributes & kAttributeDirectory) != 0, folder);
    if (folder) continue;
    EXPECT_EQ(it->second.size, fattest::Mtype(image, path).size());
    EXPECT_EQ(it->second.runs, fattest::MtoolsRuns(image, path));
    EXPECT_EQ((it->second.attributes & kAttributeReadOnly) != 0, path == "readme.txt");
    fragmented = fragmented || it->second.runs.size() > 1;
  }
  EXPECT_TRUE(fragmented) << "the fixture should hold a fragmented file";

  // Free space and bitmap against fsck.fat's count of used clusters.
  std::string out;
  ASSERT_EQ(fattest::Run("fsck.fat -n -v " + fattest::Quote(image), &out), 0) << out;
  const auto slash = out.rfind('/');
  const auto comma = out.rfind(", ", slash);
  const long used = std::stol(out.substr(comma + 2, slash - comma - 2));
  const long total = std::stol(out.substr(slash + 1));
  DiskFreeSpace space{};
  ASSERT_TRUE(machine->FreeSpace('E', &space));
  EXPECT_EQ(space.totalClusters, static_cast<std::uint32_t>(total));
  EXPECT_EQ(space.totalClusters - space.freeClusters, static_cast<std::uint32_t>(used));
  EXPECT_EQ(space.bytesPerSector * space.sectorsPerCluster, bytesPerCluster);
  EXPECT_EQ(space.bytesPerSector, static_cast<std::uint32_t>(g.sectorSize));

  const Handle volume = machine->OpenVolume('E');
  ASSERT_NE(volume, kInvalidHandle);
  std::vector<std::uint8_t> buffer(kVolumeBitmapHeaderSize + (static_cast<std::size_t>(total) + 7) / 8);
  auto* bitmap = reinterpret_cast<VOLUME_BITMAP_BUFFER*>(buffer.data());
  ASSERT_EQ(machine->GetVolumeBitmap(volume, 0, bitmap, static_cast<std::uint32_t>(buffer.size())), kErrorSuccess);
  EXPECT_EQ(bitmap->StartingLcn, 0);
  EXPECT_EQ(bitmap->BitmapSize, total);
  long set = 0;
  for (long c = 0; c < total; ++c) set += (bitmap->Buffer[c / 8] >> (c % 8)) & 1;
  EXPECT_EQ(set, used);
  for (const auto& [path, file] : seen) {
    for (const auto& [lcn, length] : file.runs) {
      for (std::int64_t c = lcn; c < lcn + length; ++c) EXPECT_TRUE((bitmap->Buffer[c / 8] >> (c % 8)) & 1) << path;
    }
  }
  machine->CloseHandle(volume);
}

INSTANTIATE_TEST_SUITE_P(Geometries, MtoolsImageTest,
                         testing::Values(Geometry{12, 1440, 1}, Geometry{12, 4000, 2}, Geometry{12, 8000, 8},
                                         Geometry{12, 4000, 1, 2048, "-f 1"}, Geometry{16, 20000, 1},
                                         Geometry{16, 60000, 4}, Geometry{16, 40000, 1, 4096},
                                         Geometry{16, 40000, 4, 512, "-r 64 -R 4"}, Geometry{32, 34000, 1},
                                         Geometry{32, 140000, 2}, Geometry{32, 70000, 1, 1024, "-R 8"}),
                         [](const testing::TestParamInfo<Geometry>& info) {
                           return "fat" + std::to_string(info.param.fatBits) + "_" + std::to_string(info.param.kib) +
                                  "k_spc" + std::to_string(info.param.sectorsPerCluster) + "_sector" +
                                  std::to_string(info.param.sectorSize) + (info.param.options[0] != 0 ? "_opts" : "");
                         });

// A builder image with a known layout: file "frag.bin" in three runs, an empty file,
// a bad cluster, a folder with a long name, a lower-case name and a read-only file.
std::unique_ptr<Machine> OpenKnownImage(std::vector<std::uint8_t>* bytes = nullptr) {
  std::string error;
  auto builder = FatImageBuilder::Create({FatType::kFat16, 16u << 20, 2048, "KNOWN"}, &error);
  EXPECT_NE(builder, nullptr) << error;
  if (builder == nullptr) return nullptr;
  EXPECT_TRUE(builder->AddFile("frag.bin", std::string(2048 * 5, 'x'), {{100, 2}, {50, 1}, {200, 2}}))
      << builder->Error();
  EXPECT_TRUE(builder->AddFolder("Long Folder Name"));
  EXPECT_TRUE(builder->AddFile("Long Folder Name/EMPTY.DAT", ""));
  EXPECT_TRUE(builder->AddFile("Long Folder Name/Second File.txt", "abc", {}, kFatReadOnly | kFatArchive));
  EXPECT_TRUE(builder->AddFile("UPPER.TXT", "u", {}, 0));
  EXPECT_TRUE(builder->MarkBad(300));
  std::vector<std::uint8_t> image;
  EXPECT_TRUE(builder->Build(&image)) << builder->Error();
  if (bytes != nullptr) *bytes = image;
  FatOpenStatus status;
  auto machine = OpenFatVolume('C', std::make_unique<MemoryFatIo>(image), &status);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  return machine;
}

TEST(FatProviderTest, RetrievalPointersFollowWindowsBufferRules) {
  auto m = OpenKnownImage();
  ASSERT_NE(m, nullptr);
  const Handle file = m->OpenFileForQuery("C:\\FRAG.BIN");
  ASSERT_NE(file, kInvalidHandle);

  // Room for one extent: the first is filled and the call asks for more.
  std::vector<std::uint8_t> small(kRetrievalHeaderSize + sizeof(RETRIEVAL_POINTERS_EXTENT));
  auto* r = reinterpret_cast<RETRIEVAL_POINTERS_BUFFER*>(small.data());
  EXPECT_EQ(m->GetRetrievalPointers(file, 0, r, static_cast<std::uint32_t>(small.size())), kErrorMoreData);
  EXPECT_EQ(r->ExtentCount, 1u);
  EXPECT_EQ(r->StartingVcn, 0);
  EXPECT_EQ(r->Extents[0].NextVcn, 2);
  EXPECT_EQ(r->Extents[0].Lcn, 100);

  std::vector<std::uint8_t> big(kRetrievalHeaderSize + 8 * sizeof(RETRIEVAL_POINTERS_EXTENT));
  r = reinterpret_cast<RETRIEVAL_POINTERS_BUFFER*>(big.data());
  ASSERT_EQ(m->GetRetrievalPointers(file, 0, r, static_cast<std::uint32_t>(big.size())), kErrorSuccess);
  ASSERT_EQ(r->ExtentCount, 3u);
  EXPECT_EQ(r->Extents[1].NextVcn, 3);
  EXPECT_EQ(r->Extents[1].Lcn, 50);
  EXPECT_EQ(r->Extents[2].NextVcn, 5);
  EXPECT_EQ(r->Extents[2].Lcn, 200);

  // From the middle of the last run.
  ASSERT_EQ(m->GetRetrievalPointers(file, 4, r, static_cast<std::uint32_t>(big.size())), kErrorSuccess);
  ASSERT_EQ(r->ExtentCount, 1u);
  EXPECT_EQ(r->StartingVcn, 4);
  EXPECT_EQ(r->Extents[0].Lcn, 201);
  EXPECT_EQ(m->GetRetrievalPointers(file, 5, r, static_cast<std::uint32_t>(big.size())), kErrorHandleEof);
  EXPECT_EQ(m->GetRetrievalPointers(file, 0, r, 8), kErrorInsufficientBuffer);

  std::uint64_t size = 0;
  ASSERT_EQ(m->FileSize(file, &size), kErrorSuccess);
  EXPECT_EQ(size, 2048u * 5);
  m->CloseHandle(file);

  const Handle empty = m->OpenFileForQuery("C:\\Long Folder Name\\EMPTY.DAT");
  ASSERT_NE(empty, kInvalidHandle);
  EXPECT_EQ(m->GetRetrievalPointers(empty, 0, r, static_cast<std::uint32_t>(big.size())), kErrorHandleEof);
  m->CloseHandle(empty);
  EXPECT_EQ(m->GetRetrievalPointers(empty, 0, r, static_cast<std::uint32_t>(big.size())), kErrorInvalidHandle);
}

TEST(FatProviderTest, BitmapCoversDataClustersWithBadOnesUsed) {
  auto m = OpenKnownImage();
  ASSERT_NE(m, nullptr);
  DiskFreeSpace space{};
  ASSERT_TRUE(m->FreeSpace('c', &space));
  const Handle v = m->OpenVolume('C');
  ASSERT_NE(v, kInvalidHandle);
  std::vector<std::uint8_t> buffer(kVolumeBitmapHeaderSize + space.totalClusters / 8 + 1);
  auto* b = reinterpret_cast<VOLUME_BITMAP_BUFFER*>(buffer.data());
  ASSERT_EQ(m->GetVolumeBitmap(v, 0, b, static_cast<std::uint32_t>(buffer.size())), kErrorSuccess);
  auto used = [&](std::int64_t c) { return ((b->Buffer[c / 8] >> (c % 8)) & 1) != 0; };
  EXPECT_TRUE(used(50));
  EXPECT_TRUE(used(100) && used(101) && used(200) && used(201));
  EXPECT_FALSE(used(99) || used(102) || used(199) || used(202));
  EXPECT_TRUE(used(300)) << "a bad cluster counts as used";
  std::uint32_t set = 0;
  for (std::uint32_t c = 0; c < space.totalClusters; ++c) set += used(c) ? 1 : 0;
  EXPECT_EQ(set, space.totalClusters - space.freeClusters);
  // Counted clusters: frag.bin 5, the folder 1, its file 1, UPPER.TXT 1, the bad one.
  EXPECT_EQ(set, 9u);

  // A short buffer: the header is filled and as many bytes as fit.
  std::vector<std::uint8_t> shortBuffer(sizeof(VOLUME_BITMAP_BUFFER));
  auto* s = reinterpret_cast<VOLUME_BITMAP_BUFFER*>(shortBuffer.data());
  EXPECT_EQ(m->GetVolumeBitmap(v, 101, s, static_cast<std::uint32_t>(shortBuffer.size())), kErrorMoreData);
  EXPECT_EQ(s->StartingLcn, 96);
  EXPECT_EQ(s->BitmapSize, static_cast<std::int64_t>(space.totalClusters) - 96);
  EXPECT_EQ(s->Buffer[0], 0x30) << "clusters 100 and 101 of frag.bin";
  EXPECT_EQ(m->GetVolumeBitmap(v, 0, s, kVolumeBitmapHeaderSize + 4), kErrorInsufficientBuffer);
  EXPECT_EQ(m->GetVolumeBitmap(v, space.totalClusters, s, static_cast<std::uint32_t>(shortBuffer.size())),
            kErrorInvalidParameter);
  m->CloseHandle(v);
}

std::vector<std::string> Names(Machine& m, const std::string& pattern, std::vector<WIN32_FIND_DATAA>* all = nullptr) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  const Handle h = m.FindFirst(pattern.c_str(), &data);
  if (h == kInvalidHandle) return names;
  do {
    names.push_back(data.cFileName);
    if (all != nullptr) all->push_back(data);
  } while (m.FindNext(h, &data));
  m.FindClose(h);
  return names;
}

TEST(FatProviderTest, SearchesListEntriesInDiskOrderAsWindowsNamesThem) {
  auto m = OpenKnownImage();
  ASSERT_NE(m, nullptr);
  std::vector<WIN32_FIND_DATAA> root;
  EXPECT_EQ(Names(*m, "C:\\*", &root), (std::vector<std::string>{"frag.bin", "Long Folder Name", "UPPER.TXT"}));
  EXPECT_EQ(root[0].dwFileAttributes, kAttributeArchive);
  EXPECT_STREQ(root[0].cAlternateFileName, "");
  EXPECT_EQ(root[1].dwFileAttributes, kAttributeDirectory);
  EXPECT_STREQ(root[1].cAlternateFileName, "LONGFO~1");
  EXPECT_EQ(root[2].dwFileAttributes, kAttributeNormal);
  EXPECT_EQ(root[0].nFileSizeLow, 2048u * 5);

  std::vector<WIN32_FIND_DATAA> sub;
  EXPECT_EQ(Names(*m, "c:\\long folder name\\*", &sub),
            (std::vector<std::string>{".", "..", "EMPTY.DAT", "Second File.txt"}));
  EXPECT_EQ(sub[0].dwFileAttributes, kAttributeDirectory);
  EXPECT_EQ(sub[3].dwFileAttributes, kAttributeReadOnly | kAttributeArchive);
  EXPECT_EQ(sub[3].nFileSizeLow, 3u);
  // Time stamps: 2024-01-01 12:00 as a FILETIME.
  const std::uint64_t written = (std::uint64_t{sub[3].ftLastWriteTime.dwHighDateTime} << 32) |
                                sub[3].ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(written, 133485840000000000ULL);

  // The short alias names the same folder; a missing folder or a file cannot be searched.
  EXPECT_EQ(Names(*m, "C:\\LONGFO~1\\*").size(), 4u);
  EXPECT_TRUE(Names(*m, "C:\\Missing\\*").empty());
  EXPECT_TRUE(Names(*m, "C:\\frag.bin\\*").empty());
  EXPECT_TRUE(Names(*m, "D:\\*").empty());
}

TEST(FatProviderTest, OpensFilesCaseInsensitivelyButNeverFolders) {
  auto m = OpenKnownImage();
  ASSERT_NE(m, nullptr);
  for (const char* path : {"C:\\FRAG.BIN", "c:\\frag.bin", "C:\\long FOLDER name\\second file.TXT",
                           "C:\\LONGFO~1\\SECOND~1.TXT", "C:/Long Folder Name/EMPTY.DAT"}) {
    const Handle h = m->OpenFileForQuery(path);
    EXPECT_NE(h, kInvalidHandle) << path;
    m->CloseHandle(h);
  }
  for (const char* path : {"C:\\", "C:\\Long Folder Name", "C:\\nothing.txt", "D:\\FRAG.BIN", "C:\\FRAG.BIN\\x"}) {
    EXPECT_EQ(m->OpenFileForQuery(path), kInvalidHandle) << path;
  }
}

TEST(FatProviderTest, AnImageIsServedToOneHolderAtATimeWithItsSerialNumber) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "shared.img";
  fattest::MakeFs(image, 16, 8192, 1, "SHARED", "-i 1234ABCD");
  FatOpenStatus status;
  auto first = OpenFatVolume('C', image, &status);
  ASSERT_NE(first, nullptr) << FatOpenStatusText(status);
  std::uint32_t serial = 0;
  ASSERT_TRUE(first->VolumeSerialNumber('C', &serial));
  EXPECT_EQ(serial, 0x1234ABCDu) << "the boot sector's volume ID, as mkfs.fat -i set it";
  EXPECT_FALSE(first->VolumeSerialNumber('D', &serial));
  const std::string image32 = dir / "fat32.img";
  fattest::MakeFs(image32, 32, 40000, 1, "", "-i 0BADCAFE");
  auto fat32 = OpenFatVolume('E', image32, &status);
  ASSERT_NE(fat32, nullptr) << FatOpenStatusText(status);
  ASSERT_TRUE(fat32->VolumeSerialNumber('E', &serial));
  EXPECT_EQ(serial, 0x0BADCAFEu) << "FAT32 keeps it after its own BPB fields";

  // A second holder (another letter, another process) is refused while the first holds it.
  auto second = OpenFatVolume('D', image, &status);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kInUse);
  EXPECT_EQ(FatOpenStatusText(status), std::string("the image is in use by another process"));
  first.reset();
  second = OpenFatVolume('D', image, &status);
  ASSERT_NE(second, nullptr) << FatOpenStatusText(status);
  EXPECT_EQ(status, FatOpenStatus::kOk);
}

// FindFirstFileA on a plain path: the one entry it names, found by its long or short
// name in any case, as the folder search lists it; nothing for what does not exist.
TEST(FatProviderTest, SearchForAPlainPathFindsThatOneEntry) {
  auto m = OpenKnownImage();
  ASSERT_NE(m, nullptr);
  WIN32_FIND_DATAA listed{};
  const Handle folder = m->FindFirst("C:\\Long Folder Name\\*", &listed);
  ASSERT_NE(folder, kInvalidHandle);
  while (std::string(listed.cFileName) != "Second File.txt") ASSERT_TRUE(m->FindNext(folder, &listed));
  m->FindClose(folder);
  for (const char* path : {"C:\\Long Folder Name\\second file.TXT", "c:\\LONGFO~1\\SECOND~1.TXT",
                           "C:/long folder name/SECOND FILE.txt"}) {
    WIN32_FIND_DATAA data{};
    const Handle h = m->FindFirst(path, &data);
    ASSERT_NE(h, kInvalidHandle) << path;
    EXPECT_EQ(std::string(data.cFileName), "Second File.txt") << path;
    EXPECT_EQ(std::memcmp(&data, &listed, sizeof data), 0) << path << ": differs from the folder's listing";
    WIN32_FIND_DATAA next{};
    EXPECT_FALSE(m->FindNext(h, &next)) << path << ": one entry only";
    m->FindClose(h);
  }
  WIN32_FIND_DATAA data{};
  const Handle folderItself = m->FindFirst("C:\\Long Folder Name", &data);
  ASSERT_NE(folderItself, kInvalidHandle);
  EXPECT_NE(data.dwFileAttributes & kAttributeDirectory, 0u);
  m->FindClose(folderItself);
  for (const char* path : {"C:\\nothing.txt", "C:\\Long Folder Name\\nothing", "C:\\FRAG.BIN\\x", "D:\\FRAG.BIN"}) {
    EXPECT_EQ(m->FindFirst(path, &data), kInvalidHandle) << path;
  }
}

TEST(FatProviderTest, ShowsLowerCaseFlagsAndLongNamesWrittenByMtools) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "names.img";
  fattest::MakeFs(image, 12, 1440, 1);
  fattest::WriteAll(dir / "f", "x");
  for (const char* name : {"lower.txt", "UPPER.TXT", "Mixed.Txt", "ext.TXT", "a.b.c", "name with space"}) {
    fattest::Mcopy(image, dir / "f", name);
  }
  FatOpenStatus status;
  auto m = OpenFatVolume('Z', image, &status);
  ASSERT_NE(m, nullptr);
  std::set<std::string> names;
  for (const auto& n : Names(*m, "Z:\\*")) names.insert(n);
  EXPECT_EQ(names, (std::set<std::string>{"lower.txt", "UPPER.TXT", "Mixed.Txt", "ext.TXT", "a.b.c",
                                          "name with space"}));
}

}  // namespace
}  // namespace platform::fat
