// What holds a volume's bytes, so one volume reached by two paths is known as one, and
// what else on this machine uses those bytes (loop devices, mounts, stacked devices).
//
// A volume is known by the bytes that hold it: an image file by its (device, inode) and
// the whole file; a loop device, or a partition of one, by its backing file and the byte
// range it shows of it; a disk or a partition by the whole disk's device number and the
// byte range. Two paths name one volume when these ranges overlap. On Linux the answers
// come from /sys and /proc/self/mountinfo (both can be moved under a test's fake tree);
// elsewhere nothing is known and every answer is "unknown" or "no users".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Where the system tables are read. Tests point these at a tree of their own.
struct SystemRoots {
  std::string sys = "/sys";
  std::string mountinfo = "/proc/self/mountinfo";
  // Where each process's open files are listed (PID/fd/N, PID/comm).
  std::string proc = "/proc";
  // Prefixed to a block device's name to form the path shown to the user.
  std::string dev = "/dev/";
};

struct VolumeIdentity {
  enum class Kind { kUnknown, kFile, kDisk };
  Kind kind = Kind::kUnknown;
  // kFile: st_dev of the file; kDisk: the whole disk's device number (major:minor).
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint64_t inode = 0;  // kFile only
  // The bytes of the file or disk the volume occupies: [start, end). An end not known
  // (a file whose size cannot be read) is UINT64_MAX.
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  // The file holding the bytes, as the system names it (kFile), else empty.
  std::string file;
  // The whole disk's device path (kDisk, or a loop device in front of a kFile), else
  // empty: "/dev/loop3" for /dev/loop3p1.
  std::string disk;
};

// True when `a` and `b` are known and share at least one byte of the same file or disk.
bool SameBytes(const VolumeIdentity& a, const VolumeIdentity& b);

// The identity of the image file or block device at `path`; kUnknown when it cannot be
// told (no such path, not a file or block device, or no /sys). Any thread.
VolumeIdentity IdentifyVolume(const std::string& path, const SystemRoots& roots = {});

// The identity of the block device with number major:minor, as IdentifyVolume.
VolumeIdentity IdentifyBlockDevice(std::uint32_t major, std::uint32_t minor, const SystemRoots& roots = {});

// Something else that uses a volume's bytes.
struct VolumeUser {
  enum class Kind { kLoop, kMount, kHolder, kProcess };
  Kind kind = Kind::kLoop;
  std::string device;      // the device in front of the bytes ("/dev/loop3"); empty for a mount of the file itself
  std::string mountPoint;  // kMount: where it is mounted
  std::string holder;      // kHolder: the device stacked on it ("dm-0"); kProcess: the program's name
  std::uint32_t pid = 0;   // kProcess: the process that has the image or device open
};

// Everything on this machine that uses bytes of `volume`, apart from `volume`'s own
// disk: loop devices attached to them (mounted or not), mounts whose source reaches them
// (kernel and FUSE mounts, of a device or of the file itself), devices stacked on a disk
// or partition that holds them, and other processes that have a path to them open (a
// FUSE driver whose mount does not name its source among them). Empty for a kUnknown
// volume. Any thread.
std::vector<VolumeUser> VolumeUsers(const VolumeIdentity& volume, const SystemRoots& roots = {});

// "a.img through /dev/loop3": how the shared bytes of two paths are named in a refusal.
// `pathA` and `pathB` are the paths as mapped; `identity` is either one's identity.
std::string SameVolumeName(const std::string& pathA, const std::string& pathB, const VolumeIdentity& identity);

// "attached to /dev/loop3, mounted at /mnt/card (/dev/loop3)": the users of a volume.
std::string VolumeUsersText(const std::vector<VolumeUser>& users);

// "umount /mnt/card, then losetup -d /dev/loop3": the commands that release a volume
// from `users`, in the order they must run.
std::string VolumeReleaseText(const std::vector<VolumeUser>& users);

}  // namespace platform
