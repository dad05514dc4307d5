// Volume identity on a fake /sys tree and mountinfo: an image and the loop devices and
// partitions in front of it are one volume, and whatever else uses its bytes is named.
#ifndef _WIN32

#include "platform/volume_identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using vexa::test::TempDir;
using vexa::test::WriteFile;

constexpr std::uint64_t kMiB = 1 << 20;

// A machine of: a.img (8 MiB) on /dev/loop3 whole (partition loop3p1 from 1 MiB, 3 MiB
// long) and on /dev/loop4 from offset 5 MiB; b.img on /dev/loop5; a disk sda with sda1
// and sda2, the latter held by dm-0.
class FakeMachine {
 public:
  FakeMachine() {
    roots.sys = dir.File("sys");
    roots.mountinfo = dir.File("mountinfo");
    roots.proc = dir.File("proc");
    image = dir.File("a.img");
    other = dir.File("b.img");
    Sized(image, 8 * kMiB);
    Sized(other, 4 * kMiB);
    Disk("loop3", "7:3", 8 * kMiB);
    Loop("loop3", image, 0);
    Partition("loop3", "loop3p1", "259:0", 1 * kMiB, 3 * kMiB);
    Disk("loop4", "7:4", 3 * kMiB);
    Loop("loop4", image, 5 * kMiB);
    Disk("loop5", "7:5", 4 * kMiB);
    Loop("loop5", other, 0);
    Disk("sda", "8:0", 100 * kMiB);
    Partition("sda", "sda1", "8:1", 1 * kMiB, 49 * kMiB);
    Partition("sda", "sda2", "8:2", 50 * kMiB, 50 * kMiB);
    fs::create_directories(roots.sys + "/devices/pci/block/sda/sda2/holders/dm-0");
    WriteFile(roots.mountinfo, "");
    fs::create_directories(roots.proc);
  }

  // A process `pid` named `name` with `target` open.
  void Process(int pid, const std::string& name, const std::string& target) {
    const std::string folder = roots.proc + "/" + std::to_string(pid);
    fs::create_directories(folder + "/fd");
    WriteFile(folder + "/comm", name + "\n");
    fs::create_symlink(target, folder + "/fd/3");
  }

  void Mounts(const std::string& lines) { WriteFile(roots.mountinfo, lines); }

  TempDir dir;
  SystemRoots roots;
  std::string image;
  std::string other;

 private:
  static void Sized(const std::string& path, std::uint64_t size) {
    WriteFile(path, "");
    fs::resize_file(path, size);
  }
  std::string Folder(const std::string& disk) const {
    return roots.sys + (disk.rfind("loop", 0) == 0 ? "/devices/virtual/block/" : "/devices/pci/block/") + disk;
  }
  void Node(const std::string& folder, const std::string& number, std::uint64_t bytes) {
    fs::create_directories(folder + "/holders");
    WriteFile(folder + "/dev", number + "\n");
    WriteFile(folder + "/size", std::to_string(bytes / 512) + "\n");
    fs::create_directories(roots.sys + "/dev/block");
    fs::create_symlink(folder, roots.sys + "/dev/block/" + number);
  }
  void Disk(const std::string& name, const std::string& number, std::uint64_t bytes) {
    Node(Folder(name), number, bytes);
    fs::create_directories(roots.sys + "/block");
    fs::create_symlink(Folder(name), roots.sys + "/block/" + name);
  }
  void Loop(const std::string& name, const std::string& file, std::uint64_t offset) {
    fs::create_directories(Folder(name) + "/loop");
    WriteFile(Folder(name) + "/loop/backing_file", file + "\n");
    WriteFile(Folder(name) + "/loop/offset", std::to_string(offset) + "\n");
    WriteFile(Folder(name) + "/loop/sizelimit", "0\n");
  }
  void Partition(const std::string& disk, const std::string& name, const std::string& number, std::uint64_t start,
                 std::uint64_t bytes) {
    const std::string folder = Folder(disk) + "/" + name;
    Node(folder, number, bytes);
    WriteFile(folder + "/partition", "1\n");
    WriteFile(folder + "/start", std::to_string(start / 512) + "\n");
  }
};

TEST(VolumeIdentityTest, OneVolumeByEveryPathToItsBytesAndNoneBeyondThem) {
  FakeMachine m;
  const VolumeIdentity image = IdentifyVolume(m.image, m.roots);
  const VolumeIdentity loop3 = IdentifyBlockDevice(7, 3, m.roots);
  const VolumeIdentity loop3p1 = IdentifyBlockDevice(259, 0, m.roots);
  const VolumeIdentity loop4 = IdentifyBlockDevice(7, 4, m.roots);
  ASSERT_EQ(image.kind, VolumeIdentity::Kind::kFile);
  ASSERT_EQ(loop3p1.kind, VolumeIdentity::Kind::kFile);
  EXPECT_EQ(loop3p1.start, 1 * kMiB);
  EXPECT_EQ(loop3p1.end, 4 * kMiB);
  EXPECT_EQ(loop3p1.disk, "/dev/loop3");
  EXPECT_EQ(loop4.start, 5 * kMiB);
  EXPECT_TRUE(SameBytes(image, loop3));
  EXPECT_TRUE(SameBytes(image, loop3p1));
  EXPECT_TRUE(SameBytes(loop3, loop3p1));
  EXPECT_TRUE(SameBytes(image, loop4));
  // The partition ends where loop4's window begins: one file, no byte in common.
  EXPECT_FALSE(SameBytes(loop3p1, loop4));
  EXPECT_FALSE(SameBytes(image, IdentifyBlockDevice(7, 5, m.roots)));
  EXPECT_FALSE(SameBytes(image, IdentifyVolume(m.other, m.roots)));

  const std::string link = m.dir.File("link.img");
  ASSERT_EQ(::link(m.image.c_str(), link.c_str()), 0);
  EXPECT_TRUE(SameBytes(image, IdentifyVolume(link, m.roots)));

  const VolumeIdentity sda = IdentifyBlockDevice(8, 0, m.roots);
  const VolumeIdentity sda1 = IdentifyBlockDevice(8, 1, m.roots);
  const VolumeIdentity sda2 = IdentifyBlockDevice(8, 2, m.roots);
  ASSERT_EQ(sda1.kind, VolumeIdentity::Kind::kDisk);
  EXPECT_EQ(sda1.major, 8u);
  EXPECT_EQ(sda1.minor, 0u);
  EXPECT_TRUE(SameBytes(sda, sda1));
  EXPECT_TRUE(SameBytes(sda, sda2));
  EXPECT_FALSE(SameBytes(sda1, sda2));
  EXPECT_FALSE(SameBytes(sda1, image));

  // Nothing known is never the same as anything, not even itself.
  const VolumeIdentity unknown = IdentifyBlockDevice(9, 9, m.roots);
  EXPECT_EQ(unknown.kind, VolumeIdentity::Kind::kUnknown);
  EXPECT_FALSE(SameBytes(unknown, unknown));
  EXPECT_EQ(IdentifyVolume(m.dir.File("missing.img"), m.roots).kind, VolumeIdentity::Kind::kUnknown);
}

TEST(VolumeIdentityTest, SharedBytesAreNamedByTheFileAndTheDevicesInFront) {
  FakeMachine m;
  const VolumeIdentity loop3 = IdentifyBlockDevice(7, 3, m.roots);
  EXPECT_EQ(SameVolumeName(m.image, "/dev/loop3", loop3), "a.img through /dev/loop3");
  EXPECT_EQ(SameVolumeName("/dev/loop3", "/dev/loop3p1", loop3), "a.img through /dev/loop3 and /dev/loop3p1");
  EXPECT_EQ(SameVolumeName(m.image, m.image, loop3), "a.img");
  EXPECT_EQ(SameVolumeName("/x/a.img", "/y/a.img", loop3), "/x/a.img and /y/a.img");
  EXPECT_EQ(SameVolumeName("/dev/sda", "/dev/sda1", IdentifyBlockDevice(8, 0, m.roots)), "/dev/sda and /dev/sda1");
}

TEST(VolumeIdentityTest, UsersAreLoopDevicesMountsAndHoldersOnTheSameBytes) {
  FakeMachine m;
  const VolumeIdentity image = IdentifyVolume(m.image, m.roots);
  // Attached, nothing mounted: both loop devices on a.img, not b.img's.
  std::vector<VolumeUser> users = VolumeUsers(image, m.roots);
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(VolumeUsersText(users), "attached to /dev/loop3, attached to /dev/loop4");

  m.Mounts(
      "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 22 259:0 / /mnt/my\\040card rw,relatime shared:9 - vfat /dev/loop3p1 rw\n"
      "41 22 0:51 / /mnt/fuse rw,nosuid - fuseblk " + m.image + " rw,user_id=0\n"
      "42 22 0:52 / /mnt/other rw - fuseblk " + m.other + " rw\n"
      "43 22 0:23 / /proc rw - proc proc rw\n");
  users = VolumeUsers(image, m.roots);
  EXPECT_EQ(VolumeUsersText(users),
            "attached to /dev/loop3, attached to /dev/loop4, mounted at /mnt/my card (/dev/loop3p1), mounted at /mnt/fuse");
  EXPECT_EQ(VolumeReleaseText(users),
            "umount /mnt/my card, then umount /mnt/fuse, then losetup -d /dev/loop3, then losetup -d /dev/loop4");

  // Through its own loop device: the device itself is no user, the other one is.
  const VolumeIdentity loop3p1 = IdentifyBlockDevice(259, 0, m.roots);
  EXPECT_EQ(VolumeUsersText(VolumeUsers(loop3p1, m.roots)), "mounted at /mnt/my card (/dev/loop3p1), mounted at /mnt/fuse");

  // A disk is in use through a mounted partition and a device stacked on another.
  EXPECT_EQ(VolumeUsersText(VolumeUsers(IdentifyBlockDevice(8, 0, m.roots), m.roots)),
            "held by dm-0 (/dev/sda2), mounted at / (/dev/sda1)");
  EXPECT_EQ(VolumeUsersText(VolumeUsers(IdentifyBlockDevice(8, 2, m.roots), m.roots)), "held by dm-0 (/dev/sda2)");
  EXPECT_TRUE(VolumeUsers(IdentifyBlockDevice(9, 9, m.roots), m.roots).empty());
}

TEST(VolumeIdentityTest, AProcessWithTheImageOpenIsAUserWhateverItsMountSays) {
  FakeMachine m;
  const std::string link = m.dir.File("link.img");
  ASSERT_EQ(::link(m.image.c_str(), link.c_str()), 0);
  // A FUSE driver whose mount shows no source, by another name of the image; another
  // process with a different image; this very process is never its own user.
  m.Process(4242, "fusefat", link);
  m.Process(4243, "cat", m.other);
  m.Process(static_cast<int>(::getpid()), "self", m.image);
  const VolumeIdentity other = IdentifyVolume(m.other, m.roots);
  const std::vector<VolumeUser> users = VolumeUsers(IdentifyBlockDevice(7, 4, m.roots), m.roots);
  EXPECT_EQ(VolumeUsersText(users), "attached to /dev/loop3, open in fusefat (pid 4242)");
  EXPECT_EQ(VolumeReleaseText(users), "end fusefat (pid 4242) or its mount, then losetup -d /dev/loop3");
  EXPECT_EQ(VolumeUsersText(VolumeUsers(other, m.roots)), "attached to /dev/loop5, open in cat (pid 4243)");
}

TEST(VolumeIdentityTest, OtherCopiesOfThisProgramAreLeftToTheLock) {
  FakeMachine m;
  const std::string program = m.dir.File("vexa");
  const std::string copy = m.dir.File("copy-of-vexa");
  const std::string lookalike = m.dir.File("lookalike");  // same size, other bytes
  WriteFile(program, std::string(100000, 'v') + "end");
  WriteFile(copy, std::string(100000, 'v') + "end");
  WriteFile(lookalike, std::string(100000, 'v') + "END");
  fs::create_directories(m.roots.proc + "/self");
  fs::create_symlink(program, m.roots.proc + "/self/exe");
  m.Process(501, "vexa", m.image);
  fs::create_symlink(program, m.roots.proc + "/501/exe");
  m.Process(502, "vexa", m.image);
  fs::create_symlink(copy, m.roots.proc + "/502/exe");
  m.Process(503, "vexa", m.image);
  fs::create_symlink(lookalike, m.roots.proc + "/503/exe");
  EXPECT_EQ(VolumeUsersText(VolumeUsers(IdentifyVolume(m.image, m.roots), m.roots)),
            "attached to /dev/loop3, attached to /dev/loop4, open in vexa (pid 503)");
}

}  // namespace
}  // namespace platform

#endif  // !_WIN32
