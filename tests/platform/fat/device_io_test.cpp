// Block devices: a loop device holding a FAT image is served and opened exclusively, so
// a second opener is refused while the first holds it. Skipped without loop devices.
#include <gtest/gtest.h>

#include "fat_tools.h"
#include "platform/fat_provider.h"

namespace platform::fat {
namespace {

// Attaches an image to a free loop device for the life of the object.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& image) {
    std::string out;
    if (fattest::Run("losetup -f --show " + fattest::Quote(image), &out) == 0 && out.rfind("/dev/", 0) == 0) {
      path_ = out.substr(0, out.find('\n'));
    }
  }
  ~LoopDevice() {
    if (!path_.empty()) fattest::Run("losetup -d " + fattest::Quote(path_));
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(DeviceIoTest, ServesALoopDeviceExclusively) {
  FAT_REQUIRE_TOOLS();
  fattest::ScratchDir dir;
  const std::string image = dir / "device.img";
  fattest::MakeFs(image, 16, 20000, 2);
  fattest::WriteAll(dir / "f", fattest::RandomBytes(5000, 9));
  fattest::Mcopy(image, dir / "f", "FILE.BIN");
  LoopDevice loop(image);
  if (loop.Path().empty()) GTEST_SKIP() << "no loop device available";

  FatOpenStatus status;
  auto first = OpenFatVolume('K', loop.Path(), &status);
  ASSERT_NE(first, nullptr) << FatOpenStatusText(status);
  EXPECT_EQ(status, FatOpenStatus::kOk);
  auto second = OpenFatVolume('L', loop.Path(), &status);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(status, FatOpenStatus::kMounted);

  EXPECT_EQ(fattest::DefragFile(*first, 'K', "K:\\FILE.BIN"), kErrorSuccess);
  first.reset();
  auto again = OpenFatVolume('K', loop.Path(), &status);
  EXPECT_NE(again, nullptr) << "free again once the first machine is gone";
  again.reset();
  std::string out;
  EXPECT_EQ(fattest::Run("fsck.fat -n " + fattest::Quote(loop.Path()), &out), 0) << out;
  EXPECT_EQ(fattest::Mtype(image, "FILE.BIN"), fattest::ReadAll(dir / "f"));
}

}  // namespace
}  // namespace platform::fat
