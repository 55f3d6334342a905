// The portable half of the loopback client: reading a raw response.
#include "launcher/loopback_get.h"

bool ParseHttpResponse(const std::string& raw, int& status, std::string& body) {
  if (raw.compare(0, 7, "HTTP/1.") != 0 || raw.size() < 12 || raw[8] != ' ') return false;
  int code = 0;
  for (int i = 9; i < 12; ++i) {
    if (raw[i] < '0' || raw[i] > '9') return false;
    code = code * 10 + (raw[i] - '0');
  }
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  status = code;
  body = raw.substr(end + 4);
  return true;
}
