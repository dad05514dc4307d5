// The idle seam: the file a test harness steers, the POSIX power-supply rule, the fake.
#include "platform/idle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/idle_posix.h"
#include "support/temp_dir.h"

namespace platform {
namespace {

using vexa::test::TempDir;
using vexa::test::WriteFile;

TEST(IdleFileTest, InputTimeAndPowerLines) {
  IdleReading reading;
  ASSERT_TRUE(ParseIdleFile("input=1000.25\npower=battery\n", 1600.5, &reading));
  EXPECT_EQ(reading.idleMilliseconds, 600250);
  EXPECT_FALSE(reading.onAcPower);
  ASSERT_TRUE(ParseIdleFile("power=ac\r\ninput=2000\r\n", 1999.0, &reading));  // input a hair ahead: now
  EXPECT_EQ(reading.idleMilliseconds, 0);
  EXPECT_TRUE(reading.onAcPower);
  ASSERT_TRUE(ParseIdleFile("input=100", 160, &reading));  // no power line: mains
  EXPECT_EQ(reading.idleMilliseconds, 60000);
  EXPECT_TRUE(reading.onAcPower);

  reading = {7, false};
  EXPECT_FALSE(ParseIdleFile("power=ac\n", 10, &reading));
  EXPECT_FALSE(ParseIdleFile("input=12x\n", 10, &reading));
  EXPECT_FALSE(ParseIdleFile("input=\n", 10, &reading));
  EXPECT_FALSE(ParseIdleFile("input=nan\n", 10, &reading));
  EXPECT_EQ(reading.idleMilliseconds, 7);  // a failed parse leaves the reading alone
  EXPECT_FALSE(reading.onAcPower);
}

TEST(IdleFileTest, TheFileIsReadAfreshOnEveryCall) {
  TempDir dir;
  const std::string path = dir.File("input");
  auto source = MakeFileIdleSource(path);
  IdleReading reading;
  EXPECT_FALSE(source->Read(&reading));  // no file yet
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  WriteFile(path, "input=" + std::to_string(now - 700) + "\n");
  ASSERT_TRUE(source->Read(&reading));
  EXPECT_GE(reading.idleMilliseconds, 700000);
  EXPECT_LT(reading.idleMilliseconds, 760000);
  WriteFile(path, "input=" + std::to_string(now) + "\npower=battery\n");
  ASSERT_TRUE(source->Read(&reading));
  EXPECT_LT(reading.idleMilliseconds, 60000);
  EXPECT_FALSE(reading.onAcPower);
}

TEST(IdlePosixTest, MainsPowerFromThePowerSupplyFolder) {
  TempDir dir;
  const auto supply = [&](const std::string& name, const std::string& type, const std::string& online) {
    std::filesystem::create_directories(dir.File(name));
    WriteFile(dir.File(name + "/type"), type + "\n");
    if (!online.empty()) WriteFile(dir.File(name + "/online"), online + "\n");
  };
  EXPECT_TRUE(OnAcPowerIn(dir.File("none")));  // no folder: no battery either
  supply("BAT0", "Battery", "");
  EXPECT_TRUE(OnAcPowerIn(dir.Path()));        // a battery but no mains supply listed
  supply("AC", "Mains", "0");
  EXPECT_FALSE(OnAcPowerIn(dir.Path()));
  supply("ADP1", "Mains", "1");
  EXPECT_TRUE(OnAcPowerIn(dir.Path()));        // any online mains supply
}

TEST(FakeIdleSourceTest, UnknownUntilSetAndCountsReads) {
  FakeIdleSource fake;
  IdleReading reading;
  EXPECT_FALSE(fake.Read(&reading));
  fake.Set(5000, false);
  ASSERT_TRUE(fake.Read(&reading));
  EXPECT_EQ(reading.idleMilliseconds, 5000);
  EXPECT_FALSE(reading.onAcPower);
  fake.SetUnknown();
  EXPECT_FALSE(fake.Read(&reading));
  EXPECT_EQ(fake.Reads(), 3);
}

}  // namespace
}  // namespace platform
