// Volume identity on Linux, read from /sys (block devices, partitions, loop devices and
// their holders) and /proc/self/mountinfo (mounts, FUSE mounts of a file included).
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/volume_identity.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSectorBytes = 512;  // /sys gives sizes and starts in 512-byte units
constexpr std::uint64_t kUnknownEnd = UINT64_MAX;
// A loop device may sit on a partition, itself perhaps on another loop device.
constexpr int kMaxStackDepth = 4;

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
  return line;
}

bool ReadNumber(const fs::path& file, std::uint64_t* value) {
  const std::string text = FirstLine(file);
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::stoull(text);
  return true;
}

bool ParseDeviceNumber(const std::string& text, std::uint32_t* major, std::uint32_t* minor) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  const std::string a = text.substr(0, colon);
  const std::string b = text.substr(colon + 1);
  if (a.find_first_not_of("0123456789") != std::string::npos || b.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *major = static_cast<std::uint32_t>(std::stoul(a));
  *minor = static_cast<std::uint32_t>(std::stoul(b));
  return true;
}

// The kernel escapes space, tab, newline and backslash in mountinfo as \ooo.
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s.substr(i + 1, 3).find_first_not_of("01234567") == std::string::npos) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 3), nullptr, 8));
      i += 3;
      continue;
    }
    out += s[i];
  }
  return out;
}

VolumeIdentity OfFile(const struct stat& st, const std::string& path) {
  VolumeIdentity id;
  id.kind = VolumeIdentity::Kind::kFile;
  id.major = ::major(st.st_dev);
  id.minor = ::minor(st.st_dev);
  id.inode = st.st_ino;
  id.start = 0;
  id.end = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : kUnknownEnd;
  id.file = path;
  return id;
}

VolumeIdentity OfBlockDevice(std::uint32_t major, std::uint32_t minor, const SystemRoots& roots, int depth);

VolumeIdentity OfPath(const std::string& path, const SystemRoots& roots, int depth) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (S_ISREG(st.st_mode)) return OfFile(st, path);
  if (S_ISBLK(st.st_mode)) return OfBlockDevice(::major(st.st_rdev), ::minor(st.st_rdev), roots, depth);
  return {};
}

VolumeIdentity OfBlockDevice(std::uint32_t major, std::uint32_t minor, const SystemRoots& roots, int depth) {
  std::error_code code;
  const fs::path node =
      fs::canonical(fs::path(roots.sys) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor)), code);
  if (code) return {};
  const bool partition = fs::exists(node / "partition", code);
  const fs::path disk = partition ? node.parent_path() : node;
  std::uint64_t sectors = 0;
  if (!ReadNumber(node / "size", &sectors)) return {};
  std::uint64_t start = 0;  // of the partition within its disk, in bytes
  if (partition) {
    std::uint64_t first = 0;
    if (!ReadNumber(node / "start", &first)) return {};
    start = first * kSectorBytes;
  }
  const std::uint64_t length = sectors * kSectorBytes;
  const std::string diskPath = roots.dev + disk.filename().string();

  const std::string backing = FirstLine(disk / "loop" / "backing_file");
  if (!backing.empty() && depth < kMaxStackDepth) {
    std::uint64_t offset = 0;
    if (!ReadNumber(disk / "loop" / "offset", &offset)) offset = 0;
    VolumeIdentity held = OfPath(backing, roots, depth + 1);
    // A backing file deleted since it was attached ("... (deleted)") is reached through
    // this device alone: the device itself is then the identity.
    if (held.kind != VolumeIdentity::Kind::kUnknown) {
      // The device shows `length` bytes from `offset` (its size already bounds it by
      // the sizelimit and the file's end).
      held.start += offset + start;
      held.end = held.start + length;
      held.disk = diskPath;
      if (held.kind == VolumeIdentity::Kind::kFile) held.file = backing;
      return held;
    }
  }

  std::uint32_t diskMajor = major;
  std::uint32_t diskMinor = minor;
  if (partition && !ParseDeviceNumber(FirstLine(disk / "dev"), &diskMajor, &diskMinor)) return {};
  VolumeIdentity id;
  id.kind = VolumeIdentity::Kind::kDisk;
  id.major = diskMajor;
  id.minor = diskMinor;
  id.start = start;
  id.end = start + length;
  id.disk = diskPath;
  return id;
}

VolumeIdentity OfDeviceFolder(const fs::path& folder, const SystemRoots& roots) {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  if (!ParseDeviceNumber(FirstLine(folder / "dev"), &major, &minor)) return {};
  return OfBlockDevice(major, minor, roots, 0);
}

// The entries of `folder` in name order, so the users are always told in one order.
std::vector<fs::path> SortedEntries(const fs::path& folder) {
  std::vector<fs::path> entries;
  std::error_code code;
  for (const auto& entry : fs::directory_iterator(folder, code)) entries.push_back(entry.path());
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool HasEntries(const fs::path& folder) {
  std::error_code code;
  fs::directory_iterator it(folder, code);
  return !code && it != fs::directory_iterator();
}

void AddHolders(const fs::path& folder, const VolumeIdentity& volume, const SystemRoots& roots,
                std::vector<VolumeUser>* users) {
  if (!HasEntries(folder / "holders") || !SameBytes(OfDeviceFolder(folder, roots), volume)) return;
  std::error_code code;
  for (const auto& holder : fs::directory_iterator(folder / "holders", code)) {
    VolumeUser user;
    user.kind = VolumeUser::Kind::kHolder;
    user.device = roots.dev + folder.filename().string();
    user.holder = holder.path().filename().string();
    users->push_back(user);
  }
}

// True when `program` is the file `own` (stat of `ownPath`) or a copy of it: another
// installation of this very program takes the same locks.
bool SameProgram(const fs::path& program, const struct stat& own, const fs::path& ownPath) {
  struct stat st {};
  if (::stat(program.c_str(), &st) != 0) return false;
  if (st.st_dev == own.st_dev && st.st_ino == own.st_ino) return true;
  if (st.st_size != own.st_size) return false;
  std::ifstream a(program, std::ios::binary);
  std::ifstream b(ownPath, std::ios::binary);
  if (!a || !b) return false;
  std::vector<char> left(1 << 16);
  std::vector<char> right(1 << 16);
  while (a && b) {
    a.read(left.data(), static_cast<std::streamsize>(left.size()));
    b.read(right.data(), static_cast<std::streamsize>(right.size()));
    if (a.gcount() != b.gcount() ||
        !std::equal(left.begin(), left.begin() + a.gcount(), right.begin())) {
      return false;
    }
  }
  return a.eof() && b.eof();
}

// Other processes with the image file, or a device on its bytes, open. Processes that
// cannot be looked into (another user's, for an unprivileged caller) are passed over, and
// so are other copies of this program (this very file, or a copy of it installed
// elsewhere): they take the volume's lock before they write, and between their checks
// they hold it open only for a moment, so the lock (not this list) decides which of two
// copies goes on.
void AddProcesses(const VolumeIdentity& volume, const SystemRoots& roots, std::vector<VolumeUser>* users) {
  const std::string self = std::to_string(::getpid());
  struct stat ownProgram {};
  const bool ownKnown = ::stat((fs::path(roots.proc) / "self" / "exe").c_str(), &ownProgram) == 0;
  for (const fs::path& process : SortedEntries(roots.proc)) {
    const std::string pid = process.filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    bool uses = false;
    for (const fs::path& fd : SortedEntries(process / "fd")) {
      struct stat st {};
      if (::stat(fd.c_str(), &st) != 0) continue;
      VolumeIdentity opened;
      if (S_ISREG(st.st_mode) && volume.kind == VolumeIdentity::Kind::kFile) {
        opened = OfFile(st, fd.string());
      } else if (S_ISBLK(st.st_mode)) {
        opened = OfBlockDevice(::major(st.st_rdev), ::minor(st.st_rdev), roots, 0);
      }
      if (SameBytes(opened, volume)) {
        uses = true;
        break;
      }
    }
    if (!uses || (ownKnown && SameProgram(process / "exe", ownProgram, fs::path(roots.proc) / "self" / "exe"))) {
      continue;
    }
    VolumeUser user;
    user.kind = VolumeUser::Kind::kProcess;
    user.holder = FirstLine(process / "comm");
    user.pid = static_cast<std::uint32_t>(std::stoul(pid));
    users->push_back(user);
  }
}

}  // namespace

VolumeIdentity IdentifyVolume(const std::string& path, const SystemRoots& roots) { return OfPath(path, roots, 0); }

VolumeIdentity IdentifyBlockDevice(std::uint32_t major, std::uint32_t minor, const SystemRoots& roots) {
  return OfBlockDevice(major, minor, roots, 0);
}

std::vector<VolumeUser> VolumeUsers(const VolumeIdentity& volume, const SystemRoots& roots) {
  std::vector<VolumeUser> users;
  if (volume.kind == VolumeIdentity::Kind::kUnknown) return users;
  for (const fs::path& disk : SortedEntries(fs::path(roots.sys) / "block")) {
    const std::string device = roots.dev + disk.filename().string();
    // Loop devices other than the volume's own, attached to its bytes: free now, they
    // can be mounted at any moment.
    if (device != volume.disk && !FirstLine(disk / "loop" / "backing_file").empty() &&
        SameBytes(OfDeviceFolder(disk, roots), volume)) {
      VolumeUser user;
      user.kind = VolumeUser::Kind::kLoop;
      user.device = device;
      users.push_back(user);
    }
    AddHolders(disk, volume, roots, &users);
    for (const fs::path& part : SortedEntries(disk)) {
      std::error_code exists;
      if (fs::exists(part / "partition", exists)) AddHolders(part, volume, roots, &users);
    }
  }

  std::ifstream mountinfo(roots.mountinfo);
  std::string line;
  while (std::getline(mountinfo, line)) {
    // id parent major:minor root mount-point options [optional fields] - type source options
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;) fields.push_back(field);
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (fields.size() < 5 || dash + 2 >= fields.size()) continue;
    const std::string source = Unescape(fields[dash + 2]);
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    VolumeIdentity mounted;
    // Block-device file systems name their device; FUSE and other anonymous devices
    // (major 0) are known by the source they were given, a device or a file.
    if (ParseDeviceNumber(fields[2], &major, &minor) && major != 0) mounted = OfBlockDevice(major, minor, roots, 0);
    if (mounted.kind == VolumeIdentity::Kind::kUnknown && !source.empty() && source[0] == '/') {
      mounted = OfPath(source, roots, 0);
    }
    if (!SameBytes(mounted, volume)) continue;
    VolumeUser user;
    user.kind = VolumeUser::Kind::kMount;
    user.mountPoint = Unescape(fields[4]);
    // A device is named; a file mounted through FUSE is the volume itself.
    if (source.rfind(roots.dev, 0) == 0) user.device = source;
    users.push_back(user);
  }
  AddProcesses(volume, roots, &users);
  return users;
}

}  // namespace platform
