// Building, saving and tearing down the volume table; "diskdata".
#include "core/volume_table.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/defrag_date.h"
#include "core/engine.h"

namespace vexa {

VolumeRecord gVolumes[kVolumeSlots];
int gVolumeCount = 0;

namespace {

constexpr std::size_t kDiskDataBlock = sizeof(VexaMapCell) * kMapCells;  // 24000 bytes

// Cell i of a little-endian diskdata block.
VexaMapCell CellFromBytes(const unsigned char* bytes) {
  std::int32_t f[6];
  for (int i = 0; i < 6; ++i) {
    const unsigned char* b = bytes + 4 * i;
    f[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                     (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24));
  }
  return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

void CellToBytes(const VexaMapCell& cell, unsigned char* bytes) {
  const std::int32_t f[6] = {cell.inUse,           cell.systemCount,     cell.reserved,
                             cell.fragmentedCount, cell.contiguousCount, cell.partlyCount};
  for (int i = 0; i < 6; ++i) {
    const auto v = static_cast<std::uint32_t>(f[i]);
    for (int j = 0; j < 4; ++j) bytes[4 * i + j] = static_cast<unsigned char>(v >> (8 * j));
  }
}

// Reads slot s's block; cells past the end of the file stay zero.
void LoadCells(std::FILE* diskdata, int s, ClusterMap& cells) {
  std::vector<unsigned char> block(kDiskDataBlock, 0);
  if (std::fseek(diskdata, static_cast<long>(s * kDiskDataBlock), SEEK_SET) == 0) {
    (void)std::fread(block.data(), 1, block.size(), diskdata);
  }
  for (int k = 0; k < kMapCells; ++k) cells.Set(k, CellFromBytes(block.data() + k * sizeof(VexaMapCell)));
}

void ResetRecord(VolumeRecord& v) {
  v.letterText.clear();
  v.volume = platform::kInvalidHandle;
  v.bytesPerCluster = 0;
  v.usedClusters = v.freeClusters = v.clustersPerCell = 0;
  v.fileSystem.clear();
  v.totalSizeText.clear();
  v.usedSizeText.clear();
  v.fragmentationText.clear();
  v.solidState = false;
  v.cells.reset();
  v.lists.reset();
}

}  // namespace

int SlotOfLetter(char letter) {
  const int up = std::toupper(static_cast<unsigned char>(letter));
  return (up >= 'C' && up <= 'Z') ? up - 'C' : 0;
}

VolumeRecord* OpenVolumeOfSlot(int s) {
  if (s < 0 || s >= kVolumeSlots || !gVolumes[s].IsOpen()) return nullptr;
  return &gVolumes[s];
}

std::string SizeText(std::uint64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%lf GB", static_cast<double>(bytes) / 1073741824.0);
  std::string s = text;
  const auto dot = s.find('.');
  if (dot != std::string::npos && dot + 2 <= s.size()) s.resize(dot + 2);
  return s + " GB";
}

void LoadVolumeTable() {
  for (auto& v : gVolumes) ResetRecord(v);
  gVolumeCount = 0;
  const std::string diskdataName = WorkingFile("diskdata");
  (void)EnsureZeroFile(diskdataName, kDiskDataBlock * kVolumeSlots);
  (void)EnsureZeroFile(WorkingFile(kDefragDateFileName), kDefragDateRecordSize * kVolumeSlots);
  (void)EnsureZeroFile(WorkingFile(kDefragVolumeFileName), kDefragVolumeRecordSize * kVolumeSlots);
  (void)EnsureZeroFile(WorkingFile(kDefragPrintFileName), kDefragPrintRecordSize * kVolumeSlots);
  // Closed on every way out, a failure of a volume included.
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> diskdataFile(std::fopen(diskdataName.c_str(), "rb"),
                                                                     &std::fclose);
  std::FILE* diskdata = diskdataFile.get();

  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if (gMachine->DriveType(letter) != platform::kDriveFixed) continue;
    const int s = SlotOfLetter(letter);
    VolumeRecord& v = gVolumes[s];
    char label[260] = {};
    char fileSystem[261] = {};
    platform::DiskFreeSpace space{};
    // A root that does not answer reports nothing: zero figures, no name.
    if (!gMachine->VolumeInformation(letter, label, sizeof label, fileSystem, sizeof fileSystem)) fileSystem[0] = 0;
    if (!gMachine->FreeSpace(letter, &space)) space = {};
    const std::uint64_t clusterBytes = std::uint64_t{space.sectorsPerCluster} * space.bytesPerSector;
    const std::uint64_t usedClusters =
        space.totalClusters >= space.freeClusters ? space.totalClusters - space.freeClusters : 0;
    v.totalSizeText = SizeText(clusterBytes * space.totalClusters);
    v.usedSizeText = SizeText(usedClusters * clusterBytes);
    v.usedClusters = usedClusters;
    v.fileSystem = fileSystem;
    v.bytesPerCluster = static_cast<std::uint32_t>(clusterBytes);
    if (!v.cells) {
      v.freeClusters = space.freeClusters;
      v.cells = std::make_unique<ClusterMap>();
      v.lists = std::make_unique<CellFileLists>();
      if (diskdata != nullptr) LoadCells(diskdata, s, *v.cells);
      v.letterText = std::string(1, letter);
      v.volume = gMachine->OpenVolume(letter);
      if (v.volume != platform::kInvalidHandle) {
        std::int64_t totalClusters = 0;
        if (ReadBitmap(*gMachine, v.volume, gBitmapBuffer, &totalClusters)) {
          v.clustersPerCell = ClustersPerCell(static_cast<std::uint64_t>(totalClusters));
          // A disk that cannot say counts as one with a seek penalty.
          bool seekPenalty = true;
          v.solidState = gMachine->SeekPenalty(v.volume, &seekPenalty) == platform::kErrorSuccess && !seekPenalty;
        } else {
          gMachine->CloseHandle(v.volume);
          v.volume = platform::kInvalidHandle;
          v.letterText.clear();
        }
      }
    }
    ++gVolumeCount;
  }
}

bool SaveVolumeMaps() {
  if (gVolumeCount == 0) return true;
  std::FILE* diskdata = std::fopen(WorkingFile("diskdata").c_str(), "r+b");
  if (diskdata == nullptr) return false;
  bool written = true;
  std::vector<unsigned char> block(kDiskDataBlock);
  for (int s = 0; s < kVolumeSlots; ++s) {
    if (!gVolumes[s].cells) continue;
    for (int k = 0; k < kMapCells; ++k) CellToBytes(gVolumes[s].cells->Get(k), block.data() + k * sizeof(VexaMapCell));
    written = written && std::fseek(diskdata, static_cast<long>(s * kDiskDataBlock), SEEK_SET) == 0 &&
              std::fwrite(block.data(), 1, block.size(), diskdata) == block.size();
  }
  return std::fclose(diskdata) == 0 && written;
}

void SaveAndCloseVolumeTable() {
  (void)SaveVolumeMaps();
  for (auto& v : gVolumes) {
    if (v.IsOpen()) gMachine->CloseHandle(v.volume);
    ResetRecord(v);
  }
  gVolumeCount = 0;
}

void DropVolumeTable() {
  for (auto& v : gVolumes) {
    if (v.IsOpen() && gMachine != nullptr) gMachine->CloseHandle(v.volume);
    ResetRecord(v);
  }
  gVolumeCount = 0;
}

}  // namespace vexa
