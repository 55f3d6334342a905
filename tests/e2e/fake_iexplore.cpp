// Stands in for Internet Explorer in the Windows end-to-end test: installed as
// "<program files>\Internet Explorer\iexplore.exe" in a Wine prefix, it records its command line
// (UTF-8, in %ORVANE_E2E_OUT%\cmdline.txt), fetches the start URL (the last quoted word) and the
// course's navigation file from the launcher's server, stores what it got (page.txt, kxv.txt:
// the status line's code, a line feed, the body) and ends, as a browser window that is closed.
#include <windows.h>

#include <string>

#include "tests/e2e/stand_in.h"

int wmain() {
  const std::wstring folder = stand_in::OutFolder();
  if (folder.empty()) return 2;
  const std::wstring line = GetCommandLineW();
  stand_in::Record(folder, L"cmdline.txt", stand_in::Utf8(line));

  const std::size_t close = line.rfind(L'"');
  const std::size_t open = close == std::wstring::npos || close == 0 ? std::wstring::npos : line.rfind(L'"', close - 1);
  if (open == std::wstring::npos) return 3;
  std::uint16_t port = 0;
  const std::string target = stand_in::Target(stand_in::Utf8(line.substr(open + 1, close - open - 1)), port);
  if (target.empty()) return 4;
  stand_in::Record(folder, L"page.txt", stand_in::Fetch(port, target));
  const std::size_t page = target.find("index.html");
  if (page != std::string::npos) {
    stand_in::Record(folder, L"kxv.txt", stand_in::Fetch(port, target.substr(0, page) + "course.kxv"));
  }
  return 0;
}
