// Times as the Windows clock services give them, with POSIX stand-ins. A FileTime counts
// 100-nanosecond units since 1601-01-01 00:00:00 UTC, as a Win32 FILETIME does.
#pragma once

#include <cstdint>

using FileTime = std::uint64_t;

// A broken-down UTC time with the fields of a Win32 SYSTEMTIME.
struct SystemTime {
  std::uint16_t wYear;
  std::uint16_t wMonth;      // 1 = January
  std::uint16_t wDayOfWeek;  // 0 = Sunday
  std::uint16_t wDay;
  std::uint16_t wHour;
  std::uint16_t wMinute;
  std::uint16_t wSecond;
  std::uint16_t wMilliseconds;
};

// One day in FileTime units.
constexpr FileTime kFileTimeDay = 864000000000ull;

// An MS-DOS date and time, taken as local time, converted to UTC
// (DosDateTimeToFileTime, then LocalFileTimeToFileTime). False when the stamp is not a valid
// date; *out is then left as it was.
bool DosDateTimeToUtc(std::uint16_t dosDate, std::uint16_t dosTime, FileTime* out);

// The current UTC time (GetSystemTimeAsFileTime).
FileTime CurrentFileTime();

// FileTime to broken-down UTC (FileTimeToSystemTime). False for a value the platform rejects.
bool ToSystemTime(FileTime time, SystemTime* out);
