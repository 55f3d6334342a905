// The browsers of Windows: the facts from browser_facts_win32.cpp, Firefox's parent.lock, and
// Internet Explorer (internet_explorer_win32.cpp).
#include <windows.h>

#include "launcher/browsers/browser_facts_win32.h"
#include "launcher/browsers/browser_system.h"
#include "launcher/browsers/internet_explorer_win32.h"

namespace {

class WindowsBrowsers final : public BrowserSystem {
 public:
  BrowserFacts GatherFacts() override { return GatherWindowsBrowserFacts(os::RegistryRoots()); }

  bool FirefoxProfileInUse(const std::wstring& profileDir) override {
    // Firefox holds parent.lock open without sharing while it runs on the profile; the file
    // itself may stay after it ends.
    const HANDLE lock = CreateFileW((profileDir + L"\\parent.lock").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock != INVALID_HANDLE_VALUE) {
      CloseHandle(lock);
      return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }

  std::unique_ptr<Browser> NewInternetExplorer(const BrowserChoice& choice) override {
    return NewWindowsInternetExplorer(choice);
  }
};

}  // namespace

std::unique_ptr<BrowserSystem> NewSystemBrowsers() { return std::make_unique<WindowsBrowsers>(); }
