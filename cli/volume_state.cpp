// Reclaiming what interrupted jobs of ours left, and counting lost space.
#include "volume_state.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "command_line.h"
#include "platform/fat_provider.h"

namespace cli {

std::string TwoDecimalSize(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  int unit = 0;
  double value = static_cast<double>(bytes) / 1024;
  while (unit < 3 && value >= 1024) {
    value /= 1024;
    ++unit;
  }
  char text[48];
  std::snprintf(text, sizeof text, "%.2f %s", value, kUnits[unit]);
  return text;
}

namespace {

// Where the image file at `path` is in use by the system: attached to a loop device or
// the source of a mount (FUSE mounts of a file included); empty when it is not, or on
// systems without such places. A reclaim writes the volume, so it never runs then.
std::string ImageInUse(const std::string& path) {
#ifndef _WIN32
  struct stat image {};
  if (::stat(path.c_str(), &image) != 0 || !S_ISREG(image.st_mode)) return std::string();
  auto same = [&](const std::string& other) {
    struct stat st {};
    return ::stat(other.c_str(), &st) == 0 && st.st_dev == image.st_dev && st.st_ino == image.st_ino;
  };
  std::error_code code;
  for (std::filesystem::directory_iterator it("/sys/block", code), end; !code && it != end; it.increment(code)) {
    std::ifstream backing(it->path() / "loop" / "backing_file");
    std::string file;
    if (backing && std::getline(backing, file) && same(file)) return "attached to /dev/" + it->path().filename().string();
  }
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    std::istringstream head(line);
    std::string id, parent, device, root, point;
    head >> id >> parent >> device >> root >> point;
    if (!source.empty() && source[0] == '/' && same(source)) return "mounted on " + point;
  }
#else
  (void)path;
#endif
  return std::string();
}

}  // namespace

void ReclaimInterruptedJobs(const std::vector<platform::VolumeMapEntry>& map, const std::string& letters,
                            const std::string& engineFolder, std::vector<std::string>* lines,
                            std::vector<std::string>* problems) {
  // Most runs find no record at all: then no volume needs opening for it.
  bool anyRecord = false;
  std::error_code code;
  for (std::filesystem::directory_iterator it(engineFolder.empty() ? "." : engineFolder, code), end;
       !code && it != end && !anyRecord; it.increment(code)) {
    anyRecord = it->path().filename().string().rfind("claims-", 0) == 0;
  }
  if (!anyRecord) return;
  for (char letter : letters) {
    for (const auto& entry : map) {
      if (entry.letter != letter) continue;
      // The checks that follow refuse an image in use; the reclaim must not write it first.
      if (!ImageInUse(entry.path).empty()) continue;
      platform::fat::ClaimOptions claims;
      claims.folder = engineFolder;
      claims.reclaim = true;
      platform::fat::ReclaimResult result;
      platform::fat::FatDamage damage;
      platform::fat::FatOpenStatus status = platform::fat::FatOpenStatus::kOk;
      // Opened, given back and closed: the engine opens the volume again when it loads.
      (void)platform::fat::OpenFatVolume(letter, entry.path, &status, &damage, &claims, &result);
      if (!result.interrupted) continue;
      if (result.done && result.freedBytes == 0) {
        lines->push_back(std::string(1, letter) + ": cleared the dirty mark of an interrupted job (it left no space to "
                                                  "give back)");
      } else if (result.done) {
        lines->push_back(std::string(1, letter) + ": reclaimed " + TwoDecimalSize(result.freedBytes) +
                         " left by an interrupted job");
      } else {
        problems->push_back(std::string("volume ") + letter + ": (" + entry.path +
                            ") an interrupted job left space to give back, but it could not be given back: " +
                            platform::fat::FatOpenStatusText(status));
      }
    }
  }
}

LostSpace LostSpaceOf(const std::string& path, const std::string& engineFolder) {
  LostSpace lost;
  platform::fat::ClaimOptions claims;
  claims.folder = engineFolder;
  platform::fat::ReclaimResult result;
  platform::fat::FatDamage damage;
  platform::fat::FatOpenStatus status = platform::fat::FatOpenStatus::kOk;
  auto machine = platform::fat::OpenFatVolume('C', path, &status, &damage, &claims, &result);
  if (machine == nullptr) return lost;
  platform::DiskFreeSpace space{};
  char label[64] = {};
  char name[16] = {};
  if (!machine->FreeSpace('C', &space) || !machine->VolumeInformation('C', label, sizeof label, name, sizeof name)) {
    return lost;
  }
  lost.known = true;
  lost.exfat = std::strcmp(name, "exFAT") == 0;
  lost.ours = result.interrupted;
  lost.clusters = damage.lostClusters;
  lost.bytes = lost.clusters * space.sectorsPerCluster * space.bytesPerSector;
  return lost;
}

std::string LostSpaceLine(char letter, const LostSpace& lost) {
  if (!lost.known || lost.clusters == 0) return std::string();
  std::string line = std::string(1, letter) + ": " + std::to_string(lost.clusters) +
                     (lost.clusters == 1 ? " cluster (" : " clusters (") + TwoDecimalSize(lost.bytes) +
                     (lost.clusters == 1 ? ") is" : ") are") + " marked in use but owned by no file or folder; ";
  if (lost.ours) return line + "an interrupted job of this program left them: the next defrag, optimize, contig or "
                              "put gives them back";
  if (!lost.exfat) return line + "run fsck.fat -a on the volume to free them";
  return line + "this program did not claim them, and fsck.exfat does not free them: the space stays unusable";
}

}  // namespace cli
