#include "text/filetime.h"

#include <gtest/gtest.h>

namespace {

// FileTime of a UTC moment given as seconds since 1970.
FileTime FromUnix(std::int64_t seconds) { return static_cast<FileTime>((seconds + 11644473600) * 10000000); }

std::uint16_t DosDate(int year, int month, int day) { return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day); }
std::uint16_t DosTime(int hour, int minute, int second) { return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2); }

}  // namespace

TEST(ToSystemTime, KnownDates) {
  struct Case {
    FileTime time;
    SystemTime want;
  } cases[] = {
      {0, {1601, 1, 1, 1, 0, 0, 0, 0}},                                      // a Monday
      {FromUnix(0), {1970, 1, 4, 1, 0, 0, 0, 0}},                             // Thursday
      {FromUnix(1798761600), {2027, 1, 5, 1, 0, 0, 0, 0}},                    // Fri 2027-01-01
      {FromUnix(1709251199), {2024, 2, 4, 29, 23, 59, 59, 0}},                // Thu 2024-02-29
      {FromUnix(1798707907) + 9990000, {2026, 12, 4, 31, 9, 5, 7, 999}},      // Thu 2026-12-31
      {FromUnix(951782400), {2000, 2, 2, 29, 0, 0, 0, 0}},                    // Tue 2000-02-29
  };
  for (const Case& c : cases) {
    SystemTime got{};
    ASSERT_TRUE(ToSystemTime(c.time, &got));
    EXPECT_EQ(got.wYear, c.want.wYear);
    EXPECT_EQ(got.wMonth, c.want.wMonth);
    EXPECT_EQ(got.wDayOfWeek, c.want.wDayOfWeek);
    EXPECT_EQ(got.wDay, c.want.wDay);
    EXPECT_EQ(got.wHour, c.want.wHour);
    EXPECT_EQ(got.wMinute, c.want.wMinute);
    EXPECT_EQ(got.wSecond, c.want.wSecond);
    EXPECT_EQ(got.wMilliseconds, c.want.wMilliseconds);
  }
}

TEST(CurrentFileTime, IsNow) {
  SystemTime now{};
  ASSERT_TRUE(ToSystemTime(CurrentFileTime(), &now));
  EXPECT_GE(now.wYear, 2025);
  EXPECT_LT(now.wYear, 2100);
}

// The test runs with TZ set to one hour ahead of UTC, without daylight saving.
TEST(DosDateTimeToUtc, TakesTheStampAsLocalTime) {
  FileTime got = 0;
  ASSERT_TRUE(DosDateTimeToUtc(DosDate(2026, 7, 15), DosTime(12, 30, 0), &got));
  EXPECT_EQ(got, FromUnix(1784118600 - 3600));  // 2026-07-15 11:30:00 UTC
}

TEST(DosDateTimeToUtc, RefusesImpossibleStampsAndLeavesTheOutput) {
  const std::uint16_t bad[][2] = {
      {DosDate(2026, 0, 1), DosTime(0, 0, 0)},
      {DosDate(2026, 13, 1), DosTime(0, 0, 0)},
      {DosDate(2026, 1, 0), DosTime(0, 0, 0)},
      {DosDate(2026, 1, 1), DosTime(24, 0, 0)},
      {DosDate(2026, 1, 1), DosTime(0, 60, 0)},
  };
  for (const auto& stamp : bad) {
    FileTime got = 42;
    EXPECT_FALSE(DosDateTimeToUtc(stamp[0], stamp[1], &got)) << stamp[0] << " " << stamp[1];
    EXPECT_EQ(got, 42u);
  }
}
