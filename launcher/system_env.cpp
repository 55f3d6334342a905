// The real LauncherEnv: each call goes to the platform service that provides it.
#include "launcher/alert.h"
#include "launcher/browser_process.h"
#include "launcher/env.h"
#include "launcher/probe.h"
#include "launcher/settings.h"
#include "launcher/system.h"

namespace {

class SystemLauncherEnv final : public LauncherEnv {
 public:
  SystemLauncherEnv() { os::WatchStopSignals(); }

  std::uint32_t TickCount() override { return os::TickCount(); }
  void BeginComApartment() override { os::BeginComApartment(); }
  void EndComApartment() override { os::EndComApartment(); }
  std::uint32_t ReadHttpPort() override { return os::ReadHttpPortSetting(); }
  bool IsExistingFile(const std::wstring& path) override { return os::IsExistingFile(path); }
  void ShowError(const std::wstring& text) override { os::ShowErrorAlert(text); }
  bool LaunchBrowser(const std::wstring& startUrl) override { return browser_.Launch(startUrl); }
  BrowserState CheckBrowser() override { return browser_.Check(); }
  void CloseBrowser() override { browser_.Close(); }
  bool ProbeBrowserWindow(const HttpServer& server) override {
    return os::ProbeBrowserWindow(browser_, server);
  }
  void ReleaseProbe() override { os::ReleaseBrowserWindowProbe(); }
  bool Sleep(std::uint32_t ms) override { return os::Sleep(ms); }

 private:
  os::BrowserProcess browser_;
};

}  // namespace

std::unique_ptr<LauncherEnv> NewSystemLauncherEnv() {
  return std::make_unique<SystemLauncherEnv>();
}
