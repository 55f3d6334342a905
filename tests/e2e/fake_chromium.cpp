// Stands in for a Chromium-family browser in the Windows end-to-end test: registered under
// App Paths as msedge.exe in a Wine prefix. Started as the launcher starts such a browser, it
//  - records its command line (chromium-cmdline.txt), its arguments as CommandLineToArgvW splits
//    them, one per line (chromium-args.txt), and its working folder (chromium-folder.txt), in
//    %ORVANE_E2E_OUT%;
//  - with --remote-debugging-pipe, reads DevTools commands on C runtime descriptor 3 and answers
//    on descriptor 4, as Chromium does: the handles its C runtime decoded from the STARTUPINFO
//    block the launcher built. Each method received is recorded (chromium-methods.txt);
//    Target.getTargets lists its page while its "window" is open, then only a service worker
//    (no window); Browser.close ends it. With ORVANE_E2E_REFUSE set it closes both descriptors at
//    once, as a browser whose remote debugging is turned off;
//  - fetches the start URL (its last argument) and records the answer (chromium-page.txt);
//  - keeps its window open ORVANE_E2E_WINDOW_MS milliseconds (default 25000), records
//    chromium-closed.txt, and ends, or with ORVANE_E2E_LINGER stays without a window until
//    Browser.close (for at most 10 minutes). A normal end is recorded as chromium-ended.txt; a
//    browser ended by force records no end.
// While one runs on a profile (it holds SingletonLock there open, unshared), another started on
// the same profile hands its URL over as Chromium does: the running one fetches it (recorded with
// the arguments in chromium-handover.txt) and the new process ends at once.
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/stand_in.h"

namespace {

std::atomic<bool> windowOpen{true};
std::atomic<bool> closeAsked{false};
std::string pageUrl;  // the page as the target list reports it, written before the pipe is read
std::wstring folder;
std::mutex recording;
std::string methods;

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The text after `"key":` in a command, up to the next ',' or '}' (quotes removed).
std::string Field(const std::string& message, const std::string& key) {
  const std::size_t at = message.find("\"" + key + "\":");
  if (at == std::string::npos) return std::string();
  std::string value = message.substr(at + key.size() + 3);
  value = value.substr(0, value.find_first_of(",}"));
  if (!value.empty() && value.front() == '"') value = value.substr(1, value.size() - 2);
  return value;
}

std::string Answer(const std::string& command) {
  const std::string id = Field(command, "id"), method = Field(command, "method");
  {
    std::lock_guard<std::mutex> lock(recording);
    methods += method + "\n";
    stand_in::Record(folder, L"chromium-methods.txt", methods);
  }
  std::string result = "{}";
  if (method == "Target.getTargets") {
    const std::string target = windowOpen ? "{\"targetId\":\"1\",\"type\":\"page\",\"title\":\"course\",\"url\":"
                                          : "{\"targetId\":\"2\",\"type\":\"service_worker\",\"title\":\"sw\",\"url\":";
    result = "{\"targetInfos\":[" + target + JsonString(pageUrl) + ",\"attached\":false}]}";
  }
  if (method == "Browser.close") closeAsked = true;
  return "{\"id\":" + id + ",\"result\":" + result + "}" + std::string(1, '\0');
}

// Reads NUL-ended commands on descriptor 3 until the launcher's end closes, answering each on 4.
void ServePipe() {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const int n = _read(3, buffer, sizeof buffer);
    if (n <= 0) return;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\0')) != std::string::npos;) {
      const std::string answer = Answer(pending.substr(0, end));
      pending.erase(0, end + 1);
      _write(4, answer.data(), static_cast<unsigned>(answer.size()));
    }
  }
}

}  // namespace

int wmain() {
  folder = stand_in::OutFolder();
  if (folder.empty()) return 2;
  const std::wstring line = GetCommandLineW();
  stand_in::Record(folder, L"chromium-cmdline.txt", stand_in::Utf8(line));
  wchar_t current[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, current);
  stand_in::Record(folder, L"chromium-folder.txt", stand_in::Utf8(current));
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
  std::vector<std::wstring> args(argv, argv + argc);
  LocalFree(argv);
  std::string listed;
  std::wstring profile, url;
  bool pipe = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    listed += stand_in::Utf8(args[i]) + "\n";
    const std::wstring dataDir = L"--user-data-dir=";
    if (args[i].compare(0, dataDir.size(), dataDir) == 0) profile = args[i].substr(dataDir.size());
    if (args[i] == L"--remote-debugging-pipe") pipe = true;
    if (args[i].compare(0, 2, L"--") != 0) url = args[i];
  }
  std::uint16_t port = 0;
  const std::string target = stand_in::Target(stand_in::Utf8(url), port);
  if (!profile.empty()) {
    CreateDirectoryW(profile.c_str(), nullptr);
    const HANDLE singleton = CreateFileW((profile + L"\\SingletonLock").c_str(), GENERIC_WRITE, 0, nullptr,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (singleton == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
      stand_in::Record(folder, L"chromium-handover.txt", listed + stand_in::Fetch(port, target));
      return 0;
    }
  }
  stand_in::Record(folder, L"chromium-args.txt", listed);

  pageUrl = "http://127.0.0.1:" + std::to_string(port) + target;
  // The C runtime gave descriptors 3 and 4 handles from the launcher's STARTUPINFO block.
  const bool handed = _get_osfhandle(3) != -1 && _get_osfhandle(4) != -1;
  stand_in::Record(folder, L"chromium-pipe.txt", handed ? "descriptors 3 and 4\n" : "none\n");
  if (pipe && handed && _wgetenv(L"ORVANE_E2E_REFUSE") != nullptr) {
    _close(3);
    _close(4);
  } else if (pipe && handed) {
    std::thread(ServePipe).detach();
  }
  if (!target.empty()) stand_in::Record(folder, L"chromium-page.txt", stand_in::Fetch(port, target));

  const wchar_t* windowMs = _wgetenv(L"ORVANE_E2E_WINDOW_MS");
  const DWORD openMs = windowMs != nullptr ? static_cast<DWORD>(_wtoi(windowMs)) : 25000;
  for (DWORD waited = 0; waited < openMs && !closeAsked; waited += 50) Sleep(50);
  windowOpen = false;
  stand_in::Record(folder, L"chromium-closed.txt", "");
  if (_wgetenv(L"ORVANE_E2E_LINGER") != nullptr) {
    for (int waited = 0; waited < 600000 && !closeAsked; waited += 50) Sleep(50);
  }
  stand_in::Record(folder, L"chromium-ended.txt", closeAsked ? "Browser.close\n" : "");
  return 0;
}
