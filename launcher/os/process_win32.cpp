// Programs the run starts, on Windows: CreateProcessW, WaitForSingleObject with a zero time-out,
// TerminateProcess.
#include "launcher/os/process_win32.h"

#include <windows.h>

#include <vector>

#include "text/text.h"

namespace {

// The most characters a command line may have, its terminating zero included.
constexpr std::size_t kMaxCommandLineChars = 32767;

// How long End waits for a terminated process to be gone.
constexpr DWORD kEndWaitMs = 5000;

class WindowsChildProcess final : public ChildProcess {
 public:
  explicit WindowsChildProcess(HANDLE process) : process_(process) {}
  ~WindowsChildProcess() override { CloseHandle(process_); }
  WindowsChildProcess(const WindowsChildProcess&) = delete;
  WindowsChildProcess& operator=(const WindowsChildProcess&) = delete;

  ProcessState Check() override {
    if (exited_) return ProcessState::kExited;
    switch (WaitForSingleObject(process_, 0)) {
      case WAIT_TIMEOUT:
        return ProcessState::kRunning;
      case WAIT_OBJECT_0:
        exited_ = true;
        return ProcessState::kExited;
      default:
        return ProcessState::kUnknown;
    }
  }

  void End() override {
    if (Check() == ProcessState::kExited) return;
    if (!TerminateProcess(process_, 0)) {
      DebugLog("TerminateProcess failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    }
    if (WaitForSingleObject(process_, kEndWaitMs) == WAIT_OBJECT_0) exited_ = true;
  }

 private:
  HANDLE process_;
  bool exited_ = false;
};

}  // namespace

namespace os {

std::unique_ptr<ChildProcess> StartWindowsProcess(const std::wstring& program,
                                                  const std::wstring& commandLine) {
  // Wine would cut a longer line short instead of failing.
  if (commandLine.size() >= kMaxCommandLineChars) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE));
    return nullptr;
  }
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), line.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &info)) {
    DebugLog("CreateProcess failed [%lu].\n", static_cast<unsigned long>(GetLastError()));
    return nullptr;
  }
  CloseHandle(info.hThread);
  return std::make_unique<WindowsChildProcess>(info.hProcess);
}

}  // namespace os
