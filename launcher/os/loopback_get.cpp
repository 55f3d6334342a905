// The portable half of the loopback client: reading a raw response, and the platform's GET.
#include "launcher/os/loopback_get.h"

#include "launcher/os/platform.h"

#include <charconv>

bool ParseHttpResponse(const std::string& raw, int& status, std::string& body) {
  if (raw.compare(0, 7, "HTTP/1.") != 0 || raw.size() < 12 || raw[8] != ' ') return false;
  int code = 0;
  const char* const digits = raw.data() + 9;
  const auto [next, error] = std::from_chars(digits, digits + 3, code);
  if (error != std::errc() || next != digits + 3 || raw[9] == '-') return false;
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  status = code;
  body = raw.substr(end + 4);
  return true;
}

std::string LoopbackRequest(std::uint16_t port, const std::string& target) {
  // HTTP/1.1: Chromium's DevTools server drops HTTP/1.0 requests unanswered.
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nConnection: close\r\n\r\n";
}

bool ResponseComplete(const std::string& raw) {
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  // Header names are case-insensitive; the value is a decimal count.
  static const std::string kName = "\r\ncontent-length:";
  for (std::size_t line = raw.find("\r\n"); line < end; line = raw.find("\r\n", line + 2)) {
    if (raw.size() < line + kName.size()) break;
    bool match = true;
    for (std::size_t i = 0; i < kName.size() && match; ++i) {
      char c = raw[line + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      match = c == kName[i];
    }
    if (!match) continue;
    std::size_t i = line + kName.size();
    while (i < end && (raw[i] == ' ' || raw[i] == '\t')) ++i;
    std::uint64_t length = 0;
    const auto [next, error] = std::from_chars(raw.data() + i, raw.data() + end, length);
    return error == std::errc() && next != raw.data() + i &&
           raw.size() - (end + 4) >= length;
  }
  return false;
}

bool Platform::LoopbackGet(std::uint16_t port, const std::string& target, int timeoutMs, int& status,
                           std::string& body) {
  std::string raw;
  return os::LoopbackGet(port, target, raw, timeoutMs) && ParseHttpResponse(raw, status, body);
}
