// Test helper: reads an HTTP date back, checking its form on the way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// Seconds since 1970 for a date written "Www, DD Mon YYYY HH:MM:SS GMT" (29 characters, the
// day name matching the date), or -1 for anything else.
inline std::int64_t ParseHttpDate(const std::string& text) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (text.size() != 29 || text.compare(3, 2, ", ") != 0 || text.compare(25, 4, " GMT") != 0) return -1;
  int day, year, hour, minute, second;
  char month[4] = {};
  if (std::sscanf(text.c_str() + 5, "%2d %3s %4d %2d:%2d:%2d", &day, month, &year, &hour, &minute, &second) != 6)
    return -1;
  const char* m = std::strstr(kMonths, month);
  if (!m || (m - kMonths) % 3 != 0) return -1;
  const int mon = static_cast<int>(m - kMonths) / 3 + 1;
  // Days from civil (H. Hinnant).
  const int y = year - (mon <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (mon + (mon > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
  if (text.compare(0, 3, kDays[((days % 7) + 7) % 7]) != 0) return -1;
  return days * 86400 + hour * 3600 + minute * 60 + second;
}
