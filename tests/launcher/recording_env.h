// Test helper: a LauncherEnv that records what the driver asks for. File checks use the real
// platform call; the launch fetches the start page from the run's real server, as a browser
// would, and then reports the browser as gone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/env.h"
#include "launcher/loopback_get.h"
#include "launcher/system.h"
#include "text/text.h"

class RecordingEnv : public LauncherEnv {
 public:
  // Set by the test.
  std::uint32_t tick = 0xff;
  std::uint32_t port = 0;
  bool launchSucceeds = false;

  // Recorded.
  std::vector<std::string> calls;  // the order of the driver's calls
  std::vector<std::wstring> fileChecks;
  std::vector<std::wstring> errors;
  std::vector<std::wstring> launches;
  int startPageStatus = 0;  // what the server answered for the start page during the launch
  std::string startPageBody;

  std::uint32_t TickCount() override {
    calls.push_back("tick");
    return tick;
  }
  void BeginComApartment() override { calls.push_back("com-begin"); }
  void EndComApartment() override { calls.push_back("com-end"); }
  std::uint32_t ReadHttpPort() override {
    calls.push_back("port");
    return port;
  }
  bool IsExistingFile(const std::wstring& path) override {
    fileChecks.push_back(path);
    return os::IsExistingFile(path);
  }
  void ShowError(const std::wstring& text) override {
    calls.push_back("error");
    errors.push_back(text);
  }
  bool LaunchBrowser(const std::wstring& startUrl) override {
    calls.push_back("launch");
    launches.push_back(startUrl);
    FetchStartPage(WideToAnsi(startUrl));
    return launchSucceeds;
  }
  BrowserState CheckBrowser() override {
    calls.push_back("check");
    return BrowserState::kExited;
  }
  void CloseBrowser() override { calls.push_back("close"); }
  bool ProbeBrowserWindow(const HttpServer&) override {
    calls.push_back("probe");
    return false;
  }
  void ReleaseProbe() override { calls.push_back("release-probe"); }
  bool Sleep(std::uint32_t) override {
    calls.push_back("sleep");
    return true;
  }

 private:
  // GETs the path of http://127.0.0.1:PORT/PATH?QUERY; the server ignores the query.
  void FetchStartPage(const std::string& url) {
    const std::string scheme = "http://127.0.0.1:";
    if (url.compare(0, scheme.size(), scheme) != 0) return;
    const std::size_t slash = url.find('/', scheme.size());
    if (slash == std::string::npos) return;
    const int serverPort = std::stoi(url.substr(scheme.size(), slash - scheme.size()));
    const std::string target = url.substr(slash, url.find('?') - slash);
    std::string raw;
    if (os::LoopbackGet(static_cast<std::uint16_t>(serverPort), target, raw, 5000)) {
      ParseHttpResponse(raw, startPageStatus, startPageBody);
    }
  }
};
