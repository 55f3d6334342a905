#include "scorm/scorm_time.h"

#include <cstdio>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at `text[*at]`: at least `least`, at most `most`; false when fewer.
bool Digits(std::string_view text, std::size_t* at, std::size_t least, std::size_t most, std::int64_t* value) {
  std::size_t n = 0;
  *value = 0;
  while (*at < text.size() && IsDigit(text[*at]) && n < most) {
    *value = *value * 10 + (text[*at] - '0');
    ++*at, ++n;
  }
  return n >= least;
}

// A fraction's digits after "." as hundredths (further digits dropped).
std::int64_t Hundredths(std::string_view digits) {
  std::int64_t value = 0;
  for (std::size_t i = 0; i < 2; ++i) value = value * 10 + (i < digits.size() ? digits[i] - '0' : 0);
  return value;
}

}  // namespace

bool ParseTimespan12(std::string_view text, std::int64_t* centiseconds) {
  std::size_t at = 0;
  std::int64_t hours = 0, minutes = 0, seconds = 0;
  if (!Digits(text, &at, 2, 4, &hours) || at >= text.size() || text[at++] != ':') return false;
  if (!Digits(text, &at, 2, 2, &minutes) || minutes > 59 || at >= text.size() || text[at++] != ':') return false;
  if (!Digits(text, &at, 2, 2, &seconds) || seconds > 59) return false;
  std::int64_t fraction = 0;
  if (at < text.size()) {
    if (text[at++] != '.') return false;
    const std::size_t from = at;
    std::int64_t ignored = 0;
    if (!Digits(text, &at, 1, 2, &ignored) || at != text.size()) return false;
    fraction = Hundredths(text.substr(from));
  }
  *centiseconds = ((hours * 60 + minutes) * 60 + seconds) * 100 + fraction;
  return true;
}

bool ParseDuration2004(std::string_view text, std::int64_t* centiseconds) {
  if (text.size() < 2 || text[0] != 'P') return false;
  // Units in order; each may appear once. Y M D before T, H M S after.
  static constexpr struct {
    char unit;
    bool time;
    std::int64_t seconds;
  } kUnits[] = {{'Y', false, 365 * 86400}, {'M', false, 30 * 86400}, {'D', false, 86400},
                {'H', true, 3600},         {'M', true, 60},            {'S', true, 1}};
  std::size_t at = 1, next = 0;
  bool inTime = false, any = false, timeAny = false;
  std::int64_t total = 0;
  while (at < text.size()) {
    if (text[at] == 'T') {
      if (inTime) return false;
      inTime = true;
      ++at;
      continue;
    }
    std::int64_t value = 0;
    if (!Digits(text, &at, 1, 8, &value)) return false;
    std::int64_t fraction = 0;
    bool hasFraction = false;
    if (at < text.size() && text[at] == '.') {
      const std::size_t from = ++at;
      std::int64_t ignored = 0;
      if (!Digits(text, &at, 1, 18, &ignored)) return false;
      fraction = Hundredths(text.substr(from, at - from));
      hasFraction = true;
    }
    if (at >= text.size()) return false;
    const char unit = text[at++];
    while (next < 6 && (kUnits[next].unit != unit || kUnits[next].time != inTime)) ++next;
    if (next == 6 || (hasFraction && unit != 'S')) return false;
    total += value * kUnits[next].seconds * 100 + fraction;
    ++next;
    any = true;
    timeAny = timeAny || inTime;
  }
  if (!any || (inTime && !timeAny)) return false;
  *centiseconds = total;
  return true;
}

std::string FormatTimespan12(std::int64_t centiseconds) {
  if (centiseconds < 0) centiseconds = 0;
  const std::int64_t seconds = centiseconds / 100;
  char text[48];
  std::snprintf(text, sizeof text, "%04lld:%02lld:%02lld.%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60),
                static_cast<long long>(centiseconds % 100));
  return text;
}

std::string FormatDuration2004(std::int64_t centiseconds) {
  if (centiseconds < 0) centiseconds = 0;
  const std::int64_t seconds = centiseconds / 100, hundredths = centiseconds % 100;
  std::string text = "PT";
  if (seconds >= 3600) text += std::to_string(seconds / 3600) + "H";
  if (seconds % 3600 >= 60) text += std::to_string(seconds / 60 % 60) + "M";
  if (seconds % 60 != 0 || hundredths != 0 || text == "PT") {
    text += std::to_string(seconds % 60);
    if (hundredths != 0) {
      char fraction[8];
      std::snprintf(fraction, sizeof fraction, ".%02lld", static_cast<long long>(hundredths));
      text += fraction;
    }
    text += "S";
  }
  return text;
}
