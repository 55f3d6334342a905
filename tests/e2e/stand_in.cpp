// Helpers of the Windows stand-in browsers; see stand_in.h.
#include "tests/e2e/stand_in.h"

#include <windows.h>

#include <cstdio>

#include "launcher/os/loopback_get.h"

namespace stand_in {

std::wstring OutFolder() {
  wchar_t folder[4096] = {};
  const DWORD n = GetEnvironmentVariableW(L"ORVANE_E2E_OUT", folder, 4096);
  return n == 0 || n >= 4096 ? std::wstring() : std::wstring(folder, n);
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), n, out.data(), size, nullptr, nullptr);
  return out;
}

void Record(const std::wstring& folder, const std::wstring& name, const std::string& bytes) {
  FILE* file = _wfopen((folder + L"\\" + name).c_str(), L"wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::string Target(const std::string& url, std::uint16_t& port) {
  const std::string scheme = "http://127.0.0.1:";
  if (url.compare(0, scheme.size(), scheme) != 0) return std::string();
  const std::size_t slash = url.find('/', scheme.size());
  if (slash == std::string::npos) return std::string();
  port = static_cast<std::uint16_t>(std::stoi(url.substr(scheme.size(), slash - scheme.size())));
  std::string target;
  for (std::size_t i = slash; i < url.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(url[i]);
    if (c > 0x7E || c <= 0x20 || c == '"' || c == '<' || c == '>') {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      target += escape;
    } else {
      target += static_cast<char>(c);
    }
  }
  return target;
}

std::string Fetch(std::uint16_t port, const std::string& target) {
  std::string raw, body;
  int status = 0;
  if (!os::LoopbackGet(port, target, raw, 10000) || !ParseHttpResponse(raw, status, body)) {
    return "failed\n";
  }
  return std::to_string(status) + "\n" + body;
}

}  // namespace stand_in
