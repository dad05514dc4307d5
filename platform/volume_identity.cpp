// The parts of volume identity every system shares: overlap of byte ranges and the texts
// that name shared bytes and their users.
#include "platform/volume_identity.h"

#include <algorithm>
#include <string>

namespace platform {
namespace {

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDevicePath(const std::string& path) { return path.rfind("/dev/", 0) == 0; }

void AddOnce(std::vector<std::string>* list, const std::string& text) {
  if (!text.empty() && std::find(list->begin(), list->end(), text) == list->end()) list->push_back(text);
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

}  // namespace

bool SameBytes(const VolumeIdentity& a, const VolumeIdentity& b) {
  using Kind = VolumeIdentity::Kind;
  if (a.kind == Kind::kUnknown || a.kind != b.kind || a.major != b.major || a.minor != b.minor) return false;
  if (a.kind == Kind::kFile && a.inode != b.inode) return false;
  return a.start < b.end && b.start < a.end;
}

std::string SameVolumeName(const std::string& pathA, const std::string& pathB, const VolumeIdentity& identity) {
  std::vector<std::string> files;
  std::vector<std::string> devices;
  for (const std::string* path : {&pathA, &pathB}) {
    if (IsDevicePath(*path)) {
      AddOnce(&devices, *path);
    } else {
      AddOnce(&files, *path);
    }
  }
  if (files.empty() && identity.kind == VolumeIdentity::Kind::kFile) AddOnce(&files, identity.file);
  // Short names read best; two links to one file in different folders need the folders.
  std::vector<std::string> shown;
  for (const std::string& file : files) AddOnce(&shown, BaseName(file));
  if (shown.size() != files.size()) shown = files;
  const std::string held = Join(shown, " and ");
  if (devices.empty()) return held;
  if (held.empty()) return Join(devices, " and ");
  return held + " through " + Join(devices, " and ");
}

std::string VolumeUsersText(const std::vector<VolumeUser>& users) {
  std::vector<std::string> parts;
  for (const VolumeUser& user : users) {
    switch (user.kind) {
      case VolumeUser::Kind::kLoop:
        AddOnce(&parts, "attached to " + user.device);
        break;
      case VolumeUser::Kind::kMount:
        AddOnce(&parts, "mounted at " + user.mountPoint + (user.device.empty() ? "" : " (" + user.device + ")"));
        break;
      case VolumeUser::Kind::kHolder:
        AddOnce(&parts, "held by " + user.holder + " (" + user.device + ")");
        break;
      case VolumeUser::Kind::kProcess:
        AddOnce(&parts, "open in " + user.holder + " (pid " + std::to_string(user.pid) + ")");
        break;
    }
  }
  return Join(parts, ", ");
}

std::string VolumeReleaseText(const std::vector<VolumeUser>& users) {
  // What sits on top goes first: mounts, then stacked devices, then loop devices.
  std::vector<std::string> steps;
  for (const VolumeUser& user : users) {
    if (user.kind == VolumeUser::Kind::kMount) AddOnce(&steps, "umount " + user.mountPoint);
  }
  for (const VolumeUser& user : users) {
    if (user.kind == VolumeUser::Kind::kProcess) {
      AddOnce(&steps, "end " + user.holder + " (pid " + std::to_string(user.pid) + ") or its mount");
    }
  }
  for (const VolumeUser& user : users) {
    if (user.kind == VolumeUser::Kind::kHolder) AddOnce(&steps, "remove " + user.holder);
  }
  for (const VolumeUser& user : users) {
    if (user.kind == VolumeUser::Kind::kLoop) AddOnce(&steps, "losetup -d " + user.device);
  }
  return Join(steps, ", then ");
}

}  // namespace platform
