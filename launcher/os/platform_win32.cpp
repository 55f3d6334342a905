// The Platform of Windows: each service is the Win32 call the program has always made, or the
// Windows file beside this one that provides it (registry, process, folders).
#include <windows.h>

#include <cstdio>

#include "http/steady_clock.h"
#include "launcher/os/alert.h"
#include "launcher/os/folders_win32.h"
#include "launcher/os/platform.h"
#include "launcher/os/process_win32.h"
#include "launcher/os/registry_win32.h"

namespace {

// An application name for CreateProcessW: a program given with a folder is started exactly
// there; a bare name ("msedge") is looked up under App Paths as the shell would, else left to
// CreateProcessW's own search for the line's first word.
std::wstring ApplicationName(const std::wstring& program) {
  if (program.find_first_of(L"\\/:") != std::wstring::npos) return program;
  return os::RegisteredAppPath(os::RegistryRoots(), program);
}

class WindowsPlatform final : public Platform {
 public:
  std::uint64_t NowMs() override { return SteadyClockMs(); }
  std::int64_t UnixSeconds() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return os::UnixSecondsOf(now);
  }
  // Waits while dispatching the thread's messages: Internet Explorer's COM apartment and any
  // window of the thread stay responsive. WM_QUIT ends the run as a stop request.
  bool Sleep(std::uint32_t ms) override {
    const std::uint64_t deadline = SteadyClockMs() + ms;
    for (;;) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return false;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      const std::uint64_t now = SteadyClockMs();
      if (now >= deadline) return true;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    }
  }

  os::AccountNames CurrentAccount() override { return os::CurrentAccount(); }

  bool IsExistingFile(const std::wstring& path) override { return os::IsExistingWindowsFile(path); }
  bool ReadSmallFile(const std::wstring& path, std::size_t maxBytes, std::string& bytes) override {
    FILE* file = _wfopen(os::LongPathForm(path).c_str(), L"rb");
    if (file == nullptr) return false;
    bytes.assign(maxBytes, '\0');
    bytes.resize(std::fread(bytes.data(), 1, maxBytes, file));
    std::fclose(file);
    return true;
  }
  std::wstring OwnProgramPath() override {
    // The path may be longer than MAX_PATH; the buffer grows until it fits.
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
      std::wstring path(size, L'\0');
      const DWORD n = GetModuleFileNameW(nullptr, path.data(), size);
      if (n == 0) return std::wstring();
      if (n < size) return path.substr(0, n);
    }
    return std::wstring();
  }

  void ShowError(const std::wstring& text) override { os::ShowErrorAlert(text); }
  void Notice(const std::wstring&) override {}  // a GUI program has no standard error to speak to

  bool WriteOutput(const std::string& bytes) override {
    // A GUI program has an output handle only when its starter redirected one to it; else it
    // may borrow the console of the program that started it.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
      out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    return WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  }

  std::wstring UserDataFolder() override { return os::WindowsUserDataFolder(); }
  bool MakeFolders(const std::wstring& path) override { return os::MakeWindowsFolders(path); }
  std::vector<FolderUse> ListFolders(const std::wstring& parent) override {
    return os::ListWindowsFolders(parent);
  }
  void MarkFolderUsed(const std::wstring& folder) override { os::MarkWindowsFolderUsed(folder); }
  void RemoveTree(const std::wstring& path) override { os::RemoveWindowsTree(path); }
  std::unique_ptr<FolderLock> TryLockFolder(const std::wstring& folder, bool& heldElsewhere) override {
    return os::TryLockWindowsFolder(folder, heldElsewhere);
  }
  std::vector<std::wstring> ListFolderLocks(const std::wstring& parent) override {
    return os::ListWindowsFolderLocks(parent);
  }
  void RemoveFolderLock(const std::wstring& folder, std::unique_ptr<FolderLock> lock) override {
    // The lock is opened with FILE_SHARE_DELETE: the file goes once it is let go.
    DeleteFileW(os::LongPathForm(folder + L".lock").c_str());
    lock.reset();
  }
  bool WriteSmallFile(const std::wstring& path, const std::string& bytes) override {
    return os::WriteWindowsFile(path, bytes);
  }

  std::unique_ptr<ChildProcess> StartProcess(const ProgramStart& start) override {
    return os::StartWindowsProcess(ApplicationName(start.program), start.commandLine, start.folder,
                                   start.messagePipe);
  }
};

}  // namespace

std::unique_ptr<Platform> NewSystemPlatform() { return std::make_unique<WindowsPlatform>(); }
