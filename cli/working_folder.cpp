// The engine's working folder for a build tree, a Windows installation and a Linux
// installation (see working_folder.h).
#include "working_folder.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/library.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProductFolder = "tolvane-disk-defrag";

// Files of the data folder that hold the user's own settings: copied once, never
// refreshed, so an upgrade keeps what the user chose.
constexpr std::array<const char*, 2> kUserSettingFiles = {"preset.ini", "Setting"};

bool IsUserSetting(const std::string& name) {
  for (const char* setting : kUserSettingFiles) {
    if (name == setting) return true;
  }
  return false;
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return fs::is_regular_file(path, ignored);
}

bool SameContents(const fs::path& a, const fs::path& b) {
  std::error_code error;
  const auto sizeA = fs::file_size(a, error);
  if (error) return false;
  const auto sizeB = fs::file_size(b, error);
  if (error || sizeA != sizeB) return false;
  std::ifstream inA(a, std::ios::binary), inB(b, std::ios::binary);
  if (!inA || !inB) return false;
  std::array<char, 65536> bufferA{}, bufferB{};
  while (inA && inB) {
    inA.read(bufferA.data(), bufferA.size());
    inB.read(bufferB.data(), bufferB.size());
    if (inA.gcount() != inB.gcount()) return false;
    if (!std::equal(bufferA.begin(), bufferA.begin() + inA.gcount(), bufferB.begin())) return false;
  }
  return true;
}

std::string NotWritableText(const std::string& folder, const std::string& why) {
  return "the engine's folder " + folder + " is not writable: reports and state cannot be saved (" + why + ")";
}

// Copies `from` over `to` through a temporary file and a rename, so a program that
// already runs the old copy (another vexa of this user) keeps a whole file.
PreparedFolder ReplaceFile(const fs::path& from, const fs::path& to, std::string* error) {
  const fs::path temporary = to.string() + ".new";
  std::error_code code;
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, code);
  if (!code) fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, code);
  if (!code) fs::rename(temporary, to, code);
  if (!code) return PreparedFolder::kReady;
  const std::string why = code.message();
  fs::remove(temporary, code);
  // Which end failed: an installed file that cannot be read, or the user's folder.
  if (!std::ifstream(from, std::ios::binary)) {
    *error = "cannot read the installed file " + from.string() + " (" + why + ")";
    return PreparedFolder::kBrokenInstallation;
  }
  *error = NotWritableText(to.parent_path().string() + "/", "cannot write " + to.filename().string() + ": " + why);
  return PreparedFolder::kNotWritable;
}

}  // namespace

EngineLayout FindEngineLayout(const std::string& programFolder, const std::string& xdgDataHome,
                              const std::string& home) {
  EngineLayout layout;
  layout.engineFolder = programFolder;
  if (programFolder.empty() || Exists(programFolder + platform::kEngineLibraryName)) return layout;
  const std::string library = programFolder + "../" + kInstalledEngineFolder;
  if (!Exists(library + platform::kEngineLibraryName)) return layout;  // loading will say what is missing

  // XDG: a relative $XDG_DATA_HOME is invalid and is ignored.
  std::string dataHome;
  if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
    dataHome = xdgDataHome;
  } else if (!home.empty()) {
    dataHome = home + "/.local/share";
  } else {
    return layout;
  }
  if (dataHome.back() != '/') dataHome += '/';
  layout.engineFolder = dataHome + kProductFolder + "/";
  layout.installedLibrary = library;
  layout.installedData = programFolder + "../share/" + kProductFolder + "/";
  return layout;
}

PreparedFolder PrepareEngineFolder(const EngineLayout& layout, std::string* error) {
  if (layout.installedLibrary.empty()) return PreparedFolder::kReady;
  const fs::path folder(layout.engineFolder);
  std::error_code code;
  if (!fs::is_directory(folder, code)) {
    fs::create_directories(folder, code);
    if (code) {
      *error = NotWritableText(layout.engineFolder, code.message());
      return PreparedFolder::kNotWritable;
    }
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, code);
  }

  const fs::path library = fs::path(layout.installedLibrary) / platform::kEngineLibraryName;
  const fs::path libraryCopy = folder / platform::kEngineLibraryName;
  if (!SameContents(library, libraryCopy)) {
    if (const PreparedFolder copied = ReplaceFile(library, libraryCopy, error); copied != PreparedFolder::kReady) {
      return copied;
    }
  }

  for (fs::directory_iterator entry(layout.installedData, code), end; !code && entry != end; entry.increment(code)) {
    if (!entry->is_regular_file(code)) continue;
    const std::string name = entry->path().filename().string();
    const fs::path copy = folder / name;
    if (IsUserSetting(name) ? Exists(copy.string()) : SameContents(entry->path(), copy)) continue;
    if (const PreparedFolder copied = ReplaceFile(entry->path(), copy, error); copied != PreparedFolder::kReady) {
      return copied;
    }
  }
  if (code) {
    *error = "cannot read the installed data folder " + layout.installedData + ": " + code.message();
    return PreparedFolder::kBrokenInstallation;
  }
  return PreparedFolder::kReady;
}

}  // namespace cli
