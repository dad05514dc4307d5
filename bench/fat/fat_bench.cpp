// Benchmark of the FAT provider on a 2 GiB FAT32 image with 20,000 files in 200 folders.
//
// Analysis: open the image, walk every folder, read every file's extents, as the
// engine's analysis does; beside it, `fsck.fat -n` on the same image. Moves: one
// 256 MiB file moved with FSCTL_MOVE_FILE semantics; beside it, a plain copy of the
// same bytes within the same file system (read, write, fsync). Each figure is the best
// of three runs with a warm page cache.
// Usage: fat_bench [work folder]   (default /tmp; needs about 2.5 GB free, sparse)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/fat_image_builder.h"
#include "platform/fat_provider.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Handle;
using platform::kInvalidHandle;

constexpr std::uint64_t kImageBytes = 2ull << 30;
constexpr std::uint32_t kClusterBytes = 4096;
constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr std::uint32_t kBigFileBytes = 256u << 20;

double BestOf3(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// Files of 4 to 64 KiB; every fourth one in three pieces with a free cluster between.
bool MakeImage(const std::string& path) {
  std::string error;
  auto b = platform::fat::FatImageBuilder::Create({platform::fat::FatType::kFat32, kImageBytes, kClusterBytes, "BENCH"},
                                                  &error);
  if (b == nullptr) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  std::mt19937 gen(42);
  std::uint32_t cursor = 1000;  // folders go below, at the lowest free clusters
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = "Folder " + std::to_string(f);
    if (!b->AddFolder(folder)) return false;
    for (int i = 0; i < kFilesPerFolder; ++i) {
      const std::uint32_t size = 4096 + gen() % (60 * 1024);
      const std::uint32_t clusters = (size + kClusterBytes - 1) / kClusterBytes;
      std::vector<platform::fat::ClusterRun> runs;
      if (i % 4 == 0 && clusters >= 3) {
        const std::uint32_t a = clusters / 3;
        runs = {{cursor, a}, {cursor + a + 1, a}, {cursor + 2 * a + 2, clusters - 2 * a}};
        cursor += clusters + 3;
      } else {
        runs = {{cursor, clusters}};
        cursor += clusters;
      }
      std::string content(size, static_cast<char>('a' + i % 26));
      if (!b->AddFile(folder + "/file " + std::to_string(i) + ".dat", content, runs)) {
        std::fprintf(stderr, "%s\n", b->Error().c_str());
        return false;
      }
    }
  }
  std::string big(kBigFileBytes, 'B');
  if (!b->AddFile("big.bin", big, {{cursor + 16, kBigFileBytes / kClusterBytes}})) return false;
  if (!b->Save(path)) {
    std::fprintf(stderr, "%s\n", b->Error().c_str());
    return false;
  }
  return true;
}

std::size_t Analyse(const std::string& image) {
  platform::fat::FatOpenStatus status;
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  if (m == nullptr) return 0;
  std::size_t files = 0;
  std::vector<std::uint8_t> buffer(3232);
  std::function<void(const std::string&)> walk = [&](const std::string& folder) {
    platform::WIN32_FIND_DATAA data{};
    const Handle h = m->FindFirst((folder + "\\*").c_str(), &data);
    if (h == kInvalidHandle) return;
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if ((data.dwFileAttributes & platform::kAttributeDirectory) != 0) {
        walk(path);
        continue;
      }
      const Handle f = m->OpenFileForQuery(path.c_str());
      while (m->GetRetrievalPointers(f, 0, reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data()),
                                     static_cast<std::uint32_t>(buffer.size())) == platform::kErrorMoreData) {
        buffer.resize(buffer.size() + 3200);
      }
      m->CloseHandle(f);
      ++files;
    } while (m->FindNext(h, &data));
    m->FindClose(h);
  };
  walk("C:");
  return files;
}

double MoveBigFile(const std::string& image) {
  platform::fat::FatOpenStatus status;
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  const Handle v = m->OpenVolume('C');
  const Handle f = m->OpenFileForQuery("C:\\big.bin");
  std::vector<std::uint8_t> buffer(64);
  auto* r = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  if (m->GetRetrievalPointers(f, 0, r, static_cast<std::uint32_t>(buffer.size())) != platform::kErrorSuccess) return 0;
  const std::int64_t from = r->Extents[0].Lcn;
  const std::int64_t count = r->Extents[0].NextVcn;
  platform::DiskFreeSpace space{};
  (void)m->FreeSpace('C', &space);
  // Alternate between the far end of the volume and the original place.
  const std::int64_t far = space.totalClusters - count - 1;
  const auto start = Clock::now();
  const std::uint32_t rc = m->MoveFile(v, {f, 0, far, static_cast<std::uint32_t>(count)});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  (void)m->MoveFile(v, {f, 0, from, static_cast<std::uint32_t>(count)});
  m->CloseHandle(f);
  m->CloseHandle(v);
  return rc == platform::kErrorSuccess ? seconds : 0;
}

// Byte offset of big.bin's data in the image, from the BPB and its first extent.
std::uint64_t BigFileOffset(const std::string& image) {
  unsigned char boot[512];
  const int fd = ::open(image.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && ::pread(fd, boot, sizeof boot, 0) == static_cast<ssize_t>(sizeof boot);
  if (fd >= 0) ::close(fd);
  if (!ok) return 0;
  const std::uint64_t reserved = boot[14] | (boot[15] << 8);
  const std::uint64_t fatSectors = boot[36] | (boot[37] << 8) | (boot[38] << 16) | (std::uint64_t{boot[39]} << 24);
  platform::fat::FatOpenStatus status;
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  const Handle f = m->OpenFileForQuery("C:\\big.bin");
  std::vector<std::uint8_t> buffer(64);
  auto* r = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  const bool extents = m->GetRetrievalPointers(f, 0, r, static_cast<std::uint32_t>(buffer.size())) == 0;
  m->CloseHandle(f);
  return extents ? (reserved + 2 * fatSectors) * 512 + static_cast<std::uint64_t>(r->Extents[0].Lcn) * kClusterBytes : 0;
}

// Reads big.bin's bytes from the image and writes them to a new file beside it.
// Moves one cluster of big.bin back and forth `count` times: the fixed cost of a move
// (dirty mark, FAT writes, five flushes, clean mark). Returns seconds per move.
double SmallMoves(const std::string& image, int count) {
  platform::fat::FatOpenStatus status;
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  const Handle v = m->OpenVolume('C');
  const Handle f = m->OpenFileForQuery("C:\\big.bin");
  std::vector<std::uint8_t> buffer(64);
  auto* r = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  if (m->GetRetrievalPointers(f, 0, r, static_cast<std::uint32_t>(buffer.size())) != platform::kErrorSuccess) return 0;
  const std::int64_t home = r->Extents[0].Lcn + 100;
  platform::DiskFreeSpace space{};
  (void)m->FreeSpace('C', &space);
  const std::int64_t away = space.totalClusters - 10;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (m->MoveFile(v, {f, 100, i % 2 == 0 ? away : home, 1}) != platform::kErrorSuccess) return 0;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (count % 2 != 0) (void)m->MoveFile(v, {f, 100, home, 1});
  m->CloseHandle(f);
  m->CloseHandle(v);
  return seconds / count;
}

double PlainCopy(const std::string& image, std::uint64_t from, const std::string& target) {
  const int in = ::open(image.c_str(), O_RDONLY);
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> buffer(4u << 20);
  const auto start = Clock::now();
  for (std::uint64_t done = 0; done < kBigFileBytes; done += buffer.size()) {
    if (::pread(in, buffer.data(), buffer.size(), static_cast<off_t>(from + done)) < 0) break;
    if (::write(out, buffer.data(), buffer.size()) < 0) break;
  }
  ::fsync(out);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(in);
  ::close(out);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string work = argc > 1 ? argv[1] : "/tmp";
  const std::string image = work + "/vexa_fat_bench.img";
  const std::string copy = work + "/vexa_fat_bench.copy";
  std::printf("building a 2 GiB FAT32 image with %d files in %d folders...\n", kFolders * kFilesPerFolder, kFolders);
  const auto buildStart = Clock::now();
  if (!MakeImage(image)) return 1;
  std::printf("  built in %.2f s\n", std::chrono::duration<double>(Clock::now() - buildStart).count());

  std::size_t files = 0;
  const double analysis = BestOf3([&] { files = Analyse(image); });
  const std::string fsck = "fsck.fat -n '" + image + "' > /dev/null 2>&1";
  int fsckStatus = 0;
  const double checker = BestOf3([&] { fsckStatus = std::system(fsck.c_str()); });
  std::printf("analysis (open, walk, extents of %zu files): %8.3f s\n", files, analysis);
  std::printf("fsck.fat -n on the same image (exit %d):      %8.3f s\n", fsckStatus, checker);

  double move = 1e30;
  for (int i = 0; i < 3; ++i) {
    const double s = MoveBigFile(image);
    if (s > 0) move = std::min(move, s);
  }
  const std::uint64_t from = BigFileOffset(image);
  const double plain = BestOf3([&] { PlainCopy(image, from, copy); });
  const double mib = kBigFileBytes / double(1 << 20);
  std::printf("move of a %.0f MiB file:   %8.1f MB/s (%.3f s)\n", mib, kBigFileBytes / move / 1e6, move);
  std::printf("plain copy, same bytes:   %8.1f MB/s (%.3f s)\n", kBigFileBytes / plain / 1e6, plain);
  const double perMove = SmallMoves(image, 200);
  std::printf("one-cluster moves:        %8.2f ms per move (%.0f moves/s)\n", perMove * 1000, 1 / perMove);
  std::printf("fsck.fat -n after the moves: exit %d\n", std::system(fsck.c_str()) / 256);
  std::remove(copy.c_str());
  std::remove(image.c_str());
  return 0;
}
