#include "http/http_date.h"

#include <cstdio>

namespace {

const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatHttpDate(const SystemTime& time) {
  // Times come from ToSystemTime, so the day and month are in range; an impossible one is
  // written as "???" rather than read from outside the tables.
  const char* day = time.wDayOfWeek < 7 ? kDayNames[time.wDayOfWeek] : "???";
  const char* month = time.wMonth >= 1 && time.wMonth <= 12 ? kMonthNames[time.wMonth - 1] : "???";
  char text[100];
  const int n = std::snprintf(text, sizeof text, "%3s, %02hu %3s %04hu %02hu:%02hu:%02hu GMT", day,
                              time.wDay, month, time.wYear, time.wHour, time.wMinute, time.wSecond);
  return n > 0 ? std::string(text, static_cast<std::size_t>(n) < sizeof text ? n : sizeof text - 1)
               : std::string();
}

std::string HttpDateOf(FileTime time) {
  SystemTime broken = {};
  if (!ToSystemTime(time, &broken)) return std::string();
  return FormatHttpDate(broken);
}

const std::string& ExpiresLine::At(FileTime now) {
  const FileTime expires = now + kFileTimeDay;
  const FileTime second = expires / 10000000;  // FileTime units are 100 ns
  if (second != second_ || line_.empty()) {
    line_ = "Expires: " + HttpDateOf(expires) + "\r\n";
    second_ = second;
  }
  return line_;
}
