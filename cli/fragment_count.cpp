// The fragment count: a folder walk and a retrieval-pointer query per file.
#include "fragment_count.h"

#include <cstring>
#include <memory>
#include <vector>

#include "platform/fat_provider.h"

namespace cli {
namespace {

constexpr char kLetter = 'C';

bool InMoreThanOnePiece(platform::Machine& machine, const std::string& file) {
  const platform::Handle handle = machine.OpenFileForQuery(file.c_str());
  if (handle == platform::kInvalidHandle) return false;
  // Room for two extents says whether there are more than one.
  std::vector<std::uint8_t> buffer(platform::kRetrievalHeaderSize + 2 * sizeof(platform::RETRIEVAL_POINTERS_EXTENT));
  auto* pointers = reinterpret_cast<platform::RETRIEVAL_POINTERS_BUFFER*>(buffer.data());
  const std::uint32_t result =
      machine.GetRetrievalPointers(handle, 0, pointers, static_cast<std::uint32_t>(buffer.size()));
  machine.CloseHandle(handle);
  if (result == platform::kErrorMoreData) return true;
  return result == platform::kErrorSuccess && pointers->ExtentCount > 1;
}

void Walk(platform::Machine& machine, const std::string& folder, FragmentCount* count) {
  platform::WIN32_FIND_DATAA data{};
  const platform::Handle search = machine.FindFirst((folder + "\\*").c_str(), &data);
  if (search == platform::kInvalidHandle) return;
  std::vector<std::string> subfolders;
  do {
    const std::string name(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & platform::kAttributeDirectory) {
      subfolders.push_back(folder + "\\" + name);
    } else {
      ++count->files;
      if (InMoreThanOnePiece(machine, folder + "\\" + name)) ++count->fragmented;
    }
  } while (machine.FindNext(search, &data));
  machine.FindClose(search);
  for (const std::string& sub : subfolders) Walk(machine, sub, count);
}

}  // namespace

bool CountFragmentedFiles(const std::string& path, FragmentCount* count, std::string* error) {
  platform::fat::FatOpenStatus status = platform::fat::FatOpenStatus::kOk;
  std::unique_ptr<platform::Machine> machine = platform::fat::OpenFatVolume(kLetter, path, &status);
  if (!machine) {
    *error = path + ": " + platform::fat::FatOpenStatusText(status);
    return false;
  }
  *count = FragmentCount{};
  Walk(*machine, std::string(1, kLetter) + ":", count);
  return true;
}

}  // namespace cli
