// The defragmentation age from "defragdate" records.
#include "core/defrag_date.h"

#include <gtest/gtest.h>

#include "core/allocation_fingerprint.h"
#include "support/temp_dir.h"

namespace vexa {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Record(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
  const unsigned fields[8] = {year, month, 0, day, hour, minute, second, 0};
  std::string r;
  for (unsigned f : fields) {
    r += static_cast<char>(f & 0xFF);
    r += static_cast<char>(f >> 8);
  }
  return r;
}

TEST(DefragDate, AgeFollowsTheRecordedDate) {
  TempDir dir;
  const std::string file = dir.File("defragdate");
  const std::time_t now = std::time(nullptr);
  ASSERT_TRUE(EnsureZeroFile(file, 26 * 16));
  ASSERT_TRUE(WriteDefragDate(file, 0, now - 47 * 3600));
  ASSERT_TRUE(WriteDefragDate(file, 1, now - 48 * 3600));
  ASSERT_TRUE(WriteDefragDate(file, 2, now + 3600));
  EXPECT_EQ(DefragmentationAge(file, 0, now), 1);
  EXPECT_EQ(DefragmentationAge(file, 1, now), 2);
  EXPECT_EQ(DefragmentationAge(file, 2, now), 1) << "a date in the future";
  EXPECT_EQ(DefragmentationAge(file, 3, now), 2) << "a record of zeros";
  EXPECT_EQ(DefragmentationAge(file, 25, now + 0), 2);
}

TEST(DefragDate, MissingOrEmptyFileGivesAgeZero) {
  TempDir dir;
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 0, std::time(nullptr)), 0);
  WriteFile(dir.File("defragdate"), "");
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 0, std::time(nullptr)), 0);
}

TEST(DefragDate, OutOfRangeFieldsCountAsTimeZero) {
  TempDir dir;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const unsigned year = static_cast<unsigned>(local.tm_year + 1900);
  WriteFile(dir.File("defragdate"), Record(year, 13, 1, 0, 0, 0) + Record(year, 1, 1, 24, 0, 0) +
                                        Record(year, 1, 0, 0, 0, 0) + Record(1899, 1, 1, 0, 0, 0) +
                                        Record(year, static_cast<unsigned>(local.tm_mon + 1),
                                               static_cast<unsigned>(local.tm_mday), 0, 0, 0));
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 0, now), 2);
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 1, now), 2);
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 2, now), 2);
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 3, now), 2);
  EXPECT_EQ(DefragmentationAge(dir.File("defragdate"), 4, now), 1) << "today at midnight";
}

TEST(DefragDate, WrittenRecordHasTheDocumentedLayout) {
  TempDir dir;
  const std::string file = dir.File("defragdate");
  ASSERT_TRUE(EnsureZeroFile(file, 26 * 16));
  std::tm when{};
  when.tm_year = 2009 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 27;
  when.tm_hour = 14;
  when.tm_min = 5;
  when.tm_sec = 9;
  when.tm_isdst = -1;
  ASSERT_TRUE(WriteDefragDate(file, 2, std::mktime(&when)));
  const std::string bytes = test::ReadFile(file);
  ASSERT_EQ(bytes.size(), 26u * 16);
  EXPECT_EQ(bytes.substr(32, 16), Record(2009, 3, 27, 14, 5, 9));
  EXPECT_EQ(bytes.substr(0, 32), std::string(32, '\0'));
}

TEST(DefragVolume, RecordsAreFlagAndSerialInSlotOrder) {
  TempDir dir;
  const std::string file = dir.File("defragvol");
  ASSERT_TRUE(EnsureZeroFile(file, 26 * 8));
  ASSERT_TRUE(WriteDefragVolume(file, 1, 0x12345678u));
  ASSERT_TRUE(WriteDefragVolume(file, 2, std::nullopt));
  std::string expected(26 * 8, '\0');
  expected.replace(8, 8, std::string("\x01\x00\x00\x00\x78\x56\x34\x12", 8));
  EXPECT_EQ(test::ReadFile(file), expected);
  EXPECT_TRUE(RecordedVolumeIs(file, 1, 0x12345678u));
  EXPECT_FALSE(RecordedVolumeIs(file, 1, 0x12345679u));
  EXPECT_FALSE(RecordedVolumeIs(file, 1, std::nullopt)) << "a volume without a serial is never the recorded one";
  EXPECT_FALSE(RecordedVolumeIs(file, 0, 0u)) << "a zero record names no volume, not serial 0";
  EXPECT_FALSE(RecordedVolumeIs(file, 2, 0u));
  EXPECT_FALSE(RecordedVolumeIs(dir.File("missing"), 1, 0x12345678u));
  // A file cut short: the slot past its end has no record.
  WriteFile(dir.File("short"), std::string(20, '\0'));
  EXPECT_FALSE(RecordedVolumeIs(dir.File("short"), 2, 0u));
}

TEST(DefragVolume, RecentDateCountsOnlyForTheRecordedVolume) {
  TempDir dir;
  const std::string date = dir.File("defragdate");
  const std::string volume = dir.File("defragvol");
  const std::time_t now = std::time(nullptr);
  ASSERT_TRUE(WriteDefragDate(date, 0, now - 3600));
  ASSERT_TRUE(WriteDefragDate(date, 1, now - 72 * 3600));
  ASSERT_TRUE(WriteDefragVolume(volume, 0, 0xAAAAu));
  ASSERT_TRUE(WriteDefragVolume(volume, 1, 0xBBBBu));
  EXPECT_EQ(VolumeDefragmentationAge(date, volume, 0, 0xAAAAu, now), 1);
  EXPECT_EQ(VolumeDefragmentationAge(date, volume, 0, 0xCCCCu, now), 2) << "another volume in the slot";
  EXPECT_EQ(VolumeDefragmentationAge(date, volume, 1, 0xBBBBu, now), 2) << "an old date stays old";
  EXPECT_EQ(VolumeDefragmentationAge(date, dir.File("none"), 0, 0xAAAAu, now), 2) << "no companion record";
  EXPECT_EQ(VolumeDefragmentationAge(dir.File("nodate"), volume, 0, 0xAAAAu, now), 0);
}

TEST(DefragPrint, RecordsAreFlagAndFingerprintInSlotOrder) {
  TempDir dir;
  const std::string file = dir.File("defragprint");
  ASSERT_TRUE(EnsureZeroFile(file, 26 * 16));
  ASSERT_TRUE(WriteDefragPrint(file, 1, 0x1122334455667788ull));
  std::string expected(26 * 16, '\0');
  expected.replace(16, 16, std::string("\x01\0\0\0\0\0\0\0\x88\x77\x66\x55\x44\x33\x22\x11", 16));
  EXPECT_EQ(test::ReadFile(file), expected);
  EXPECT_TRUE(RecordedPrintIs(file, 1, 0x1122334455667788ull));
  EXPECT_FALSE(RecordedPrintIs(file, 1, 0x1122334455667789ull));
  EXPECT_FALSE(RecordedPrintIs(file, 1, std::nullopt)) << "a bitmap that cannot be read is a change";
  EXPECT_FALSE(RecordedPrintIs(file, 0, 0u)) << "a zero record holds no fingerprint, not 0";
  ASSERT_TRUE(WriteDefragPrint(file, 1, std::nullopt));
  EXPECT_FALSE(RecordedPrintIs(file, 1, 0x1122334455667788ull)) << "cleared";
  WriteFile(dir.File("short"), std::string(20, '\0'));
  EXPECT_FALSE(RecordedPrintIs(dir.File("short"), 1, 0u)) << "a record cut short";
  EXPECT_FALSE(RecordedPrintIs(dir.File("missing"), 1, 0u));
}

TEST(DefragPrint, FingerprintSeesEveryClusterAndIgnoresBitsPastTheEnd) {
  std::uint8_t bits[3] = {0x0F, 0xF0, 0x05};
  const std::uint64_t base = BitmapFingerprint(bits, 19);
  bits[2] = 0xFD;  // bits 19-23 lie past cluster 18
  EXPECT_EQ(BitmapFingerprint(bits, 19), base);
  bits[2] = 0xFC;  // cluster 16 freed
  EXPECT_NE(BitmapFingerprint(bits, 19), base);
  bits[2] = 0x05;
  bits[1] = 0x70;  // cluster 15 freed
  EXPECT_NE(BitmapFingerprint(bits, 19), base);
  bits[1] = 0xF0;
  EXPECT_NE(BitmapFingerprint(bits, 18), BitmapFingerprint(bits, 19)) << "another size, another volume";
}

}  // namespace
}  // namespace vexa
