// The portable part of the POSIX settings file: its one line of interest.
#include "launcher/settings.h"

#include <cstddef>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
  std::size_t begin = 0, end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.substr(begin, end - begin);
}

// A decimal number of at most 32 bits, nothing else; false otherwise.
bool ParseU32(const std::string& digits, std::uint32_t& value) {
  if (digits.empty() || digits.size() > 10) return false;
  std::uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > 0xFFFFFFFFull) return false;
  value = static_cast<std::uint32_t>(n);
  return true;
}

}  // namespace

std::uint32_t ParseHttpPortSetting(const std::string& text) {
  std::uint32_t port = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || Trim(line.substr(0, equals)) != "HttpPort") continue;
    std::uint32_t value = 0;
    port = ParseU32(Trim(line.substr(equals + 1)), value) ? value : 0;
  }
  return port;
}
