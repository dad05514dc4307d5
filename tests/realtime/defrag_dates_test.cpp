// The day rule against the engine's own "defragdate" writer.
#include "defrag_dates.h"

#include <gtest/gtest.h>

#include "core/defrag_date.h"
#include "support/temp_dir.h"

namespace realtime {
namespace {

using vexa::test::TempDir;

constexpr std::time_t kHour = 60 * 60;

TEST(DefragDatesTest, ReadsWhatTheEngineWroteForEachLetter) {
  TempDir dir;
  const std::string file = dir.File("defragdate");
  const std::time_t now = std::time(nullptr);
  ASSERT_TRUE(vexa::WriteDefragDate(file, 0, now - 3 * kHour));   // C
  ASSERT_TRUE(vexa::WriteDefragDate(file, 2, now - 30 * kHour));  // E
  ASSERT_TRUE(vexa::WriteDefragDate(file, 23, now - 23 * kHour)); // Z, the last slot

  EXPECT_EQ(LastDefragmentation(file, 'C'), now - 3 * kHour);
  EXPECT_EQ(LastDefragmentation(file, 'c'), now - 3 * kHour);
  EXPECT_EQ(LastDefragmentation(file, 'D'), std::nullopt);  // zero record between two written ones
  EXPECT_EQ(LastDefragmentation(file, 'E'), now - 30 * kHour);
  EXPECT_EQ(LastDefragmentation(file, 'F'), std::nullopt);  // never written: zero-filled
  EXPECT_EQ(LastDefragmentation(file, 'A'), std::nullopt);  // not a fixed-volume letter
  EXPECT_EQ(LastDefragmentation(dir.File("missing"), 'C'), std::nullopt);

  EXPECT_FALSE(VolumeDue(file, 'C', now));
  EXPECT_TRUE(VolumeDue(file, 'D', now));
  EXPECT_TRUE(VolumeDue(file, 'E', now));
  EXPECT_FALSE(VolumeDue(file, 'Z', now));
  EXPECT_TRUE(VolumeDue(file, 'Z', now + kHour));  // a day old an hour later
  EXPECT_TRUE(VolumeDue(dir.File("missing"), 'C', now));
}

TEST(DefragDatesTest, DamagedAndFutureRecords) {
  TempDir dir;
  const std::string file = dir.File("defragdate");
  const std::time_t now = std::time(nullptr);
  ASSERT_TRUE(vexa::WriteDefragDate(file, 0, now + 2 * kHour));   // C: the clock went back two hours
  ASSERT_TRUE(vexa::WriteDefragDate(file, 1, now + 50 * kHour));  // D: far in the future
  EXPECT_FALSE(VolumeDue(file, 'C', now));
  EXPECT_TRUE(VolumeDue(file, 'D', now));

  // E: month 13, the rest of a valid date.
  std::string bytes = vexa::test::ReadFile(file);
  bytes.resize(48, '\0');
  const unsigned char e[16] = {0xEA, 0x07, 13, 0, 0, 0, 1, 0, 10, 0, 0, 0, 0, 0, 0, 0};
  bytes.replace(32, 16, reinterpret_cast<const char*>(e), 16);
  vexa::test::WriteFile(file, bytes);
  EXPECT_EQ(LastDefragmentation(file, 'E'), std::nullopt);
  EXPECT_TRUE(VolumeDue(file, 'E', now));
  // A record cut short by the end of the file.
  vexa::test::WriteFile(file, bytes.substr(0, 40));
  EXPECT_EQ(LastDefragmentation(file, 'E'), std::nullopt);
  EXPECT_NE(LastDefragmentation(file, 'D'), std::nullopt);
}

}  // namespace
}  // namespace realtime
