// Stands in for a Chromium-family browser in the Windows end-to-end test: registered under
// App Paths as msedge.exe in a Wine prefix. Started as the launcher starts such a browser, it
//  - records its command line (chromium-cmdline.txt) and its arguments as CommandLineToArgvW
//    splits them, one per line (chromium-args.txt), in %ORVANE_E2E_OUT%;
//  - listens on a loopback port of its own and, when given --remote-debugging-port=0, writes
//    that port to DevToolsActivePort in the --user-data-dir folder, as Chromium does;
//  - fetches the start URL (its last argument) and records the answer (chromium-page.txt);
//  - answers GET /json/list with its page while its "window" is open: ORVANE_E2E_WINDOW_MS
//    milliseconds (default 25000). Then the window is closed: the list holds no page any more
//    (only a service worker of the course, which is no window), and the process ends, or, with
//    ORVANE_E2E_LINGER set, stays in the background as Chromium may, for at most 10 minutes.
//    The window's closing is recorded as chromium-closed.txt, a normal end as chromium-ended.txt;
//    a browser ended by force records no end.
// While one runs on a profile (it holds SingletonLock there open, unshared), another started on
// the same profile hands its URL over as Chromium does: the running one fetches it (recorded with
// the arguments in chromium-handover.txt) and the new process ends at once.
#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/stand_in.h"

namespace {

std::atomic<bool> windowOpen{true};
std::string pageUrl;  // the page as the DevTools list reports it, written before the server runs

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string PageList() {
  const std::string entry = windowOpen ? "{\"id\":\"1\",\"type\":\"page\",\"title\":\"course\",\"url\":"
                                       : "{\"id\":\"2\",\"type\":\"service_worker\",\"title\":\"sw\",\"url\":";
  return "[ " + entry + JsonString(pageUrl) + "} ]\n";
}

// Answers each connection's first request: /json/list with the page list, anything else 404.
void Serve(SOCKET listener) {
  for (;;) {
    const SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
      const int n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const bool list = request.compare(0, 15, "GET /json/list ") == 0;
    const std::string body = list ? PageList() : std::string();
    const std::string response = std::string(list ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 404 Not Found\r\n") +
                                 "Content-Type: application/json; charset=UTF-8\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\n\r\n" + body;
    send(client, response.data(), static_cast<int>(response.size()), 0);
    shutdown(client, SD_SEND);
    closesocket(client);
  }
}

SOCKET ListenOnLoopback(std::uint16_t& port) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  port = ntohs(address.sin_port);
  return s;
}

}  // namespace

int wmain() {
  const std::wstring folder = stand_in::OutFolder();
  if (folder.empty()) return 2;
  const std::wstring line = GetCommandLineW();
  stand_in::Record(folder, L"chromium-cmdline.txt", stand_in::Utf8(line));
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
  std::vector<std::wstring> args(argv, argv + argc);
  LocalFree(argv);
  std::string listed;
  std::wstring profile, url;
  bool devTools = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    listed += stand_in::Utf8(args[i]) + "\n";
    const std::wstring dataDir = L"--user-data-dir=";
    if (args[i].compare(0, dataDir.size(), dataDir) == 0) profile = args[i].substr(dataDir.size());
    if (args[i] == L"--remote-debugging-port=0") devTools = true;
    if (args[i].compare(0, 2, L"--") != 0) url = args[i];
  }
  std::uint16_t port = 0;
  const std::string target = stand_in::Target(stand_in::Utf8(url), port);
  HANDLE singleton = INVALID_HANDLE_VALUE;
  if (!profile.empty()) {
    CreateDirectoryW(profile.c_str(), nullptr);
    singleton = CreateFileW((profile + L"\\SingletonLock").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    if (singleton == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
      WSADATA data;
      if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 3;
      stand_in::Record(folder, L"chromium-handover.txt", listed + stand_in::Fetch(port, target));
      return 0;
    }
  }
  stand_in::Record(folder, L"chromium-args.txt", listed);

  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 3;
  std::uint16_t devToolsPort = 0;
  const SOCKET listener = ListenOnLoopback(devToolsPort);
  if (listener == INVALID_SOCKET) return 4;
  pageUrl = "http://127.0.0.1:" + std::to_string(port) + target;
  std::thread(Serve, listener).detach();
  if (devTools && !profile.empty()) {
    stand_in::Record(profile, L"DevToolsActivePort",
                     std::to_string(devToolsPort) + "\n/devtools/browser/stand-in\n");
  }
  if (!target.empty()) stand_in::Record(folder, L"chromium-page.txt", stand_in::Fetch(port, target));

  const wchar_t* windowMs = _wgetenv(L"ORVANE_E2E_WINDOW_MS");
  Sleep(windowMs != nullptr ? static_cast<DWORD>(_wtoi(windowMs)) : 25000);
  windowOpen = false;
  stand_in::Record(folder, L"chromium-closed.txt", "");
  if (_wgetenv(L"ORVANE_E2E_LINGER") != nullptr) Sleep(600000);
  stand_in::Record(folder, L"chromium-ended.txt", "");
  return 0;
}
