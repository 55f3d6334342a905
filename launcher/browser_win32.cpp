// Browser process for Windows: Internet Explorer from the program-files folder, started with
// CreateProcessW and waited on with a zero time-out.
#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "launcher/browser_process.h"
#include "launcher/browser_command.h"
#include "text/text.h"

namespace os {

struct BrowserProcess::State {
  HANDLE process = nullptr;  // held from a successful start until Close
};

BrowserProcess::BrowserProcess() : state_(std::make_unique<State>()) {}

BrowserProcess::~BrowserProcess() { Close(); }

bool BrowserProcess::Launch(const std::wstring& startUrl) {
  wchar_t folder[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
  if (FAILED(result)) {
    DebugLog("SHGetFolderPath failed [0x%08x].\n", static_cast<unsigned>(result));
    return false;
  }
  const std::wstring browserPath = std::wstring(folder) + L"\\Internet Explorer\\iexplore.exe";
  // CreateProcessW may write into the command line, so it gets a writable copy. A line longer
  // than the system takes (a long .start text or long arguments) fails like any other start.
  const std::wstring line = IExploreCommandLine(browserPath, startUrl);
  if (line.size() >= kMaxCommandLineChars) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE));
    return false;
  }
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    return false;
  }
  CloseHandle(info.hThread);
  state_->process = info.hProcess;
  return true;
}

BrowserState BrowserProcess::Check() {
  if (state_->process == nullptr) return BrowserState::kUnknown;
  switch (WaitForSingleObject(state_->process, 0)) {
    case WAIT_TIMEOUT:
      return BrowserState::kRunning;
    case WAIT_OBJECT_0:
      return BrowserState::kExited;
    default:
      return BrowserState::kUnknown;
  }
}

void BrowserProcess::Close() {
  if (state_->process == nullptr) return;
  CloseHandle(state_->process);
  state_->process = nullptr;
}

}  // namespace os
