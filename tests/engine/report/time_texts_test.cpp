// Tests for the report's time texts.
#include "report/time_texts.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vexa::report {
namespace {

TEST(ElapsedText, HoursMinutesSeconds) {
  EXPECT_EQ(ElapsedText(0), "00:00:00");
  EXPECT_EQ(ElapsedText(59), "00:00:59");
  EXPECT_EQ(ElapsedText(3599), "00:59:59");
  EXPECT_EQ(ElapsedText(3600 * 23 + 60 * 59 + 59), "23:59:59");
}

TEST(ElapsedText, HoursKeepCountingPastADay) {
  EXPECT_EQ(ElapsedText(90061), "25:01:01");       // one day, one hour, one minute, one second
  EXPECT_EQ(ElapsedText(25 * 3600 + 5), "25:00:05");
  EXPECT_EQ(ElapsedText(86400), "24:00:00");
  EXPECT_EQ(ElapsedText(86400LL * 400 + 7), "9600:00:07");
}

TEST(ElapsedText, ClockSetBackGivesNegativeFields) {
  EXPECT_EQ(ElapsedText(-61), "00:-1:-1");
  EXPECT_EQ(ElapsedText(-3600), "-1:00:00");
}

// Runs the body with the local time zone set to UTC, restoring the zone afterwards.
class ClockTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    setenv("TZ", "UTC0", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_) setenv("TZ", saved_->c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  std::optional<std::string> saved_;
};

TEST_F(ClockTextTest, TimeThenDate) {
  EXPECT_EQ(ClockText(1238162709), "14:05:09 2009-03-27");
  EXPECT_EQ(ClockText(0), "00:00:00 1970-01-01");
  EXPECT_EQ(ClockText(4102444799LL), "23:59:59 2099-12-31");
}

TEST_F(ClockTextTest, FollowsTheLocalZone) {
  setenv("TZ", "XST-2", 1);  // two hours east of UTC
  tzset();
  EXPECT_EQ(ClockText(1238162709), "16:05:09 2009-03-27");
}

TEST_F(ClockTextTest, UnconvertibleTimeGivesEmptyText) {
  // A year far beyond what the calendar conversion can represent.
  EXPECT_EQ(ClockText(INT64_MAX), "");
}

}  // namespace
}  // namespace vexa::report
