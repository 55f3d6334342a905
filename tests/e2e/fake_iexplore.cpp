// Stands in for Internet Explorer in the Windows end-to-end test: installed as
// "<program files>\Internet Explorer\iexplore.exe" in a Wine prefix, it records its command line
// (UTF-8, in %ORVANE_E2E_OUT%\cmdline.txt), fetches the start URL (the last quoted word) and the
// course's navigation file from the launcher's server, stores what it got (page.txt, kxv.txt:
// the status line's code, a line feed, the body) and ends, as a browser window that is closed.
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/loopback_get.h"

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

void WriteFile(const std::wstring& folder, const wchar_t* name, const std::string& bytes) {
  FILE* file = _wfopen((folder + L"\\" + name).c_str(), L"wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// The request target of a URL's UTF-8 text, escaped as a browser sends it.
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
  if (!os::LoopbackGet(port, target, raw, 10000) || !ParseHttpResponse(raw, status, body)) return "failed\n";
  return std::to_string(status) + "\n" + body;
}

}  // namespace

int wmain() {
  wchar_t folder[4096] = {};
  if (GetEnvironmentVariableW(L"ORVANE_E2E_OUT", folder, 4096) == 0) return 2;
  const std::wstring line = GetCommandLineW();
  WriteFile(folder, L"cmdline.txt", Utf8(line));

  const std::size_t close = line.rfind(L'"');
  const std::size_t open = close == std::wstring::npos || close == 0 ? std::wstring::npos : line.rfind(L'"', close - 1);
  if (open == std::wstring::npos) return 3;
  std::uint16_t port = 0;
  const std::string target = Target(Utf8(line.substr(open + 1, close - open - 1)), port);
  if (target.empty()) return 4;
  WriteFile(folder, L"page.txt", Fetch(port, target));
  const std::size_t page = target.find("index.html");
  if (page != std::string::npos) WriteFile(folder, L"kxv.txt", Fetch(port, target.substr(0, page) + "course.kxv"));
  return 0;
}
