// libFuzzer target for the exFAT provider: opens an arbitrary image as exFAT, walks
// every folder, reads every file's extents and size and the volume bitmap, then moves
// the first file with clusters whole and, when it has two or more, its tail alone, all
// on an in-memory copy of the input.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/exfat_provider.h"
#include "platform/fat_io.h"
#include "../read_extents.h"

namespace {

using platform::Handle;
using platform::kInvalidHandle;

using fuzz::FirstFile;
using fuzz::ReadExtents;

void Walk(platform::Machine& m, const std::string& folder, int depth, FirstFile* first) {
  if (depth > 200) __builtin_trap();  // the provider bounds folder depth itself
  platform::WIN32_FIND_DATAA data{};
  const Handle h = m.FindFirst((folder + "\\*").c_str(), &data);
  if (h == kInvalidHandle) return;
  do {
    if (std::memchr(data.cFileName, 0, sizeof data.cFileName) == nullptr) __builtin_trap();
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if ((data.dwFileAttributes & platform::kAttributeDirectory) != 0) {
      Walk(m, path, depth + 1, first);
    } else {
      ReadExtents(m, path, first);
    }
  } while (m.FindNext(h, &data));
  m.FindClose(h);
}

std::int64_t FreeRun(const platform::VOLUME_BITMAP_BUFFER* b, std::int64_t length) {
  std::int64_t run = 0;
  for (std::int64_t c = 0; c < b->BitmapSize; ++c) {
    run = ((b->Buffer[c / 8] >> (c % 8)) & 1) != 0 ? 0 : run + 1;
    if (run == length) return c - run + 1;
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::fat::FatOpenStatus status;
  auto machine = platform::exfat::OpenExfatVolume(
      'C', std::make_unique<platform::fat::MemoryFatIo>(std::vector<std::uint8_t>(data, data + size)), &status);
  if (machine == nullptr) return 0;
  FirstFile first;
  Walk(*machine, "C:", 0, &first);

  platform::DiskFreeSpace space{};
  if (!machine->FreeSpace('C', &space)) __builtin_trap();
  const Handle volume = machine->OpenVolume('C');
  std::vector<std::uint8_t> bitmap(platform::kVolumeBitmapHeaderSize + space.totalClusters / 8 + 8);
  auto* b = reinterpret_cast<platform::VOLUME_BITMAP_BUFFER*>(bitmap.data());
  if (machine->GetVolumeBitmap(volume, 0, b, static_cast<std::uint32_t>(bitmap.size())) != platform::kErrorSuccess) {
    __builtin_trap();
  }
  if (!first.path.empty()) {
    const Handle file = machine->OpenFileForQuery(first.path.c_str());
    const std::int64_t target = FreeRun(b, first.clusters);
    if (target >= 0 && file != kInvalidHandle) {
      platform::MOVE_FILE_DATA move{file, 0, target, static_cast<std::uint32_t>(first.clusters)};
      const std::uint32_t rc = machine->MoveFile(volume, move);
      if (rc == platform::kErrorSuccess && status != platform::fat::FatOpenStatus::kOk) __builtin_trap();
    }
    if (first.clusters >= 2 && file != kInvalidHandle &&
        machine->GetVolumeBitmap(volume, 0, b, static_cast<std::uint32_t>(bitmap.size())) == platform::kErrorSuccess) {
      const std::int64_t tail = FreeRun(b, 1);
      if (tail >= 0) (void)machine->MoveFile(volume, {file, first.clusters - 1, tail, 1});
    }
    machine->CloseHandle(file);
  }
  machine->CloseHandle(volume);
  return 0;
}
