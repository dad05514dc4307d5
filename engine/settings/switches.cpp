// The live switches and reading and writing their bytes in "Setting".
#include "settings/switches.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace vexa {
namespace {

constexpr int kSwitchCount = 4;

std::atomic<std::int32_t> gSwitches[kSwitchCount];
// Whether a switch was set to another value since the last load.
std::atomic<bool> gSwitchesChanged{false};

std::atomic<std::int32_t>& Live(Switch which) { return gSwitches[static_cast<int>(which)]; }

bool WriteSwitchBytes(std::FILE* file) {
  unsigned char bytes[kSwitchCount];
  for (int i = 0; i < kSwitchCount; ++i) {
    bytes[i] = static_cast<unsigned char>(gSwitches[i].load(std::memory_order_relaxed) & 0xFF);
  }
  // Seeking past the end of a shorter file and writing there fills the gap with zeros.
  if (std::fseek(file, kSettingSwitchOffset, SEEK_SET) != 0) return false;
  return std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
}

}  // namespace

void LoadSwitches(const std::string& workingFolder) noexcept {
  for (auto& value : gSwitches) value.store(0, std::memory_order_relaxed);
  gSwitchesChanged.store(false, std::memory_order_relaxed);
  try {
    const std::string path = workingFolder + kSettingFileName;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return;
    if (std::fseek(file, kSettingSwitchOffset, SEEK_SET) == 0) {
      for (auto& value : gSwitches) {
        const int byte = std::fgetc(file);
        if (byte == EOF) break;
        value.store(byte, std::memory_order_relaxed);
      }
    }
    std::fclose(file);
  } catch (...) {
    // Only the path could not be formed: the switches stay off.
  }
}

bool SaveSwitches(const std::string& workingFolder) noexcept {
  try {
    const std::string path = workingFolder + kSettingFileName;
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) {
      // Create the file only when it is truly missing: a file that exists but cannot be
      // opened for writing is not ours to replace.
      if (errno != ENOENT) return false;
      file = std::fopen(path.c_str(), "wb");
      if (file == nullptr) return false;
      const unsigned char zeros[kSettingFileSize] = {};
      if (std::fwrite(zeros, 1, sizeof zeros, file) != sizeof zeros) {
        std::fclose(file);
        return false;
      }
    }
    bool ok = WriteSwitchBytes(file);
    ok = std::fclose(file) == 0 && ok;
    return ok;
  } catch (...) {
    return false;
  }
}

std::int32_t GetSwitch(Switch which) noexcept { return Live(which).load(std::memory_order_relaxed); }

void SetSwitch(Switch which, std::int32_t value) noexcept {
  if (Live(which).exchange(value, std::memory_order_relaxed) != value) {
    gSwitchesChanged.store(true, std::memory_order_relaxed);
  }
}

bool SaveChangedSwitches(const std::string& workingFolder) noexcept {
  try {
    if (!gSwitchesChanged.load(std::memory_order_relaxed)) {
      if (std::FILE* file = std::fopen((workingFolder + kSettingFileName).c_str(), "rb")) {
        std::fclose(file);
        return true;
      }
    }
  } catch (...) {
    return false;
  }
  return SaveSwitches(workingFolder);
}

}  // namespace vexa
