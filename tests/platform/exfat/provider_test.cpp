// The exFAT provider against images that mkfs.exfat made and exfat-fuse filled: what
// the seam reports matches dump.exfat, the FUSE mount and our own raw reader, and
// volumes that fail their checks are opened read-only with the reason said.
#include <gtest/gtest.h>

#include <cstring>

#include <ctime>

#include "core/defrag_date.h"
#include "exfat_tools.h"
#include "platform/claim_journal.h"
#include "platform/fat_provider.h"
#include "platform/volume_map.h"

namespace platform::exfat {
namespace {

using platform::fat::FatOpenStatus;
using platform::fat::OpenFatVolume;

std::uint64_t DumpField(const std::string& dump, const std::string& field) {
  const std::size_t at = dump.find(field);
  if (at == std::string::npos) return ~std::uint64_t{0};
  return std::stoull(dump.substr(dump.find_first_of("0123456789", at + field.size())));
}

class ExfatReadTest : public testing::TestWithParam<const char*> {};

// Every figure the seam gives is checked against a reader that is not ours, or against
// our small raw reader in the test helpers.
TEST_P(ExfatReadTest, ReportsWhatIndependentReadersSee) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, GetParam());
  FatOpenStatus status;
  auto m = OpenFatVolume('C', image, &status);
  ASSERT_NE(m, nullptr) << platform::fat::FatOpenStatusText(status);
  EXPECT_EQ(status, FatOpenStatus::kOk);

  char label[32] = {};
  char fileSystem[16] = {};
  ASSERT_TRUE(m->VolumeInformation('C', label, sizeof label, fileSystem, sizeof fileSystem));
  EXPECT_STREQ(fileSystem, "exFAT");
  EXPECT_STREQ(label, "FIXTURE");

  std::string dump;
  ASSERT_EQ(exfattest::Run("dump.exfat " + exfattest::Quote(image), &dump), 0) << dump;
  DiskFreeSpace space{};
  ASSERT_TRUE(m->FreeSpace('C', &space));
  EXPECT_EQ(space.totalClusters, DumpField(dump, "Total Clusters:"));
  EXPECT_EQ(space.freeClusters, DumpField(dump, "Free Clusters:"));
  EXPECT_EQ(std::uint64_t{space.sectorsPerCluster} * space.bytesPerSector,
            DumpField(dump, "Cluster size:"));

  const auto seen = fattest::Walk(*m, 'C');
  const auto fuse = exfattest::FuseContents(image);
  const auto raw = exfattest::RawListing(image);
  std::vector<std::string> seenPaths, fusePaths;
  for (const auto& [path, f] : seen) seenPaths.push_back(path);
  for (const auto& [path, content] : fuse) fusePaths.push_back(path);
  EXPECT_EQ(seenPaths, fusePaths);

  int fragmented = 0;
  int contiguousNoFatChain = 0;
  for (const auto& [path, f] : seen) {
    SCOPED_TRACE(path);
    ASSERT_EQ(raw.count(path), 1u);
    const exfattest::RawFile& r = raw.at(path);
    EXPECT_EQ((f.attributes & kAttributeDirectory) != 0, r.folder);
    if (r.folder) continue;
    EXPECT_EQ(f.size, fuse.at(path).size());
    EXPECT_EQ(f.runs, exfattest::RunsOf(r.clusters));
    if (f.runs.size() > 1) ++fragmented;
    if (r.noFatChain && f.runs.size() == 1) ++contiguousNoFatChain;
  }
  EXPECT_GE(fragmented, 3) << "the recipe should leave fragmented files";
  EXPECT_GE(contiguousNoFatChain, 3) << "exfat-fuse writes contiguous files as NoFatChain";

  // Names are found whatever their case, through the up-case table.
  const Handle h = m->OpenFileForQuery("C:\\FOLDER ONE\\Small1.TXT");
  EXPECT_NE(h, kInvalidHandle);
  std::uint64_t size = 0;
  EXPECT_EQ(m->FileSize(h, &size), kErrorSuccess);
  EXPECT_EQ(size, fuse.at("Folder One/small1.txt").size());
  m->CloseHandle(h);
  EXPECT_EQ(m->OpenFileForQuery("C:\\Folder One"), kInvalidHandle) << "folders are not opened for queries";
  EXPECT_EQ(m->OpenFileForQuery("C:\\Folder One\\missing"), kInvalidHandle);

  // Subfolder searches begin with "." and "..", as on Windows.
  WIN32_FIND_DATAA data{};
  const Handle search = m->FindFirst("C:\\Folder One\\deeper\\*", &data);
  ASSERT_NE(search, kInvalidHandle);
  EXPECT_STREQ(data.cFileName, ".");
  ASSERT_TRUE(m->FindNext(search, &data));
  EXPECT_STREQ(data.cFileName, "..");
  m->FindClose(search);

  // The volume bitmap marks every file's clusters used.
  const Handle volume = m->OpenVolume('C');
  std::vector<std::uint8_t> buffer(kVolumeBitmapHeaderSize + space.totalClusters / 8 + 8);
  auto* bitmap = reinterpret_cast<VOLUME_BITMAP_BUFFER*>(buffer.data());
  ASSERT_EQ(m->GetVolumeBitmap(volume, 0, bitmap, static_cast<std::uint32_t>(buffer.size())), kErrorSuccess);
  for (const auto& [path, r] : raw) {
    for (std::uint32_t c : r.clusters) EXPECT_TRUE((bitmap->Buffer[(c - 2) / 8] >> ((c - 2) % 8)) & 1) << path;
  }
  m->CloseHandle(volume);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExfatReadTest, testing::Values("exfat_mixed_4k", "exfat_mixed_512"));

// --- damaged and unsupported volumes ---

std::uint32_t Get32(const std::string& d, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, d.data() + at, 4);
  return v;
}
void Put32(std::string& d, std::size_t at, std::uint32_t v) { std::memcpy(d.data() + at, &v, 4); }

// Rewrites the main boot region's checksum sector after a patch of the boot sector.
void FixBootChecksum(std::string& d) {
  const std::size_t sector = std::size_t{1} << static_cast<std::uint8_t>(d[108]);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < sector * 11; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + static_cast<std::uint8_t>(d[i]);
  }
  for (std::size_t at = sector * 11; at < sector * 12; at += 4) Put32(d, at, sum);
}

// Offset of the File entry of the set whose name begins with `name` (ASCII).
std::size_t FileEntryOf(const std::string& d, const std::string& name) {
  std::string wide;
  for (char c : name.substr(0, 15)) wide += std::string{c, '\0'};
  const std::size_t at = d.find(wide);
  return at == std::string::npos ? 0 : at - 2 - 64;
}

struct Damage {
  const char* name;
  FatOpenStatus expected;
  std::function<void(std::string&)> apply;
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

class ExfatDamageTest : public testing::TestWithParam<Damage> {};

TEST_P(ExfatDamageTest, OpensReadOnlyWithTheReason) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
  std::string bytes = fattest::ReadAll(image);
  GetParam().apply(bytes);
  fattest::WriteAll(image, bytes);
  FatOpenStatus status;
  auto m = OpenFatVolume('C', image, &status);
  ASSERT_NE(m, nullptr) << platform::fat::FatOpenStatusText(status);
  EXPECT_EQ(status, GetParam().expected) << platform::fat::FatOpenStatusText(status);
  // Analysis still works; moves are refused and the image stays as it was.
  EXPECT_FALSE(fattest::Walk(*m, 'C').empty());
  const Handle volume = m->OpenVolume('C');
  const Handle file = m->OpenFileForQuery("C:\\contiguous.bin");
  ASSERT_NE(file, kInvalidHandle);
  const std::int64_t target = fattest::FindFreeRun(*m, volume, 4);
  EXPECT_EQ(m->MoveFile(volume, {file, 0, target, 4}), kErrorWriteProtect);
  m.reset();
  EXPECT_EQ(fattest::ReadAll(image), bytes);
}

const Damage kDamages[] = {
    {"boot_checksum", FatOpenStatus::kReadOnlyBootChecksum, [](std::string& d) { d[300] ^= 0x5A; }},
    {"texfat", FatOpenStatus::kReadOnlyTexfat,
     [](std::string& d) {
       d[110] = 2;
       FixBootChecksum(d);
     }},
    {"set_checksum", FatOpenStatus::kReadOnlyExfatInconsistent,
     [](std::string& d) { d[FileEntryOf(d, "small3.txt") + 8] ^= 1; }},  // a timestamp byte
    {"bitmap_disagrees", FatOpenStatus::kReadOnlyExfatInconsistent,
     [](std::string& d) {
       const std::size_t file = FileEntryOf(d, "contiguous.bin");
       const std::uint32_t first = Get32(d, file + 32 + 20);
       const std::size_t heap = std::size_t{Get32(d, 88)} << static_cast<std::uint8_t>(d[108]);
       const std::uint32_t bitmapCluster = 2;  // where mkfs.exfat puts it
       const std::size_t bpc = std::size_t{1} << (static_cast<std::uint8_t>(d[108]) + static_cast<std::uint8_t>(d[109]));
       d[heap + (bitmapCluster - 2) * bpc + (first - 2) / 8] &= static_cast<char>(~(1 << ((first - 2) % 8)));
     }},
    {"cross_link", FatOpenStatus::kReadOnlyExfatInconsistent,
     [](std::string& d) {
       // The fragmented file's first cluster now leads into the other fragmented file.
       const std::size_t a = FileEntryOf(d, "Fragmented A.bin");
       const std::size_t b = FileEntryOf(d, "fragmented b with a long name");
       const std::size_t fat = std::size_t{Get32(d, 80)} << static_cast<std::uint8_t>(d[108]);
       Put32(d, fat + 4 * std::size_t{Get32(d, a + 32 + 20)}, Get32(d, b + 32 + 20));
     }},
    {"unknown_entry", FatOpenStatus::kReadOnlyUnknownEntries,
     [](std::string& d) {
       // A benign primary entry of a type no one defined, after the last root entry.
       const std::size_t file = FileEntryOf(d, "Fragmented A.bin");
       std::size_t at = file;
       while (d[at] != 0) at += 32;
       d[at] = static_cast<char>(0xA7);
     }},
};

INSTANTIATE_TEST_SUITE_P(Damages, ExfatDamageTest, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// Bits set that nothing owns are what an interrupted move leaves: counted, but the
// volume stays writable. A wrong set checksum is named in the damage.
TEST(ExfatOpenTest, CountsLostClustersAndNamesOtherDamage) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
  std::string bytes = fattest::ReadAll(image);
  const std::size_t heap = std::size_t{Get32(bytes, 88)} << static_cast<std::uint8_t>(bytes[108]);
  const std::uint32_t last = Get32(bytes, 92) + 1;  // the highest cluster: free in the fixture
  bytes[heap + (last - 2) / 8] = static_cast<char>(bytes[heap + (last - 2) / 8] | (1 << ((last - 2) % 8)));
  fattest::WriteAll(image, bytes);
  FatOpenStatus status;
  platform::fat::FatDamage damage;
  ASSERT_NE(OpenFatVolume('C', image, &status, &damage), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  EXPECT_EQ(damage.lostClusters, 1u);
  EXPECT_FALSE(damage.otherProblems);

  bytes[FileEntryOf(bytes, "small3.txt") + 8] ^= 1;
  fattest::WriteAll(image, bytes);
  ASSERT_NE(OpenFatVolume('C', image, &status, &damage), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyExfatInconsistent);
  EXPECT_EQ(damage.firstOther, "an entry set in folder Folder One has a wrong checksum");
}

// The entry set checksum of the set whose File entry is at `file`, rewritten after a patch.
void FixSetChecksum(std::string& d, std::size_t file) {
  const std::size_t count = static_cast<std::uint8_t>(d[file + 1]) + std::size_t{1};
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < count * 32; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + static_cast<std::uint8_t>(d[file + i]));
  }
  d[file + 2] = static_cast<char>(sum & 0xFF);
  d[file + 3] = static_cast<char>(sum >> 8);
}

// A folder whose first cluster is that of a folder on its own path (its parent, or the
// root) is cut there and named; the volume is analysed but never written.
TEST(ExfatOpenTest, AFolderLeadingBackIntoItsPathIsCutThereAndNamed) {
  EXFAT_REQUIRE_TOOLS();
  struct Case {
    const char* name;
    const char* folder;  // the folder made to lead back
    const char* target;  // the folder it leads back to; null: the root
    const char* gone;    // a file no longer reached
  };
  const Case cases[] = {
      {"parent", "deeper", "Folder One", "Folder One/deeper/Piecewise.bin"},
      {"root", "Folder One", nullptr, "Folder One/small3.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    exfattest::ScratchDir dir;
    const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
    std::string bytes = fattest::ReadAll(image);
    const std::size_t file = FileEntryOf(bytes, c.folder);
    ASSERT_NE(file, 0u);
    const std::uint32_t target = c.target != nullptr ? Get32(bytes, FileEntryOf(bytes, c.target) + 32 + 20)
                                                     : Get32(bytes, 96);  // the root folder's first cluster
    Put32(bytes, file + 32 + 20, target);
    FixSetChecksum(bytes, file);
    fattest::WriteAll(image, bytes);

    FatOpenStatus status;
    platform::fat::FatDamage damage;
    auto m = OpenFatVolume('C', image, &status, &damage);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, FatOpenStatus::kReadOnlyExfatInconsistent);
    EXPECT_EQ(damage.folderLoops, 1u);
    EXPECT_EQ(damage.crossLinks, 0u) << "the loop is named as a loop, not as a cross-link";
    EXPECT_NE(platform::fat::FatDamageText(damage).find("1 folder that leads back into its own path"),
              std::string::npos)
        << platform::fat::FatDamageText(damage);
    const auto seen = fattest::Walk(*m, 'C');
    EXPECT_EQ(seen.count(std::string(c.folder == std::string("deeper") ? "Folder One/deeper/" : "Folder One/")), 1u);
    EXPECT_EQ(seen.count(c.gone), 0u);
    EXPECT_EQ(seen.count("contiguous.bin"), 1u);
    for (const auto& [path, seenFile] : seen) EXPECT_LT(path.size(), 80u) << path;

    const Handle volume = m->OpenVolume('C');
    const Handle moved = m->OpenFileForQuery("C:\\contiguous.bin");
    ASSERT_NE(moved, kInvalidHandle);
    EXPECT_EQ(m->MoveFile(volume, {moved, 0, fattest::FindFreeRun(*m, volume, 4), 4}), kErrorWriteProtect);
    m.reset();
    EXPECT_EQ(fattest::ReadAll(image), bytes);
  }
}

// A name that is "." or holds a separator would lead a path back to the folder or
// elsewhere: such an entry is left out of the tree and named.
TEST(ExfatOpenTest, AnEntryNoPathCanReachIsLeftOutAndNamed) {
  EXFAT_REQUIRE_TOOLS();
  for (const char16_t* name : {u".", u"..", u"A\\B", u"X/"}) {
    exfattest::ScratchDir dir;
    const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_4k");
    std::string bytes = fattest::ReadAll(image);
    const std::size_t file = FileEntryOf(bytes, "deeper");
    ASSERT_NE(file, 0u);
    // "deeper" has one File Name entry, room for 15 units: the new name and zeros.
    const std::u16string wide(name);
    bytes[file + 32 + 3] = static_cast<char>(wide.size());
    std::uint16_t hash = 0;
    for (std::size_t u = 0; u < 15; ++u) {
      const char16_t unit = u < wide.size() ? wide[u] : u'\0';
      bytes[file + 64 + 2 + 2 * u] = static_cast<char>(unit & 0xFF);
      bytes[file + 64 + 3 + 2 * u] = static_cast<char>(unit >> 8);
      if (u >= wide.size()) continue;
      for (const std::uint8_t b : {static_cast<std::uint8_t>(unit & 0xFF), static_cast<std::uint8_t>(unit >> 8)}) {
        hash = static_cast<std::uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + b);
      }
    }
    bytes[file + 32 + 4] = static_cast<char>(hash & 0xFF);
    bytes[file + 32 + 5] = static_cast<char>(hash >> 8);
    FixSetChecksum(bytes, file);
    fattest::WriteAll(image, bytes);

    FatOpenStatus status;
    platform::fat::FatDamage damage;
    auto m = OpenFatVolume('C', image, &status, &damage);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, FatOpenStatus::kReadOnlyExfatInconsistent);
    const bool separator = wide.find_first_of(u"\\/") != std::u16string::npos;
    EXPECT_EQ(damage.firstOther, separator ? "a name in folder \\Folder One holds a character no path can carry"
                                           : "an entry in folder Folder One has a name no path can reach");
    const auto seen = fattest::Walk(*m, 'C');
    EXPECT_EQ(seen.count("Folder One/small3.txt"), 1u);
    EXPECT_EQ(seen.count("Folder One/deeper/Piecewise.bin"), 0u);
    for (const auto& [path, seenFile] : seen) EXPECT_LT(path.size(), 80u) << path;
  }
}

// A FAT chain that ends before its file's size is named as short, not as a loop.
TEST(ExfatOpenTest, ShortChainIsNamedAsShort) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_small_4k");
  std::string bytes = fattest::ReadAll(image);
  const auto listing = exfattest::RawListing(image).at("three pieces.bin");
  ASSERT_FALSE(listing.noFatChain);
  ASSERT_GT(listing.clusters.size(), 2u);
  const std::size_t fat = std::size_t{Get32(bytes, 80)} << static_cast<std::uint8_t>(bytes[108]);
  const std::size_t at = fat + std::size_t{listing.clusters[1]} * 4;
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(0xFF);  // ends early
  fattest::WriteAll(image, bytes);
  FatOpenStatus status;
  platform::fat::FatDamage damage;
  ASSERT_NE(OpenFatVolume('C', image, &status, &damage), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kReadOnlyExfatInconsistent);
  EXPECT_EQ(damage.shortChains, 1u);
  EXPECT_EQ(damage.brokenChains, 0u);
  const std::string text = platform::fat::FatDamageText(damage);
  EXPECT_NE(text.find("1 chain shorter than its file's size"), std::string::npos) << text;
  EXPECT_EQ(text.find("loop"), std::string::npos) << text;
}

TEST(ExfatOpenTest, RefusesWhatIsNoExfatVolume) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  const std::string bytes = fattest::ReadAll(image);
  FatOpenStatus status;

  fattest::WriteAll(image, bytes.substr(0, bytes.size() / 2));
  EXPECT_EQ(OpenFatVolume('C', image, &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kTruncated);

  std::string bad = bytes;
  bad[109] = 30;  // clusters of 2^39 bytes
  fattest::WriteAll(image, bad);
  EXPECT_EQ(OpenFatVolume('C', image, &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kBadBootSector);

  bad = bytes;
  bad[20] = 1;  // inside the range that must be zero (where FAT keeps its BPB)
  fattest::WriteAll(image, bad);
  EXPECT_EQ(OpenFatVolume('C', image, &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kBadBootSector);
}

// Through the routed machine the engine uses: a file whose File and Stream Extension
// entries lie in different sectors is refused a move and the seam says why; another
// file has no such reason and moves.
TEST(ExfatSeamTest, SaysWhyAFileIsNeverMoved) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  FatOpenStatus status;
  RoutedMachine m(CreateEmptyMachine());
  m.Route('C', OpenFatVolume('C', image, &status));
  ASSERT_EQ(status, FatOpenStatus::kOk);
  const Handle volume = m.OpenVolume('C');
  int refused = 0;
  int moved = 0;
  for (const auto& [path, f] : fattest::Walk(m, 'C')) {
    if (f.runs.empty()) continue;
    std::string win = "C:\\" + path;
    for (char& c : win) c = c == '/' ? '\\' : c;
    const Handle file = m.OpenFileForQuery(win.c_str());
    ASSERT_NE(file, kInvalidHandle) << path;
    const char* reason = m.UnmovableReason(file);
    MOVE_FILE_DATA move{};
    move.FileHandle = file;
    move.StartingVcn = 0;
    move.StartingLcn = fattest::FindFreeRun(m, volume, f.runs[0].second);
    move.ClusterCount = static_cast<std::uint32_t>(f.runs[0].second);
    const std::uint32_t rc = m.MoveFile(volume, move);
    if (reason != nullptr) {
      EXPECT_STREQ(reason, "its directory entry spans two sectors") << path;
      EXPECT_EQ(rc, kErrorAccessDenied) << path;
      ++refused;
    } else {
      EXPECT_EQ(rc, kErrorSuccess) << path;
      ++moved;
    }
    m.CloseHandle(file);
  }
  EXPECT_GT(refused, 0) << "the fixture has no straddling entry set";
  EXPECT_GT(moved, 0);
  EXPECT_EQ(m.UnmovableReason(kInvalidHandle), nullptr);
  EXPECT_EQ(m.FlushFileBuffers(volume), kErrorSuccess);
  m.CloseHandle(volume);
}

// The volume serial number (boot sector offset 100) identifies the volume for the
// recent-defragmentation rule: right after a defragmentation the same volume's age is
// 1; another exFAT volume under the same letter has age 2.
TEST(ExfatSeamTest, SerialNumberTellsVolumesApartForTheDefragmentationAge) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string first = exfattest::CopyOfFixture(dir, "exfat_small_4k");
  const std::string second = dir / "second.img";
  std::filesystem::copy_file(first, second);
  std::string out;
  ASSERT_EQ(fattest::Run("tune.exfat -I 0x1234abcd " + fattest::Quote(first), &out), 0) << out;
  ASSERT_EQ(fattest::Run("tune.exfat -I 0x5678ef01 " + fattest::Quote(second), &out), 0) << out;
  auto serialOf = [](const std::string& image) {
    FatOpenStatus status;
    RoutedMachine m(CreateEmptyMachine());
    m.Route('E', OpenFatVolume('E', image, &status));
    EXPECT_EQ(status, FatOpenStatus::kOk);
    std::uint32_t serial = 0;
    EXPECT_TRUE(m.VolumeSerialNumber('E', &serial));
    EXPECT_FALSE(m.VolumeSerialNumber('F', &serial));
    return serial;
  };
  const std::uint32_t a = serialOf(first);
  EXPECT_EQ(a, 0x1234abcdu);
  EXPECT_EQ(serialOf(second), 0x5678ef01u);

  const std::string date = dir / "defragdate";
  const std::string volume = dir / "defragvol";
  const std::time_t now = std::time(nullptr);
  const int slot = 'E' - 'C';
  ASSERT_TRUE(vexa::WriteDefragDate(date, slot, now));
  ASSERT_TRUE(vexa::WriteDefragVolume(volume, slot, a));
  EXPECT_EQ(vexa::VolumeDefragmentationAge(date, volume, slot, serialOf(first), now + 60), 1);
  EXPECT_EQ(vexa::VolumeDefragmentationAge(date, volume, slot, serialOf(second), now + 60), 2);
}

// VolumeDirty or MediaFailure set by something other than a job of ours: the volume is
// analysed but never written, and the reason names the checker. With a record of our
// own interrupted job, the same VolumeDirty is ours and the volume stays writable.
TEST(ExfatSeamTest, DirtyOrFailingVolumesFromElsewhereAreAnalysedButNotWritten) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  std::filesystem::create_directory(dir / "engine");
  platform::fat::ClaimOptions claims;
  claims.folder = dir / "engine/";
  const struct {
    std::uint8_t flag;
    FatOpenStatus expected;
  } cases[] = {{0x02, FatOpenStatus::kReadOnlyExfatDirty}, {0x04, FatOpenStatus::kReadOnlyMediaFailure}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.flag));
    const std::string image = exfattest::CopyOfFixture(dir, "exfat_small_4k");
    std::string bytes = fattest::ReadAll(image);
    bytes[106] = static_cast<char>(bytes[106] | c.flag);
    fattest::WriteAll(image, bytes);
    FatOpenStatus status;
    platform::fat::FatDamage damage;
    auto m = OpenFatVolume('C', image, &status, &damage, &claims);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(status, c.expected);
    EXPECT_NE(std::string(platform::fat::FatOpenStatusText(status)).find("fsck.exfat"), std::string::npos);
    EXPECT_EQ(fattest::Walk(*m, 'C').count("whole.bin"), 1u) << "analysis answers";
    const Handle v = m->OpenVolume('C');
    const Handle f = m->OpenFileForQuery("C:\\whole.bin");
    ASSERT_NE(f, kInvalidHandle);
    EXPECT_EQ(m->MoveFile(v, {f, 0, fattest::FindFreeRun(*m, v, 3), 3}), kErrorWriteProtect);
    m.reset();
    EXPECT_EQ(fattest::ReadAll(image), bytes) << "nothing written";
    if (c.flag == 0x02) {
      std::uint32_t serial = 0;
      std::memcpy(&serial, bytes.data() + 100, 4);
      ClaimJournal ours(claims.folder, VolumeIdentity(image, serial, bytes.size()));
      ASSERT_TRUE(ours.Begin());
      EXPECT_NE(OpenFatVolume('C', image, &status, &damage, &claims), nullptr);
      EXPECT_EQ(status, FatOpenStatus::kOk) << "VolumeDirty of our own interrupted job";
      ASSERT_TRUE(ours.End());
    }
    std::filesystem::remove(image);
  }
}

// exFAT volumes are opened through the same device code as FAT ones: one holder at a
// time (flock on images, O_EXCL on block devices), and a mounted device is refused.
TEST(ExfatSeamTest, OneHolderAtATimeAndNoMountedDevice) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_small_4k");
  FatOpenStatus status;
  {
    auto held = OpenFatVolume('C', image, &status);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(OpenFatVolume('D', image, &status), nullptr);
    EXPECT_EQ(status, FatOpenStatus::kInUse);
  }
  EXPECT_NE(OpenFatVolume('D', image, &status), nullptr) << "the lock outlived its holder";
  exfattest::FuseMount mount(image, dir / "mnt", true);
  ASSERT_TRUE(mount.Ok()) << mount.Error();
  EXPECT_EQ(OpenFatVolume('C', mount.Device(), &status), nullptr);
  EXPECT_EQ(status, FatOpenStatus::kMounted);
  EXPECT_TRUE(mount.Unmount());
}

}  // namespace
}  // namespace platform::exfat
