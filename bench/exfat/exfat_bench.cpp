// Benchmark of the exFAT provider on a 1 GiB image made by mkfs.exfat and filled through
// exfat-fuse on a loop device: 2,000 small files in 20 folders and one 256 MiB file.
//
// Analysis: open the image, walk every folder, read every file's extents, as the
// engine's analysis does; beside it, `fsck.exfat -n` on the same image. Moves: the
// 256 MiB file moved whole with FSCTL_MOVE_FILE semantics, its group committed and the
// job's writes flushed; beside it, a plain copy of the same bytes within the same file
// system (read, write, fsync). Each figure is the best of three runs with a warm page
// cache. Needs root (loop device, FUSE).
// Usage: exfat_bench [work folder]   (default /tmp; needs about 1.3 GB free, sparse)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/fat_provider.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::Handle;
using platform::kInvalidHandle;

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;
constexpr std::uint64_t kBigFileBytes = 256u << 20;
constexpr std::uint64_t kClusterBytes = 4096;

double BestOf3(const std::function<void()>& run) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

bool MakeImage(const std::string& image, const std::string& mount) {
  std::filesystem::remove(image);
  if (Shell("truncate -s 1G '" + image + "' && mkfs.exfat -c 4096 -L BENCH '" + image + "' > /dev/null") != 0) return false;
  std::filesystem::create_directories(mount);
  const std::string device = image + ".device";
  if (Shell("losetup -f --show '" + image + "' > '" + device + "'") != 0) return false;
  std::string name;
  std::getline(std::ifstream(device), name);
  std::filesystem::remove(device);
  bool ok = Shell("mount.exfat-fuse '" + name + "' '" + mount + "' > /dev/null") == 0;
  if (ok) {
    std::mt19937 gen(42);
    for (int f = 0; f < kFolders && ok; ++f) {
      const std::string folder = mount + "/Folder " + std::to_string(f);
      std::filesystem::create_directories(folder);
      for (int i = 0; i < kFilesPerFolder; ++i) {
        std::ofstream(folder + "/file " + std::to_string(i) + ".dat", std::ios::binary)
            << std::string(4096 + gen() % (60 * 1024), static_cast<char>('a' + i % 26));
      }
    }
    std::ofstream big(mount + "/big.bin", std::ios::binary);
    const std::string block(1 << 20, 'B');
    for (std::uint64_t done = 0; done < kBigFileBytes; done += block.size()) big << block;
    big.close();
    ok = Shell("umount '" + mount + "'") == 0;
  }
  for (int i = 0; i < 50; ++i) {
    if (Shell("losetup -d '" + name + "' 2> /dev/null") == 0) return ok;
    ::usleep(100000);
  }
  return false;
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

// Moves big.bin whole to the far end of the volume and back; returns the seconds of the
// first move, its commit and the job's flush, or 0 on failure. *offset receives the
// file's byte offset in the image.
double MoveBigFile(const std::string& image, std::uint64_t* offset) {
  platform::fat::FatOpenStatus status;
  auto m = platform::fat::OpenFatVolume('C', image, &status);
  if (m == nullptr) return 0;
  const Handle v = m->OpenVolume('C');
  Handle f = m->OpenFileForQuery("C:\\big.bin");
  std::vector<std::uint8_t> buffer(64);
  auto* r = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  if (m->GetRetrievalPointers(f, 0, r, static_cast<std::uint32_t>(buffer.size())) != platform::kErrorSuccess) return 0;
  const std::int64_t from = r->Extents[0].Lcn;
  const std::int64_t count = r->Extents[0].NextVcn;
  platform::DiskFreeSpace space{};
  (void)m->FreeSpace('C', &space);
  *offset = 0;
  {
    // The cluster heap's offset, from the boot sector.
    unsigned char boot[512];
    const int fd = ::open(image.c_str(), O_RDONLY);
    if (fd >= 0 && ::pread(fd, boot, sizeof boot, 0) == static_cast<ssize_t>(sizeof boot)) {
      const std::uint64_t heap = boot[88] | (boot[89] << 8) | (boot[90] << 16) | (std::uint64_t{boot[91]} << 24);
      *offset = (heap << boot[108]) + static_cast<std::uint64_t>(from) * kClusterBytes;
    }
    if (fd >= 0) ::close(fd);
  }
  const std::int64_t far = space.totalClusters - count - 1;
  const auto start = Clock::now();
  std::uint32_t rc = m->MoveFile(v, {f, 0, far, static_cast<std::uint32_t>(count)});
  m->CloseHandle(f);
  if (m->FlushFileBuffers(v) != platform::kErrorSuccess) rc = platform::kErrorWriteFault;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f = m->OpenFileForQuery("C:\\big.bin");
  (void)m->MoveFile(v, {f, 0, from, static_cast<std::uint32_t>(count)});
  m->CloseHandle(f);
  (void)m->FlushFileBuffers(v);
  m->CloseHandle(v);
  return rc == platform::kErrorSuccess ? seconds : 0;
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
  const std::string image = work + "/vexa_exfat_bench.img";
  const std::string copy = work + "/vexa_exfat_bench.copy";
  const std::string mount = work + "/vexa_exfat_bench.mnt";
  std::printf("building a 1 GiB exFAT image with %d files in %d folders and a 256 MiB file...\n",
              kFolders * kFilesPerFolder, kFolders);
  const auto buildStart = Clock::now();
  if (!MakeImage(image, mount)) {
    std::fprintf(stderr, "cannot build the image (mkfs.exfat, a loop device and exfat-fuse are needed)\n");
    return 1;
  }
  std::printf("  built in %.2f s\n", std::chrono::duration<double>(Clock::now() - buildStart).count());

  std::size_t files = 0;
  const double analysis = BestOf3([&] { files = Analyse(image); });
  const std::string fsck = "fsck.exfat -n '" + image + "' > /dev/null 2>&1";
  int fsckStatus = 0;
  const double checker = BestOf3([&] { fsckStatus = std::system(fsck.c_str()); });
  std::printf("analysis (open, walk, extents of %zu files): %8.3f s\n", files, analysis);
  std::printf("fsck.exfat -n on the same image (exit %d):    %8.3f s\n", fsckStatus / 256, checker);

  double move = 1e30;
  std::uint64_t from = 0;
  for (int i = 0; i < 3; ++i) {
    const double s = MoveBigFile(image, &from);
    if (s > 0) move = std::min(move, s);
  }
  const double plain = BestOf3([&] { PlainCopy(image, from, copy); });
  const double mib = kBigFileBytes / double(1 << 20);
  std::printf("move of a %.0f MiB file:   %8.1f MB/s (%.3f s)\n", mib, kBigFileBytes / move / 1e6, move);
  std::printf("plain copy, same bytes:   %8.1f MB/s (%.3f s)\n", kBigFileBytes / plain / 1e6, plain);
  std::printf("move / copy time:         %8.2f\n", move / plain);
  std::printf("fsck.exfat -n after the moves: exit %d\n", std::system(fsck.c_str()) / 256);
  std::remove(copy.c_str());
  std::remove(image.c_str());
  std::filesystem::remove(mount);
  return 0;
}
