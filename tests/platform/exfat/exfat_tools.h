// Helpers for the exFAT provider tests: images made by mkfs.exfat and filled through
// exfat-fuse on a loop device, built once per fixture and copied per case; fsck.exfat
// and dump.exfat runs; contents read back through exfat-fuse; and a small reader of
// our own that lists each file's clusters straight from the image, apart from the
// provider.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/fat/fat_tools.h"
#include "platform/fat_io.h"

namespace exfattest {

using fattest::Quote;
using fattest::RandomBytes;
using fattest::Run;
using fattest::ScratchDir;

// Why exFAT images cannot be made here, or empty when they can.
inline std::string MissingTools() {
  if (Run("command -v mkfs.exfat && command -v fsck.exfat && command -v dump.exfat") != 0) {
    return "exfatprogs (mkfs.exfat, fsck.exfat, dump.exfat) missing";
  }
  if (Run("command -v mount.exfat-fuse && command -v losetup") != 0) return "exfat-fuse or losetup missing";
  if (!std::filesystem::exists("/dev/fuse")) return "no /dev/fuse: FUSE unavailable";
  if (!std::filesystem::exists("/dev/loop-control")) return "no /dev/loop-control: loop devices unavailable";
  if (::geteuid() != 0) return "loop devices need root";
  return "";
}

#define EXFAT_REQUIRE_TOOLS()                                             \
  if (const std::string missing = exfattest::MissingTools(); !missing.empty()) \
  GTEST_SKIP() << "exFAT images cannot be made here: " << missing

// An image attached to a loop device and mounted through exfat-fuse for as long as the
// object lives; the device is detached by its own name afterwards.
class FuseMount {
 public:
  FuseMount(const std::string& image, const std::string& mountPoint, bool readOnly) : mountPoint_(mountPoint) {
    std::filesystem::create_directories(mountPoint);
    std::string out;
    if (Run("losetup -f --show " + Quote(image), &out) != 0) {
      error_ = "losetup: " + out;
      return;
    }
    device_ = out.substr(0, out.find('\n'));
    if (Run("mount.exfat-fuse " + std::string(readOnly ? "-o ro " : "") + Quote(device_) + " " + Quote(mountPoint), &out) !=
        0) {
      error_ = "mount.exfat-fuse: " + out;
      return;
    }
    mounted_ = true;
  }
  ~FuseMount() { Unmount(); }
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;

  // Unmounts and detaches; false when either fails.
  bool Unmount() {
    bool ok = true;
    if (mounted_) ok = Run("umount " + Quote(mountPoint_)) == 0 || Run("fusermount -u " + Quote(mountPoint_)) == 0;
    mounted_ = false;
    if (!device_.empty()) {
      // The FUSE daemon may still hold the device for a moment after the unmount.
      bool detached = false;
      for (int i = 0; i < 50 && !detached; ++i) {
        detached = Run("losetup -d " + Quote(device_)) == 0;
        if (!detached) ::usleep(20000);
      }
      ok = ok && detached;
      device_.clear();
    }
    return ok;
  }
  bool Ok() const { return mounted_; }
  const std::string& Error() const { return error_; }
  // The loop device the image is attached to.
  const std::string& Device() const { return device_; }
  std::string operator/(const std::string& path) const { return mountPoint_ + "/" + path; }

 private:
  std::string mountPoint_;
  std::string device_;
  std::string error_;
  bool mounted_ = false;
};

// Writes `bytes` to `path` on a FUSE mount in pieces of `piece` bytes, each flushed so
// exfat-fuse allocates its clusters before the next write elsewhere.
inline void AppendPieces(const std::string& path, const std::string& bytes, std::size_t offset, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::pwrite(fd, bytes.data() + offset, size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
  ASSERT_EQ(::fsync(fd), 0);
  ::close(fd);
}

// The recipes: each fills a fresh mkfs.exfat image through exfat-fuse. Fixed seeds, so
// an image's files are the same on every run.
struct Recipe {
  const char* name;
  int mib;
  int clusterBytes;
  std::function<void(const FuseMount&)> fill;
};

// Two files grown in turns (so each is fragmented), a folder tree, many small files so
// some entry sets straddle a sector, an empty file and long names.
inline void FillMixed(const FuseMount& m, std::size_t cluster) {
  const std::string a = RandomBytes(cluster * 12 + 100, 1);
  const std::string b = RandomBytes(cluster * 9, 2);
  for (std::size_t i = 0; i < 12; ++i) {
    AppendPieces(m / "Fragmented A.bin", a, i * cluster, i == 11 ? cluster + 100 : cluster);
    if (i < 9) AppendPieces(m / "fragmented b with a long name over thirty units.dat", b, i * cluster, cluster);
  }
  std::filesystem::create_directories(m / "Folder One/deeper");
  for (int i = 0; i < 14; ++i) {
    const std::string name = "small" + std::to_string(i) + ".txt";
    fattest::WriteAll(m / ("Folder One/" + name), RandomBytes(100 + 7 * static_cast<std::size_t>(i), 30 + i));
  }
  fattest::WriteAll(m / "Folder One/deeper/empty", "");
  fattest::WriteAll(m / "contiguous.bin", RandomBytes(cluster * 3 + 1, 3));
  const std::string c = RandomBytes(cluster * 6, 4);
  for (std::size_t i = 0; i < 6; ++i) {
    AppendPieces(m / "Folder One/deeper/Piecewise.bin", c, i * cluster, cluster);
    fattest::WriteAll(m / ("Folder One/deeper/gap" + std::to_string(i)), RandomBytes(cluster, 50 + static_cast<unsigned>(i)));
  }
  for (int i = 0; i < 6; i += 2) std::filesystem::remove(m / ("Folder One/deeper/gap" + std::to_string(i)));
}

// Few moves for the crash tests: a file in three pieces, a contiguous file and a folder
// holding a file in two pieces.
inline void FillSmall(const FuseMount& m, std::size_t cluster) {
  const std::string a = RandomBytes(cluster * 3 - 5, 11);
  const std::string b = RandomBytes(cluster * 2, 12);
  std::filesystem::create_directories(m / "Dir");
  for (std::size_t i = 0; i < 3; ++i) {
    AppendPieces(m / "three pieces.bin", a, i * cluster, i == 2 ? cluster - 5 : cluster);
    if (i < 2) AppendPieces(m / "Dir/two.bin", b, i * cluster, cluster);
  }
  fattest::WriteAll(m / "whole.bin", RandomBytes(cluster * 2 + 9, 13));
}

inline const std::vector<Recipe>& Recipes() {
  static const std::vector<Recipe> recipes = {
      {"exfat_mixed_4k", 16, 4096, [](const FuseMount& m) { FillMixed(m, 4096); }},
      {"exfat_mixed_512", 8, 512, [](const FuseMount& m) { FillMixed(m, 512); }},
      {"exfat_small_4k", 4, 4096, [](const FuseMount& m) { FillSmall(m, 4096); }},
  };
  return recipes;
}

// Bump when a recipe changes, so cached images are made again.
constexpr int kRecipeVersion = 1;

// The fixture image `name`, built on first use and kept in the build tree for later
// runs (under a lock, as ctest runs tests in parallel). Fails the test when it cannot
// be built; the caller copies it before changing it.
inline std::string Fixture(const std::string& name) {
  const std::filesystem::path folder = VEXA_EXFAT_FIXTURE_DIR;
  std::filesystem::create_directories(folder);
  const std::filesystem::path image = folder / (name + "-v" + std::to_string(kRecipeVersion) + ".img");
  const int lock = ::open((folder / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0) {
    ADD_FAILURE() << "cannot open the fixture lock";
    return "";
  }
  ::flock(lock, LOCK_EX);
  if (!std::filesystem::exists(image)) {
    const Recipe* recipe = nullptr;
    for (const Recipe& r : Recipes()) {
      if (name == r.name) recipe = &r;
    }
    EXPECT_NE(recipe, nullptr) << name;
    const std::string building = image.string() + ".building";
    std::string out;
    std::filesystem::remove(building);
    EXPECT_EQ(Run("truncate -s " + std::to_string(recipe->mib) + "M " + Quote(building)), 0);
    EXPECT_EQ(Run("mkfs.exfat -c " + std::to_string(recipe->clusterBytes) + " -L FIXTURE " + Quote(building), &out), 0)
        << out;
    {
      ScratchDir dir;
      FuseMount m(building, dir / "mnt", false);
      EXPECT_TRUE(m.Ok()) << m.Error();
      if (m.Ok()) recipe->fill(m);
      EXPECT_TRUE(m.Unmount());
    }
    EXPECT_EQ(Run("fsck.exfat -n " + Quote(building), &out), 0) << out;
    if (!testing::Test::HasFailure()) std::filesystem::rename(building, image);
  }
  ::flock(lock, LOCK_UN);
  ::close(lock);
  return image.string();
}

// A working copy of fixture `name` in `dir`.
inline std::string CopyOfFixture(const ScratchDir& dir, const std::string& name) {
  const std::string source = Fixture(name);
  const std::string copy = dir / (name + ".img");
  std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

inline int Fsck(const std::string& image, std::string* out = nullptr) { return Run("fsck.exfat -n " + Quote(image), out); }

// Every file's content, read through exfat-fuse (read-only), by path ("dir/" for folders,
// mapped to "").
inline std::map<std::string, std::string> FuseContents(const std::string& image) {
  std::map<std::string, std::string> contents;
  ScratchDir dir;
  FuseMount m(image, dir / "mnt", true);
  EXPECT_TRUE(m.Ok()) << m.Error();
  if (!m.Ok()) return contents;
  const std::filesystem::path root = dir / "mnt";
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = std::filesystem::relative(e.path(), root).string();
    contents[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? "" : fattest::ReadAll(e.path().string());
  }
  EXPECT_TRUE(m.Unmount());
  return contents;
}

// --- a reader of our own, apart from the provider ---

struct RawFile {
  bool folder = false;
  bool noFatChain = false;
  std::uint64_t size = 0;
  std::vector<std::uint32_t> clusters;
};

// Every file and folder of the image by path ("dir/" for folders), with its clusters
// from the FAT or, for NoFatChain, as one run. Little checking: test images only.
inline std::map<std::string, RawFile> RawListing(const std::string& image) {
  const std::string d = fattest::ReadAll(image);
  auto u8 = [&](std::size_t at) { return static_cast<std::uint8_t>(d.at(at)); };
  auto u16 = [&](std::size_t at) { return std::uint32_t{u8(at)} | (std::uint32_t{u8(at + 1)} << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | (u16(at + 2) << 16); };
  auto u64 = [&](std::size_t at) { return std::uint64_t{u32(at)} | (std::uint64_t{u32(at + 4)} << 32); };
  const std::size_t sector = std::size_t{1} << u8(108);
  const std::size_t cluster = sector << u8(109);
  const std::size_t fat = u32(80) * sector;
  const std::size_t heap = u32(88) * sector;
  const std::uint32_t clusters = u32(92);
  auto chainOf = [&](std::uint32_t first, std::uint64_t bytes, bool contiguous) {
    std::vector<std::uint32_t> out;
    const std::uint64_t n = (bytes + cluster - 1) / cluster;
    for (std::uint32_t c = first; out.size() < n && c >= 2 && c - 2 < clusters; c = contiguous ? c + 1 : u32(fat + 4 * std::size_t{c})) {
      out.push_back(c);
    }
    return out;
  };
  std::map<std::string, RawFile> files;
  std::function<void(const std::vector<std::uint32_t>&, const std::string&)> walk =
      [&](const std::vector<std::uint32_t>& chain, const std::string& prefix) {
        std::string bytes;
        for (std::uint32_t c : chain) bytes += d.substr(heap + (c - 2) * cluster, cluster);
        for (std::size_t at = 0; at + 32 <= bytes.size() && bytes[at] != 0; at += 32) {
          if (static_cast<std::uint8_t>(bytes[at]) != 0x85) continue;
          const std::size_t s = at + 32;
          const std::size_t units = static_cast<std::uint8_t>(bytes[s + 3]);
          std::string name;
          for (std::size_t i = 0; i < units; ++i) {
            const std::size_t e = s + 32 * (1 + i / 15) + 2 + 2 * (i % 15);
            name += static_cast<char>(static_cast<std::uint8_t>(bytes[e]));
          }
          RawFile f;
          f.folder = (static_cast<std::uint8_t>(bytes[at + 4]) & 0x10) != 0;
          f.noFatChain = (static_cast<std::uint8_t>(bytes[s + 1]) & 2) != 0;
          const std::size_t base = heap + (chain[s / cluster] - 2) * cluster + s % cluster;
          f.size = u64(base + 24);
          const std::uint32_t first = u32(base + 20);
          if (first != 0) f.clusters = chainOf(first, f.size, f.noFatChain);
          files[prefix + name + (f.folder ? "/" : "")] = f;
          if (f.folder) walk(f.clusters, prefix + name + "/");
        }
      };
  walk(chainOf(u32(96), ~std::uint64_t{0} >> 1, false), "");
  return files;
}

// Runs of consecutive clusters in logical clusters (cluster 2 = 0): (lcn, length).
inline fattest::Runs RunsOf(const std::vector<std::uint32_t>& clusters) {
  fattest::Runs runs;
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    if (i > 0 && clusters[i] == clusters[i - 1] + 1) {
      ++runs.back().second;
    } else {
      runs.emplace_back(std::int64_t{clusters[i]} - 2, 1);
    }
  }
  return runs;
}

// The FAT entry of cluster `c`, read straight from the image.
inline std::uint32_t FatEntry(const std::string& d, std::uint32_t c) {
  auto byte = [&](std::size_t at) { return std::uint32_t{static_cast<std::uint8_t>(d.at(at))}; };
  const std::size_t sector = std::size_t{1} << byte(108);
  const std::size_t fat = (byte(80) | byte(81) << 8 | byte(82) << 16 | byte(83) << 24) * sector;
  const std::size_t at = fat + 4 * std::size_t{c};
  return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
}

// Every file's bytes by path, read with RawListing's clusters: quicker than a FUSE
// mount for the many images of the crash tests, and still apart from the provider.
inline std::map<std::string, std::string> RawContents(const std::string& image) {
  const std::string d = fattest::ReadAll(image);
  const std::size_t sector = std::size_t{1} << static_cast<std::uint8_t>(d[108]);
  const std::size_t cluster = sector << static_cast<std::uint8_t>(d[109]);
  std::size_t heap = 0;
  std::memcpy(&heap, d.data() + 88, 4);
  heap *= sector;
  std::map<std::string, std::string> contents;
  for (const auto& [path, f] : RawListing(image)) {
    if (f.folder) continue;
    std::string bytes;
    for (std::uint32_t c : f.clusters) bytes += d.substr(heap + (c - 2) * cluster, cluster);
    contents[path] = bytes.substr(0, static_cast<std::size_t>(f.size));
  }
  return contents;
}

// --- crashes with unflushed writes lost ---

// Records the writes of a run with the flushes between them, over an image in memory:
// epochs[i] holds the writes between flush i and flush i + 1.
class JournalIo final : public platform::fat::FatIo {
 public:
  struct Record {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
  };
  JournalIo(std::vector<std::uint8_t> image, std::vector<std::vector<Record>>* epochs)
      : inner_(std::move(image)), epochs_(epochs) {
    epochs_->emplace_back();
  }
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Writable() const override { return true; }
  bool Read(std::uint64_t offset, void* data, std::size_t size) override { return inner_.Read(offset, data, size); }
  bool Write(std::uint64_t offset, const void* data, std::size_t size) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    epochs_->back().push_back({offset, std::vector<std::uint8_t>(p, p + size)});
    return inner_.Write(offset, data, size);
  }
  bool Flush() override {
    if (!epochs_->back().empty()) epochs_->emplace_back();
    return true;
  }
  // The image as it is now.
  std::string Bytes() {
    std::string out(static_cast<std::size_t>(Size()), 0);
    EXPECT_TRUE(Read(0, out.data(), out.size()));
    return out;
  }

 private:
  platform::fat::MemoryFatIo inner_;
  std::vector<std::vector<Record>>* epochs_;
};

// A disk with a write cache may store the writes made since the last flush in any
// order, so a crash may keep any subset of them. Calls `check` with each image that
// holds `start`, all epochs before one and a subset of that epoch's writes: every
// subset of an epoch of up to 6 writes; of a larger one, each write alone, all but
// each one, and 32 drawn at random (fixed seed). Stops at the first failure. Returns
// how many images were checked.
inline int ForEachCrash(const std::string& start, const std::vector<std::vector<JournalIo::Record>>& epochs,
                        const std::function<void(const std::string&)>& check) {
  std::string image = start;
  auto apply = [](std::string& bytes, const JournalIo::Record& w) {
    std::copy(w.bytes.begin(), w.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(w.offset));
  };
  std::mt19937 random(7);
  int cases = 0;
  for (std::size_t e = 0; e < epochs.size(); ++e) {
    const auto& writes = epochs[e];
    std::vector<std::vector<bool>> subsets;
    if (writes.size() <= 6) {
      for (std::uint32_t mask = 0; mask < (1u << writes.size()); ++mask) {
        std::vector<bool> keep(writes.size());
        for (std::size_t i = 0; i < writes.size(); ++i) keep[i] = ((mask >> i) & 1) != 0;
        subsets.push_back(keep);
      }
    } else {
      for (std::size_t i = 0; i < writes.size(); ++i) {
        std::vector<bool> one(writes.size(), false);
        one[i] = true;
        subsets.push_back(one);
        std::vector<bool> allBut(writes.size(), true);
        allBut[i] = false;
        subsets.push_back(allBut);
      }
      for (int k = 0; k < 32; ++k) {
        std::vector<bool> keep(writes.size());
        for (std::size_t i = 0; i < writes.size(); ++i) keep[i] = (random() & 1) != 0;
        subsets.push_back(keep);
      }
    }
    for (std::size_t s = 0; s < subsets.size(); ++s) {
      SCOPED_TRACE("epoch " + std::to_string(e) + " of " + std::to_string(epochs.size()) + ", subset " + std::to_string(s));
      std::string crashed = image;
      for (std::size_t i = 0; i < writes.size(); ++i) {
        if (subsets[s][i]) apply(crashed, writes[i]);
      }
      check(crashed);
      ++cases;
      if (testing::Test::HasFailure()) return cases;
    }
    for (const auto& w : writes) apply(image, w);
  }
  return cases;
}

}  // namespace exfattest
