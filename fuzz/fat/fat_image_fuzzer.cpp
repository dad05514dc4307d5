// libFuzzer target for the FAT provider: opens an arbitrary image, walks every folder,
// reads every file's extents and size and the volume bitmap, then performs one move,
// all on an in-memory copy of the input.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fat_io.h"
#include "../read_extents.h"
#include "platform/fat_provider.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::fat::FatOpenStatus status;
  auto machine = platform::fat::OpenFatVolume(
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
  // One move: the first file with clusters, into the first free run that holds it.
  if (!first.path.empty()) {
    std::int64_t run = 0;
    std::int64_t target = -1;
    for (std::int64_t c = 0; c < b->BitmapSize && target < 0; ++c) {
      run = ((b->Buffer[c / 8] >> (c % 8)) & 1) != 0 ? 0 : run + 1;
      if (run == first.clusters) target = c - run + 1;
    }
    const Handle file = machine->OpenFileForQuery(first.path.c_str());
    if (target >= 0 && file != kInvalidHandle) {
      platform::MOVE_FILE_DATA move{file, 0, target, static_cast<std::uint32_t>(first.clusters)};
      const std::uint32_t rc = machine->MoveFile(volume, move);
      if (rc == platform::kErrorSuccess && status != platform::fat::FatOpenStatus::kOk) __builtin_trap();
    }
    machine->CloseHandle(file);
  }
  machine->CloseHandle(volume);
  return 0;
}
