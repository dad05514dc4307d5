// Volume map parsing and the per-letter router.
#include "platform/volume_map.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool IsAbsolute(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

std::string FolderOf(const std::string& file) {
  const auto cut = file.find_last_of("/\\");
  return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

char UpperLetter(char letter) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

// A Windows device path: \\.\E:, \\?\Volume{...}, \\.\PhysicalDrive1 (either slash).
// Such a device is a volume Windows has mounted, or a disk holding them; the providers'
// own writes beneath a mounted file system would corrupt it.
bool IsDevicePath(std::string_view path) {
  const auto slash = [](char c) { return c == '\\' || c == '/'; };
  return path.size() >= 4 && slash(path[0]) && slash(path[1]) && (path[2] == '.' || path[2] == '?') &&
         slash(path[3]);
}

// Drive letter at the start of a Windows path ("C:\..."), or 0.
char LetterOfPath(const char* path) {
  if (path == nullptr || path[0] == 0 || path[1] != ':') return 0;
  return UpperLetter(path[0]);
}

}  // namespace

std::vector<VolumeMapEntry> ParseVolumeMap(std::string_view text, const std::string& baseFolder,
                                           std::vector<std::string>* warnings) {
  std::vector<VolumeMapEntry> entries;
  bool inVolumes = false;
  std::size_t pos = 0;
  int lineNumber = 0;
  const auto warn = [&](const std::string& what) {
    if (warnings != nullptr) warnings->push_back("line " + std::to_string(lineNumber) + ": " + what);
  };
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNumber;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      inVolumes = line.size() >= 2 && line.back() == ']' &&
                  Trim(line.substr(1, line.size() - 2)) == "volumes";
      continue;
    }
    if (!inVolumes) continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
      warn("\"" + std::string(line) + "\" has no \"=\" (LETTER=PATH); passed over");
      continue;
    }
    std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (key.size() == 2 && key[1] == ':') key.remove_suffix(1);
    const char letter = key.size() == 1 ? UpperLetter(key[0]) : 0;
    if (letter < 'C' || letter > 'Z') {
      warn("\"" + std::string(Trim(line.substr(0, eq))) + "\" is not a drive letter from C to Z; passed over");
      continue;
    }
    if (value.empty()) {
      warn(std::string("no path for ") + letter + ": (LETTER=PATH); passed over");
      continue;
    }
    if (IsDevicePath(value)) {
      warn(std::string(1, letter) + ": names a device path (" + std::string(value) +
           "); writing beneath a mounted file system is refused; passed over");
      continue;
    }
    std::string path(value);
    if (!IsAbsolute(path)) path = baseFolder + path;
    bool replaced = false;
    for (auto& e : entries) {
      if (e.letter == letter) {
        e.path = path;
        replaced = true;
      }
    }
    if (!replaced) entries.push_back({letter, path});
  }
  return entries;
}

std::vector<VolumeMapEntry> LoadVolumeMap(const std::string& workingFolder, std::vector<std::string>* warnings) {
  std::string file;
  const char* env = std::getenv("VEXA_VOLUMES");
  const bool named = env != nullptr && env[0] != 0;
  file = named ? std::string(env) : workingFolder + "volumes.ini";
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    // Without a map beside the engine there are simply no mapped letters; a file the
    // user named is meant to be there.
    if (named && warnings != nullptr) warnings->push_back("VEXA_VOLUMES names " + file + ", which cannot be read");
    return {};
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::string> lineWarnings;
  std::vector<VolumeMapEntry> entries = ParseVolumeMap(text.str(), FolderOf(file), &lineWarnings);
  if (warnings != nullptr) {
    for (const std::string& warning : lineWarnings) warnings->push_back(file + " " + warning);
  }
  return entries;
}

// ---------------------------------------------------------------------------

struct RoutedMachine::Impl {
  std::unique_ptr<Machine> fallback;
  std::unique_ptr<Machine> routes[26];

  struct Slot {
    Machine* owner = nullptr;  // null: free
    Handle inner = kInvalidHandle;
  };
  std::mutex lock;
  std::vector<Slot> handles;
  std::vector<std::size_t> freeSlots;

  Machine* For(char letter) {
    const char up = UpperLetter(letter);
    if (up >= 'A' && up <= 'Z' && routes[up - 'A']) return routes[up - 'A'].get();
    return fallback.get();
  }

  Machine* ForPath(const char* path) {
    const char letter = LetterOfPath(path);
    return letter != 0 ? For(letter) : fallback.get();
  }

  Handle Wrap(Machine* owner, Handle inner) {
    if (inner == kInvalidHandle) return kInvalidHandle;
    std::lock_guard<std::mutex> guard(lock);
    std::size_t index;
    if (!freeSlots.empty()) {
      index = freeSlots.back();
      freeSlots.pop_back();
    } else {
      index = handles.size();
      handles.emplace_back();
    }
    handles[index] = {owner, inner};
    return static_cast<Handle>(index + 1);
  }

  Slot Find(Handle outer) {
    std::lock_guard<std::mutex> guard(lock);
    if (outer == 0 || outer == kInvalidHandle || outer > handles.size()) return {};
    return handles[outer - 1];
  }

  Slot Release(Handle outer) {
    std::lock_guard<std::mutex> guard(lock);
    if (outer == 0 || outer == kInvalidHandle || outer > handles.size()) return {};
    Slot slot = handles[outer - 1];
    if (slot.owner != nullptr) {
      handles[outer - 1] = {};
      freeSlots.push_back(outer - 1);
    }
    return slot;
  }
};

RoutedMachine::RoutedMachine(std::unique_ptr<Machine> fallback) : impl_(std::make_unique<Impl>()) {
  impl_->fallback = std::move(fallback);
}

RoutedMachine::~RoutedMachine() = default;

void RoutedMachine::Route(char letter, std::unique_ptr<Machine> provider) {
  const char up = UpperLetter(letter);
  if (up < 'A' || up > 'Z') return;
  impl_->routes[up - 'A'] = std::move(provider);
}

std::uint32_t RoutedMachine::DriveType(char letter) { return impl_->For(letter)->DriveType(letter); }

bool RoutedMachine::VolumeInformation(char letter, char* label, std::uint32_t labelSize,
                                      char* fileSystem, std::uint32_t fileSystemSize) {
  return impl_->For(letter)->VolumeInformation(letter, label, labelSize, fileSystem, fileSystemSize);
}

bool RoutedMachine::VolumeSerialNumber(char letter, std::uint32_t* serial) {
  return impl_->For(letter)->VolumeSerialNumber(letter, serial);
}

bool RoutedMachine::FreeSpace(char letter, DiskFreeSpace* out) {
  return impl_->For(letter)->FreeSpace(letter, out);
}

Handle RoutedMachine::OpenVolume(char letter) {
  Machine* owner = impl_->For(letter);
  return impl_->Wrap(owner, owner->OpenVolume(letter));
}

Handle RoutedMachine::OpenFileForQuery(const char* path) {
  Machine* owner = impl_->ForPath(path);
  return impl_->Wrap(owner, owner->OpenFileForQuery(path));
}

Handle RoutedMachine::OpenFileWithDataAccess(const char* path) {
  Machine* owner = impl_->ForPath(path);
  return impl_->Wrap(owner, owner->OpenFileWithDataAccess(path));
}

std::uint32_t RoutedMachine::IsVolumeDirty(Handle volume, bool* dirty) {
  *dirty = false;
  const auto slot = impl_->Find(volume);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->IsVolumeDirty(slot.inner, dirty);
}

std::uint32_t RoutedMachine::SeekPenalty(Handle volume, bool* incursSeekPenalty) {
  *incursSeekPenalty = true;
  const auto slot = impl_->Find(volume);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->SeekPenalty(slot.inner, incursSeekPenalty);
}

std::uint32_t RoutedMachine::IsVolumeMounted(Handle volume) {
  const auto slot = impl_->Find(volume);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->IsVolumeMounted(slot.inner);
}

std::uint32_t RoutedMachine::GetVolumeBitmap(Handle volume, std::int64_t startingLcn,
                                             VOLUME_BITMAP_BUFFER* out, std::uint32_t outSize) {
  const auto slot = impl_->Find(volume);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->GetVolumeBitmap(slot.inner, startingLcn, out, outSize);
}

std::uint32_t RoutedMachine::GetRetrievalPointers(Handle file, std::int64_t startingVcn,
                                                  RETRIEVAL_POINTERS_BUFFER* out,
                                                  std::uint32_t outSize) {
  const auto slot = impl_->Find(file);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->GetRetrievalPointers(slot.inner, startingVcn, out, outSize);
}

std::uint32_t RoutedMachine::MoveFile(Handle volume, const MOVE_FILE_DATA& move) {
  const auto vol = impl_->Find(volume);
  const auto file = impl_->Find(move.FileHandle);
  if (vol.owner == nullptr || file.owner == nullptr) return kErrorInvalidHandle;
  if (vol.owner != file.owner) return kErrorInvalidParameter;
  MOVE_FILE_DATA inner = move;
  inner.FileHandle = file.inner;
  return vol.owner->MoveFile(vol.inner, inner);
}

std::uint32_t RoutedMachine::FileSize(Handle file, std::uint64_t* size) {
  const auto slot = impl_->Find(file);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->FileSize(slot.inner, size);
}

Handle RoutedMachine::FindFirst(const char* pattern, WIN32_FIND_DATAA* data) {
  Machine* owner = impl_->ForPath(pattern);
  return impl_->Wrap(owner, owner->FindFirst(pattern, data));
}

bool RoutedMachine::FindNext(Handle search, WIN32_FIND_DATAA* data) {
  const auto slot = impl_->Find(search);
  return slot.owner != nullptr && slot.owner->FindNext(slot.inner, data);
}

void RoutedMachine::FindClose(Handle search) {
  const auto slot = impl_->Release(search);
  if (slot.owner != nullptr) slot.owner->FindClose(slot.inner);
}

std::uint32_t RoutedMachine::FlushFileBuffers(Handle volume) {
  const auto slot = impl_->Find(volume);
  if (slot.owner == nullptr) return kErrorInvalidHandle;
  return slot.owner->FlushFileBuffers(slot.inner);
}

void RoutedMachine::CloseHandle(Handle handle) {
  const auto slot = impl_->Release(handle);
  if (slot.owner != nullptr) slot.owner->CloseHandle(slot.inner);
}

std::uint32_t RoutedMachine::CreateFileInRuns(const char* path, const NewFileData& file) {
  return impl_->ForPath(path)->CreateFileInRuns(path, file);
}

const char* RoutedMachine::UnmovableReason(Handle file) {
  const auto slot = impl_->Find(file);
  return slot.owner == nullptr ? nullptr : slot.owner->UnmovableReason(slot.inner);
}

}  // namespace platform
