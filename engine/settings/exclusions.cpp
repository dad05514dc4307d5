// The engine's exclusion lists and texts: loading at start-up, rewriting after the dialog.
#include "settings/exclusions.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace vexa {
namespace {

struct ExclusionState {
  std::mutex mutex;
  std::string workingFolder;
  ExclusionTexts texts;
  std::shared_ptr<const ExclusionLists> lists = std::make_shared<const ExclusionLists>(ExclusionLists::WithBuiltIns());
};

ExclusionState& State() {
  static ExclusionState state;
  return state;
}

void Publish(ExclusionLists lists) {
  auto published = std::make_shared<const ExclusionLists>(std::move(lists));
  ExclusionState& state = State();
  std::lock_guard lock(state.mutex);
  state.lists.swap(published);
  // The old set goes when `published` does, after the unlock; a walk still holding it
  // keeps it alive until the walk lets go.
}

// The whole content of a file, or false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& content) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[4096];
  bool ok = true;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    content.append(buffer, n);
    if (n < sizeof buffer) {
      ok = std::ferror(file) == 0;
      break;
    }
  }
  std::fclose(file);
  return ok;
}

// Writes `bytes` to a fresh file beside `path` and then puts it in place of `path`, so
// a file that cannot be written leaves the previous one untouched.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
  const std::string temporary = path + ".new";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = std::fclose(file) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    // Windows does not rename over an existing file.
    std::remove(path.c_str());
    ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  }
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

}  // namespace

void LoadExclusions(const std::string& workingFolder) noexcept {
  try {
    ExclusionLists lists = ExclusionLists::WithBuiltIns();
    ExclusionTexts texts;
    std::string content;
    if (ReadWholeFile(workingFolder + kPresetFileName, content)) texts = ParsePreset(content, lists);
    {
      ExclusionState& state = State();
      std::lock_guard lock(state.mutex);
      state.workingFolder = workingFolder;
      state.texts = std::move(texts);
    }
    Publish(std::move(lists));
  } catch (...) {
    // Out of memory while reading: whatever was in force stays in force.
  }
}

bool RewriteExclusions() noexcept {
  try {
    ExclusionTexts texts;
    std::string folder;
    {
      ExclusionState& state = State();
      std::lock_guard lock(state.mutex);
      texts = state.texts;
      folder = state.workingFolder;
    }
    ExclusionLists lists = ExclusionLists::WithBuiltIns();
    const std::string bytes = FormatPreset(texts, lists);
    Publish(std::move(lists));
    return ReplaceFile(folder + kPresetFileName, bytes);
  } catch (...) {
    return false;
  }
}

std::shared_ptr<const ExclusionLists> CurrentExclusions() noexcept {
  ExclusionState& state = State();
  std::lock_guard lock(state.mutex);
  return state.lists;
}

ExclusionTexts GetExclusionTexts() {
  ExclusionState& state = State();
  std::lock_guard lock(state.mutex);
  return state.texts;
}

void SetExclusionTexts(const ExclusionTexts& texts) {
  ExclusionState& state = State();
  std::lock_guard lock(state.mutex);
  state.texts = texts;
}

}  // namespace vexa
