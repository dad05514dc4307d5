// The drives seam's shared part: mapped letters served from their images, the fake
// drives of tests, and the listing loop.
#include "platform/drives.h"

#include <map>

#include "platform/fat_provider.h"
#include "platform/volume_map.h"
#include "platform/win_types.h"
#include "platform/drives_native.h"

namespace platform {
namespace {

// The native drives with the mapped letters laid over them.
class MappedDrives final : public Drives {
 public:
  MappedDrives(std::unique_ptr<Drives> native, const std::string& workingFolder) : native_(std::move(native)) {
    for (const VolumeMapEntry& entry : LoadVolumeMap(workingFolder)) {
      std::unique_ptr<Machine> volume;
      if (auto io = OpenImageShared(entry.path)) {
        fat::FatOpenStatus status = fat::FatOpenStatus::kOk;
        volume = fat::OpenFatVolume(entry.letter, std::move(io), &status);
      }
      mapped_[entry.letter] = std::move(volume);  // null: the letter names no drive
    }
  }

  std::uint32_t LogicalDrives() override {
    std::uint32_t mask = native_->LogicalDrives();
    for (const auto& [letter, volume] : mapped_) {
      const std::uint32_t bit = 1u << (letter - 'A');
      mask = volume != nullptr ? (mask | bit) : (mask & ~bit);
    }
    return mask;
  }

  std::uint32_t DriveType(char letter) override {
    if (Machine* volume = Mapped(letter)) return volume->DriveType(letter);
    return IsMapped(letter) ? kDriveNoRootDir : native_->DriveType(letter);
  }

  bool VolumeInformation(char letter, std::string* label, std::string* fileSystem) override {
    label->clear();
    fileSystem->clear();
    if (!IsMapped(letter)) return native_->VolumeInformation(letter, label, fileSystem);
    Machine* volume = Mapped(letter);
    char labelText[261] = {};
    char systemText[261] = {};
    if (volume == nullptr || !volume->VolumeInformation(letter, labelText, sizeof labelText, systemText, sizeof systemText)) {
      return false;
    }
    *label = labelText;
    *fileSystem = systemText;
    return true;
  }

  bool FreeSpace(char letter, std::uint64_t* totalBytes, std::uint64_t* freeBytes) override {
    *totalBytes = 0;
    *freeBytes = 0;
    if (!IsMapped(letter)) return native_->FreeSpace(letter, totalBytes, freeBytes);
    Machine* volume = Mapped(letter);
    DiskFreeSpace space{};
    if (volume == nullptr || !volume->FreeSpace(letter, &space)) return false;
    const std::uint64_t cluster = std::uint64_t{space.sectorsPerCluster} * space.bytesPerSector;
    *totalBytes = cluster * space.totalClusters;
    *freeBytes = cluster * space.freeClusters;
    return true;
  }

 private:
  bool IsMapped(char letter) const { return mapped_.count(Upper(letter)) != 0; }
  Machine* Mapped(char letter) {
    const auto it = mapped_.find(Upper(letter));
    return it == mapped_.end() ? nullptr : it->second.get();
  }
  static char Upper(char letter) { return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 32) : letter; }

  std::unique_ptr<Drives> native_;
  std::map<char, std::unique_ptr<Machine>> mapped_;
};

class FakeDrives final : public Drives {
 public:
  explicit FakeDrives(std::vector<DriveFacts> drives) {
    for (DriveFacts& d : drives) drives_[d.letter] = std::move(d);
  }
  std::uint32_t LogicalDrives() override {
    std::uint32_t mask = 0;
    for (const auto& [letter, facts] : drives_) mask |= 1u << (letter - 'A');
    return mask;
  }
  std::uint32_t DriveType(char letter) override {
    const auto it = drives_.find(letter);
    return it == drives_.end() ? kDriveNoRootDir : it->second.type;
  }
  bool VolumeInformation(char letter, std::string* label, std::string* fileSystem) override {
    const auto it = drives_.find(letter);
    if (it == drives_.end() || it->second.fileSystem.empty()) {
      label->clear();
      fileSystem->clear();
      return false;
    }
    *label = it->second.label;
    *fileSystem = it->second.fileSystem;
    return true;
  }
  bool FreeSpace(char letter, std::uint64_t* totalBytes, std::uint64_t* freeBytes) override {
    const auto it = drives_.find(letter);
    *totalBytes = it == drives_.end() ? 0 : it->second.totalBytes;
    *freeBytes = it == drives_.end() ? 0 : it->second.freeBytes;
    return *totalBytes != 0;
  }

 private:
  std::map<char, DriveFacts> drives_;
};

}  // namespace

std::unique_ptr<Drives> CreateSystemDrives(const std::string& workingFolder) {
  return std::make_unique<MappedDrives>(CreateNativeDrives(), workingFolder);
}

std::unique_ptr<Drives> CreateFakeDrives(std::vector<DriveFacts> drives) {
  return std::make_unique<FakeDrives>(std::move(drives));
}

std::vector<DriveFacts> ListDrives(Drives& drives) {
  std::vector<DriveFacts> list;
  const std::uint32_t mask = drives.LogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    DriveFacts facts;
    facts.letter = static_cast<char>('A' + i);
    facts.type = drives.DriveType(facts.letter);
    if (!drives.VolumeInformation(facts.letter, &facts.label, &facts.fileSystem)) {
      facts.label.clear();
      facts.fileSystem.clear();
    }
    if (!drives.FreeSpace(facts.letter, &facts.totalBytes, &facts.freeBytes)) {
      facts.totalBytes = 0;
      facts.freeBytes = 0;
    }
    list.push_back(std::move(facts));
  }
  return list;
}

}  // namespace platform
