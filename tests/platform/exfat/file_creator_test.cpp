// Creating files on exFAT images that exfat-fuse filled: each file reads back identical
// through exfat-fuse and fsck.exfat -n is clean after every creation, folders without room
// grow (the root in place, others into a new run), a replacement frees the old clusters,
// and a crash keeping any subset of the unflushed writes leaves no file or the whole file.
#include <gtest/gtest.h>

#include "../../../platform/exfat/exfat_volume.h"
#include "exfat_tools.h"
#include "platform/fat_provider.h"

namespace platform::exfat {
namespace {

using platform::fat::FatOpenStatus;

std::unique_ptr<ExfatVolume> OpenVolume(std::unique_ptr<platform::fat::FatIo> io, FatOpenStatus expected = FatOpenStatus::kOk) {
  FatOpenStatus status;
  auto volume = ExfatVolume::Open(std::move(io), &status);
  EXPECT_EQ(status, expected) << (volume ? volume->Problem() : "not opened");
  return volume;
}

std::unique_ptr<ExfatVolume> OpenImage(const std::string& image) {
  FatOpenStatus status;
  return OpenVolume(platform::fat::OpenFatDevice(image, &status));
}

// The lowest free runs holding `clusters` clusters, at most `pieces` of them, each run
// at least one cluster apart from the one before (so the file really lies in pieces).
std::vector<FileRun> Runs(const ExfatVolume& v, std::int64_t clusters, int pieces) {
  std::vector<FileRun> runs;
  const std::int64_t each = (clusters + pieces - 1) / pieces;
  std::int64_t left = clusters;
  for (std::uint32_t c = 2; c - 2 < v.Geometry().clusterCount && left > 0; ++c) {
    if (v.Used(c)) continue;
    bool taken = false;
    for (const FileRun& r : runs) taken = taken || (c - 2 >= r.lcn && c - 2 < r.lcn + r.clusters + 1);
    if (taken) continue;
    std::int64_t length = 0;
    while (length < std::min(each, left) && c + length - 2 < v.Geometry().clusterCount && !v.Used(static_cast<std::uint32_t>(c + length))) {
      ++length;
    }
    if (length < std::min(each, left)) continue;
    runs.push_back({c - 2, length});
    left -= length;
    c += static_cast<std::uint32_t>(length);
  }
  return left == 0 ? runs : std::vector<FileRun>{};
}

NewFileData Content(const std::string& bytes, std::vector<FileRun> runs, bool replace = false) {
  NewFileData data;
  data.size = bytes.size();
  data.runs = std::move(runs);
  data.lastWriteTime = 1700000000;  // 2023-11-14
  data.replace = replace;
  data.read = [bytes](std::uint64_t offset, void* out, std::size_t size) {
    if (offset + size > bytes.size()) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  };
  return data;
}

std::int64_t ClustersFor(const ExfatVolume& v, std::size_t bytes) {
  const std::uint32_t bpc = v.Geometry().bytesPerCluster;
  return static_cast<std::int64_t>((bytes + bpc - 1) / bpc);
}

// Creates `path` with `bytes` in up to `pieces` runs; returns the provider's answer.
std::uint32_t Create(ExfatVolume& v, const std::string& path, const std::string& bytes, int pieces = 1, bool replace = false) {
  const std::vector<FileRun> runs = bytes.empty() ? std::vector<FileRun>{} : Runs(v, ClustersFor(v, bytes.size()), pieces);
  EXPECT_TRUE(bytes.empty() || !runs.empty()) << "no room for " << path;
  return v.CreateFileInRuns(path, Content(bytes, runs, replace));
}

void ExpectClean(const std::string& image, const std::string& after) {
  std::string out;
  EXPECT_EQ(exfattest::Fsck(image, &out), 0) << "after " << after << "\n" << out;
}

// New files of every shape on a volume with 512-byte clusters (folders fill quickly),
// each checked by fsck.exfat; at the end every file, old and new, reads back through
// exfat-fuse as written, and the volume opens writable with no lost clusters.
TEST(ExfatCreateTest, NewFilesReadBackThroughFuse) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  std::map<std::string, std::string> expected = exfattest::FuseContents(image);
  auto add = [&](ExfatVolume& v, const std::string& path, const std::string& bytes, int pieces, bool replace = false) {
    ASSERT_EQ(Create(v, path, bytes, pieces, replace), kErrorSuccess) << path;
    ExpectClean(image, path);
    std::string key = path;
    for (char& c : key) c = c == '\\' ? '/' : c;
    expected[key] = bytes;
  };
  {
    auto v = OpenImage(image);
    ASSERT_NE(v, nullptr);
    add(*v, "one run.bin", fattest::RandomBytes(5000, 101), 1);
    add(*v, "Folder One\\deeper\\three runs.bin", fattest::RandomBytes(2600, 102), 3);
    add(*v, "Folder One\\empty file", "", 1);
    add(*v, "a name of forty characters, and a bit.txt", fattest::RandomBytes(700, 103), 1);
    // Enough entries to make both folders grow: 16 slots per 512-byte cluster.
    const std::uint64_t rootBefore = v->Node(ExfatVolume::kRoot).dataLength;
    const std::uint32_t deeperBefore = v->Node(v->Find("Folder One\\deeper")).firstCluster;
    for (int i = 0; i < 12; ++i) {
      add(*v, "root file " + std::to_string(i) + ".dat", fattest::RandomBytes(100 + static_cast<std::size_t>(i), 110 + i), 1);
      add(*v, "Folder One\\deeper\\inner " + std::to_string(i), fattest::RandomBytes(600, 130 + i), 2);
    }
    EXPECT_GT(v->Node(ExfatVolume::kRoot).dataLength, rootBefore) << "the root folder did not grow";
    EXPECT_NE(v->Node(v->Find("Folder One\\deeper")).firstCluster, deeperBefore) << "the folder did not move to grow";
    // The new files are found, case-insensitively, in the same session.
    EXPECT_GE(v->Find("FOLDER ONE\\DEEPER\\INNER 11"), 0);
    // A replacement: new clusters in two runs; the old ones are freed.
    const std::vector<std::uint32_t> old = v->Chain(v->Find("contiguous.bin"));
    add(*v, "contiguous.bin", fattest::RandomBytes(1900, 150), 2, true);
    for (std::uint32_t c : old) EXPECT_FALSE(v->Used(c)) << "old cluster " << c << " still used";
  }
  EXPECT_EQ(fattest::ChangedFiles(expected, exfattest::FuseContents(image)), std::vector<std::string>{});
  const auto listing = exfattest::RawListing(image);
  EXPECT_TRUE(listing.at("one run.bin").noFatChain);
  EXPECT_EQ(exfattest::RunsOf(listing.at("Folder One/deeper/three runs.bin").clusters).size(), 3u);
  EXPECT_FALSE(listing.at("Folder One/deeper/three runs.bin").noFatChain);
  EXPECT_EQ(exfattest::RunsOf(listing.at("contiguous.bin").clusters).size(), 2u);
  EXPECT_EQ(fattest::ReadAll(image)[106] & 2, 0) << "VolumeDirty left set";
  platform::fat::FatDamage damage;
  FatOpenStatus status;
  auto v = ExfatVolume::Open(platform::fat::OpenFatDevice(image, &status), &status, &damage);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  EXPECT_EQ(damage.lostClusters, 0u);
}

// What cannot be created is refused before anything is written.
TEST(ExfatCreateTest, RefusalsWriteNothing) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string image = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  const std::string pristine = fattest::ReadAll(image);
  std::uint64_t unreadFrom = 0;
  std::uint64_t unreadTo = 0;
  {
    auto v = OpenImage(image);
    ASSERT_NE(v, nullptr);
    const std::string bytes = fattest::RandomBytes(1000, 7);
    const std::vector<FileRun> runs = Runs(*v, 2, 1);
    EXPECT_EQ(v->CreateFileInRuns("CONTIGUOUS.BIN", Content(bytes, runs)), kErrorFileExists);
    EXPECT_EQ(v->CreateFileInRuns("no such folder\\x", Content(bytes, runs)), kErrorPathNotFound);
    EXPECT_EQ(v->CreateFileInRuns("contiguous.bin\\x", Content(bytes, runs)), kErrorPathNotFound);
    EXPECT_EQ(v->CreateFileInRuns("a?b", Content(bytes, runs)), kErrorInvalidName);
    EXPECT_EQ(v->CreateFileInRuns("Folder One", Content(bytes, runs, true)), kErrorAccessDenied);
    EXPECT_EQ(v->CreateFileInRuns("x", Content(bytes, Runs(*v, 3, 1))), kErrorInvalidParameter);
    const std::uint32_t used = v->Chain(v->Find("contiguous.bin")).front();
    EXPECT_EQ(v->CreateFileInRuns("x", Content(bytes, {{used - 2, 2}})), kErrorAccessDenied);
    // 16 entries fill a 512-byte sector: a name of 211 characters needs 17.
    EXPECT_EQ(v->CreateFileInRuns(std::string(211, 'n'), Content(bytes, runs)), kErrorFileSystemLimitation);
    // A file whose File and Stream Extension entries straddle a sector is not replaced.
    std::int32_t straddling = -1;
    for (std::size_t i = 1; i < v->NodeCount() && straddling < 0; ++i) {
      const auto n = static_cast<std::int32_t>(i);
      if (!v->Node(n).IsFolder() && v->Unmovable(n) != nullptr) straddling = n;
    }
    ASSERT_GE(straddling, 0) << "the fixture has no straddling entry set";
    std::string path = v->Node(straddling).name;
    for (std::int32_t p = v->Node(straddling).parent; p != ExfatVolume::kRoot; p = v->Node(p).parent) {
      path = v->Node(p).name + "\\" + path;
    }
    EXPECT_EQ(v->CreateFileInRuns(path, Content(bytes, runs, true)), kErrorFileSystemLimitation) << path;
    // A source that fails to read: nothing is claimed.
    NewFileData failing = Content(bytes, runs);
    failing.read = [](std::uint64_t, void*, std::size_t) { return false; };
    EXPECT_EQ(v->CreateFileInRuns("unreadable", failing), kErrorReadFault);
    unreadFrom = v->Geometry().ClusterOffset(static_cast<std::uint32_t>(runs.front().lcn + 2));
    unreadTo = unreadFrom + 2 * std::uint64_t{v->Geometry().bytesPerCluster};
    EXPECT_FALSE(v->Used(static_cast<std::uint32_t>(runs.front().lcn + 2)));
    EXPECT_EQ(v->Find("unreadable"), -1);
  }
  // Only the content of the unreadable file reached free clusters: all else is as it was.
  std::string after = fattest::ReadAll(image);
  ASSERT_EQ(after.size(), pristine.size());
  std::copy(pristine.begin() + static_cast<std::ptrdiff_t>(unreadFrom),
            pristine.begin() + static_cast<std::ptrdiff_t>(unreadTo), after.begin() + static_cast<std::ptrdiff_t>(unreadFrom));
  EXPECT_TRUE(after == pristine) << "a refused creation changed the image";
  ExpectClean(image, "refusals");
}

using exfattest::JournalIo;

// One creation of each kind (a new file in free slots, one that makes the root grow,
// one that makes a folder move to grow, a replacement), journalled; then for every
// epoch between flushes and every subset of its writes, the image holding all earlier
// epochs and that subset passes fsck.exfat -n, opens writable, keeps every other file
// and holds either no new file or the whole of it (for the replacement: the old or the
// new content).
TEST(ExfatCreateTest, LosingAnyUnflushedWritesLeavesNoFileOrTheWholeFile) {
  EXFAT_REQUIRE_TOOLS();
  exfattest::ScratchDir dir;
  const std::string pristine = exfattest::CopyOfFixture(dir, "exfat_mixed_512");
  const std::string work = dir / "work.img";
  std::string start = fattest::ReadAll(pristine);
  std::map<std::string, std::string> contents = exfattest::RawContents(pristine);

  struct Step {
    std::string path;  // as RawContents names it
    std::string bytes;
    int pieces;
    bool replace;
    bool grows;  // the folder is filled first, so this creation makes it grow
  };
  const std::vector<Step> steps = {
      {"Folder One/new.bin", fattest::RandomBytes(1500, 201), 2, false, false},
      {"contiguous.bin", fattest::RandomBytes(900, 202), 2, true, false},
      {"Folder One/deeper/grown folder file.bin", fattest::RandomBytes(1100, 203), 1, false, true},
      {"root grows.bin", fattest::RandomBytes(300, 204), 1, false, true},
  };
  int cases = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.path);
    std::vector<std::vector<JournalIo::Record>> epochs;
    std::string finished;
    {
      auto memory = std::make_unique<JournalIo>(std::vector<std::uint8_t>(start.begin(), start.end()), &epochs);
      JournalIo* journal = memory.get();
      auto v = OpenVolume(std::move(memory));
      ASSERT_NE(v, nullptr);
      std::string win = step.path;
      for (char& c : win) c = c == '/' ? '\\' : c;
      auto state = [&] {
        std::vector<std::uint8_t> now(journal->Size());
        EXPECT_TRUE(journal->Read(0, now.data(), now.size()));
        return now;
      };
      // For the growth steps, the folder is first filled until this creation makes it grow.
      const std::string folder = win.find('\\') == std::string::npos ? "" : win.substr(0, win.rfind('\\'));
      auto wouldGrow = [&] {
        auto copy = OpenVolume(std::make_unique<platform::fat::MemoryFatIo>(state()));
        const ExfatNode before = copy->Node(copy->Find(folder));
        EXPECT_EQ(Create(*copy, win, step.bytes, step.pieces, step.replace), kErrorSuccess);
        const ExfatNode& after = copy->Node(copy->Find(folder));
        return after.dataLength != before.dataLength || after.firstCluster != before.firstCluster;
      };
      if (step.grows) {
        for (int i = 0; !wouldGrow(); ++i) {
          ASSERT_LT(i, 64) << "the folder never fills";
          const std::string name = "filler " + std::to_string(i);
          ASSERT_EQ(Create(*v, folder.empty() ? name : folder + "\\" + name, "x"), kErrorSuccess);
          std::string key = folder.empty() ? name : folder + "/" + name;
          for (char& c : key) c = c == '\\' ? '/' : c;
          contents[key] = "x";
        }
      }
      // What the disk holds now is the starting point of this step's crashes.
      const std::vector<std::uint8_t> now = state();
      start.assign(now.begin(), now.end());
      epochs.clear();
      epochs.emplace_back();
      const ExfatNode before = v->Node(v->Find(folder));
      ASSERT_EQ(Create(*v, win, step.bytes, step.pieces, step.replace), kErrorSuccess);
      const ExfatNode& after = v->Node(v->Find(folder));
      EXPECT_EQ(step.grows, after.dataLength != before.dataLength) << "growth of " << folder;
      std::vector<std::uint8_t> end(journal->Size());
      ASSERT_TRUE(journal->Read(0, end.data(), end.size()));
      finished.assign(end.begin(), end.end());
    }
    // The filler files made before the journal's start are part of every crashed image.
    fattest::WriteAll(work, start);
    ASSERT_EQ(fattest::ChangedFiles(contents, exfattest::RawContents(work)), std::vector<std::string>{});
    const std::string old = contents.count(step.path) ? contents.at(step.path) : "";
    cases += exfattest::ForEachCrash(start, epochs, [&](const std::string& crashed) {
      fattest::WriteAll(work, crashed);
      std::string out;
      EXPECT_EQ(exfattest::Fsck(work, &out), 0) << out;
      std::map<std::string, std::string> seen = exfattest::RawContents(work);
      const auto it = seen.find(step.path);
      if (step.replace) {
        ASSERT_NE(it, seen.end());
        EXPECT_TRUE(it->second == old || it->second == step.bytes) << "neither the old nor the new content";
      } else if (it != seen.end()) {
        EXPECT_EQ(it->second, step.bytes) << "a partial new file";
      }
      if (it != seen.end()) seen.erase(it);
      std::map<std::string, std::string> others = contents;
      others.erase(step.path);
      EXPECT_EQ(fattest::ChangedFiles(others, seen), std::vector<std::string>{});
      EXPECT_EQ(seen.size(), others.size());
      FatOpenStatus status;
      auto reopened = ExfatVolume::Open(
          std::make_unique<platform::fat::MemoryFatIo>(std::vector<std::uint8_t>(crashed.begin(), crashed.end())), &status);
      // Without the job's claim record the crash's VolumeDirty is not ours: read-only, no damage.
      EXPECT_TRUE(status == FatOpenStatus::kOk || status == FatOpenStatus::kReadOnlyExfatDirty)
          << (reopened ? reopened->Problem() : "not opened");
    });
    if (HasFailure()) return;
    fattest::WriteAll(work, finished);
    ASSERT_EQ(exfattest::RawContents(work).count(step.path), 1u) << "the file is missing after every write";
    contents[step.path] = step.bytes;
    start = finished;
  }
  EXPECT_GT(cases, 40);
}

}  // namespace
}  // namespace platform::exfat
