// The portable part of the POSIX settings file: its one line of interest.
#include "launcher/run/settings.h"

#include <charconv>
#include <cstddef>

#include "text/split.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

// A decimal number of at most 32 bits, nothing else (no sign); false otherwise.
bool ParseU32(const std::string& digits, std::uint32_t& value) {
  if (digits.empty() || digits[0] < '0' || digits[0] > '9') return false;
  const char* const end = digits.data() + digits.size();
  const auto [next, error] = std::from_chars(digits.data(), end, value);
  return error == std::errc() && next == end;
}

}  // namespace

std::string ParseSettingText(const std::string& text, const std::string& name) {
  std::string value;
  for (const std::string& rawLine : SplitText(text, '\n')) {
    const std::string line = Trim(rawLine);
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || Trim(line.substr(0, equals)) != name) continue;
    value = Trim(line.substr(equals + 1));
  }
  return value;
}

std::uint32_t ParseHttpPortSetting(const std::string& text) {
  std::uint32_t port = 0;
  return ParseU32(ParseSettingText(text, "HttpPort"), port) ? port : 0;
}
