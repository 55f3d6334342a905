// Clock and time conversions on POSIX: the local zone comes from the C library (TZ,
// /etc/localtime), the rest is calendar arithmetic.
#include <ctime>

#include "text/filetime.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool DosDateTimeToUtc(std::uint16_t dosDate, std::uint16_t dosTime, FileTime* out) {
  const int year = 1980 + (dosDate >> 9), month = (dosDate >> 5) & 15, day = dosDate & 31;
  const int hour = dosTime >> 11, minute = (dosTime >> 5) & 63, second = (dosTime & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  std::tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;  // whatever daylight saving the zone had on that date
  const std::time_t utc = std::mktime(&local);
  if (utc == static_cast<std::time_t>(-1)) return false;
  *out = static_cast<FileTime>((static_cast<std::int64_t>(utc) + kSecondsFrom1601To1970) * kTicksPerSecond);
  return true;
}

FileTime CurrentFileTime() {
  std::timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<FileTime>((now.tv_sec + kSecondsFrom1601To1970) * kTicksPerSecond + now.tv_nsec / 100);
}

bool ToSystemTime(FileTime time, SystemTime* out) {
  if (time >= 0x8000000000000000ull) return false;  // as FileTimeToSystemTime refuses
  const std::uint64_t seconds = time / kTicksPerSecond;
  const std::uint64_t days = seconds / 86400;  // since Monday 1601-01-01
  const std::uint64_t secondOfDay = seconds % 86400;
  // Civil date from a day count (H. Hinnant's algorithm), shifted to 1601 as day 0.
  const std::int64_t z = static_cast<std::int64_t>(days) - 134774 + 719468;  // days since 0000-03-01
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  out->wYear = static_cast<std::uint16_t>(year);
  out->wMonth = static_cast<std::uint16_t>(month);
  out->wDay = static_cast<std::uint16_t>(day);
  out->wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);
  out->wHour = static_cast<std::uint16_t>(secondOfDay / 3600);
  out->wMinute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
  out->wSecond = static_cast<std::uint16_t>(secondOfDay % 60);
  out->wMilliseconds = static_cast<std::uint16_t>(time / 10000 % 1000);
  return true;
}
