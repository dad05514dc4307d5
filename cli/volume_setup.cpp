// The run's volume map and the checks before the engine loads.
#include "volume_setup.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/fat_provider.h"
#include "platform/library.h"
#include "platform/volume_identity.h"

namespace cli {
namespace {

// An image file without any write permission bit: its owner protected it.
bool WriteProtected(const std::string& path) {
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (code || !std::filesystem::is_regular_file(status)) return false;
  using std::filesystem::perms;
  return (status.permissions() & (perms::owner_write | perms::group_write | perms::others_write)) == perms::none;
}

}  // namespace

std::vector<platform::VolumeMapEntry> CombinedVolumeMap(const std::string& engineFolder,
                                                        const std::vector<VolumeOption>& overrides,
                                                        std::vector<std::string>* warnings) {
  std::vector<platform::VolumeMapEntry> map = platform::LoadVolumeMap(engineFolder, warnings);
  for (const VolumeOption& option : overrides) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(option.path, error);
    const std::string path = error ? option.path : absolute.string();
    bool replaced = false;
    for (auto& entry : map) {
      if (entry.letter == option.letter) {
        entry.path = path;
        replaced = true;
      }
    }
    if (!replaced) map.push_back({option.letter, path});
  }
  return map;
}

bool MapServes(const std::vector<platform::VolumeMapEntry>& map, char letter) {
  for (const auto& entry : map) {
    if (entry.letter == letter) return true;
  }
  return false;
}

void CheckMappedVolumes(const std::vector<platform::VolumeMapEntry>& map, const std::string& letters,
                        bool needWritable, std::vector<VolumeProblem>* problems, std::vector<std::string>* notes,
                        const std::string& engineFolder) {
  platform::fat::ClaimOptions claims;
  claims.folder = engineFolder;
  using platform::fat::FatOpenStatus;
  // A volume is known by the bytes that hold it: two letters on one image or device,
  // by whatever paths, would each move clusters the other thinks it knows, and even an
  // analysis of one would read the other's half-made moves.
  std::vector<platform::VolumeIdentity> identities(map.size());
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (letters.find(map[i].letter) != std::string::npos) identities[i] = platform::IdentifyVolume(map[i].path);
  }
  std::string refusedTwice;  // letters already refused as one of a pair
  for (std::size_t i = 0; i < map.size(); ++i) {
    for (std::size_t j = 0; j < map.size(); ++j) {
      const auto& a = map[i];
      const auto& b = map[j];
      if (a.letter >= b.letter || letters.find(a.letter) == std::string::npos ||
          letters.find(b.letter) == std::string::npos) {
        continue;
      }
      std::error_code code;
      const bool samePath = a.path == b.path || std::filesystem::equivalent(a.path, b.path, code);
      if (!samePath && !platform::SameBytes(identities[i], identities[j])) continue;
      const std::string text = std::string(1, a.letter) + " and " + b.letter + " are the same volume (" +
                               platform::SameVolumeName(a.path, b.path, identities[i]) + ")";
      problems->push_back({a.letter, text});
      problems->push_back({b.letter, text});
      refusedTwice += a.letter;
      refusedTwice += b.letter;
    }
  }
  for (char letter : letters) {
    for (std::size_t i = 0; i < map.size(); ++i) {
      const auto& entry = map[i];
      if (entry.letter != letter || refusedTwice.find(letter) != std::string::npos) continue;
      // Loop devices and mounts elsewhere on these bytes: a write job would change the
      // file system under them (and they under it); an analysis may read figures that
      // change while it runs.
      const std::vector<platform::VolumeUser> users = platform::VolumeUsers(identities[i]);
      if (users.empty()) continue;
      const std::string volume = std::string("volume ") + letter + ": (" + entry.path + ") is in use elsewhere: ";
      const bool onlyProcesses = std::all_of(users.begin(), users.end(), [](const platform::VolumeUser& user) {
        return user.kind == platform::VolumeUser::Kind::kProcess;
      });
      if (onlyProcesses) {
        // Another process of ours holds the volume's lock: told as such by the open below.
        FatOpenStatus status = FatOpenStatus::kOk;
        platform::fat::FatDamage damage;
        if (platform::fat::OpenFatVolume(letter, entry.path, &status, &damage) == nullptr &&
            status == FatOpenStatus::kInUse) {
          continue;
        }
      }
      if (needWritable) {
        problems->push_back({letter, volume + platform::VolumeUsersText(users) + "; release it first: " +
                                         platform::VolumeReleaseText(users)});
      } else {
        notes->push_back(volume + platform::VolumeUsersText(users) + "; the figures may change while they are read");
      }
    }
  }
  const auto refused = [&](char letter) {
    for (const VolumeProblem& problem : *problems) {
      if (problem.letter == letter) return true;
    }
    return false;
  };
  for (char letter : letters) {
    for (const auto& entry : map) {
      // Nothing is opened (nor read) of a volume already refused.
      if (entry.letter != letter || refused(letter)) continue;
      FatOpenStatus status = FatOpenStatus::kOk;
      platform::fat::FatDamage damage;
      // Opened and closed at once: the engine opens it again when it loads.
      const bool opened = platform::fat::OpenFatVolume(letter, entry.path, &status, &damage, &claims) != nullptr;
      const std::string volume = std::string("volume ") + letter + ": (" + entry.path + ")";
      if (status == FatOpenStatus::kFolder || status == FatOpenStatus::kNotImageFile) {
        problems->push_back({letter, volume + " " + platform::fat::FatOpenStatusText(status)});
        continue;
      }
      std::string why = platform::fat::FatOpenStatusText(status);
      if (status == FatOpenStatus::kMounted) why += "; unmount it first";
      if (status == FatOpenStatus::kReadOnlyInconsistent) {
        const std::string found = platform::fat::FatDamageText(damage);
        why = "file system is inconsistent";
        if (!found.empty()) why += ": " + found;
        why += "; run fsck.fat on it first; opened read-only";
      }
      if (status == FatOpenStatus::kReadOnlyExfatInconsistent) {
        const std::string found = platform::fat::FatDamageText(damage);
        why = "exFAT file system is inconsistent";
        if (!found.empty()) why += ": " + found;
        why += "; run fsck.exfat on it first; opened read-only";
      }
      if (status == FatOpenStatus::kReadOnlyNoWriteAccess && WriteProtected(entry.path)) {
        why = "the image file is write-protected (it has no write permission); opened read-only";
      }
      if (!opened) {
        problems->push_back({letter, volume + " cannot be opened: " + why});
      } else if (status != FatOpenStatus::kOk && needWritable) {
        problems->push_back({letter, volume + " cannot be defragmented: " + why});
      } else if (status != FatOpenStatus::kOk) {
        notes->push_back(volume + ": " + why + "; analysis only");
      }
    }
  }
}

bool EngineFolderWritable(const std::string& folder, std::string* why) {
  const std::string shown = folder.empty() ? std::string(".") : folder;
  std::error_code code;
  std::random_device device;
  const std::filesystem::path probe = folder + ".vexa-write-test-" + std::to_string(device());
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    if (!out) {
      *why = "the engine's folder " + shown + " is not writable: reports and state cannot be saved";
      return false;
    }
  }
  std::filesystem::remove(probe, code);
  // Files the engine rewrites in place: one it may not write would be left stale.
  for (const char* name : {"diskdata", "defragdate", "Setting", "analysisreport.html", "defragreport.html",
                           "analysisreporttop.html", "defragreporttop.html", "FileList.txt"}) {
    const std::filesystem::path file = folder + name;
    if (!std::filesystem::exists(file, code)) continue;
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) {
      *why = "the engine's file " + file.string() + " is not writable: reports and state cannot be saved";
      return false;
    }
  }
  return true;
}

TemporaryVolumeMap::~TemporaryVolumeMap() { Remove(); }

bool TemporaryVolumeMap::Install(const std::vector<platform::VolumeMapEntry>& map, std::string* error) {
  Remove();
  std::error_code code;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(code);
  if (code) {
    *error = "no temporary folder for the volume map: " + code.message();
    return false;
  }
  std::random_device device;
  const std::uint64_t tag = (std::uint64_t{device()} << 32) | device();
  const std::filesystem::path file = folder / ("vexa-volumes-" + std::to_string(tag) + ".ini");
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "; volume map of one vexa run\n[volumes]\n";
    for (const auto& entry : map) out << entry.letter << '=' << entry.path << '\n';
    out.close();
    if (!out) {
      *error = "cannot write the volume map " + file.string();
      std::filesystem::remove(file, code);
      return false;
    }
  }
  path_ = file.string();
  if (!platform::SetProcessEnvironment("VEXA_VOLUMES", path_.c_str())) {
    *error = "cannot set VEXA_VOLUMES";
    Remove();
    return false;
  }
  return true;
}

void TemporaryVolumeMap::Remove() {
  if (path_.empty()) return;
  std::error_code code;
  std::filesystem::remove(path_, code);
  path_.clear();
}

}  // namespace cli
