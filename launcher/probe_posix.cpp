// Browser-window probe for POSIX: a Chromium-family browser's own DevTools page list (its port
// from the profile's DevToolsActivePort); nothing for Firefox, whose process is its window; and
// for any other browser, whether the server answered a request of this run in the last 120 s.
#include <cstdio>
#include <memory>

#include "http/server.h"
#include "launcher/browser_posix.h"
#include "launcher/devtools.h"
#include "launcher/loopback_get.h"
#include "launcher/probe.h"
#include "launcher/session.h"
#include "text/text.h"

namespace {

constexpr std::uint64_t kRecentActivityMs = 120000;
constexpr int kDevToolsTimeoutMs = 2000;

std::string ReadSmallFile(const std::string& path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return std::string();
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), file.get()));
  return text;
}

bool DevToolsShowsSession(const std::string& profileDir) {
  const std::uint16_t port = DevToolsPortFromFile(ReadSmallFile(profileDir + "/DevToolsActivePort"));
  if (port == 0) return false;
  std::string raw, body;
  int status = 0;
  if (!os::LoopbackGet(port, "/json/list", raw, kDevToolsTimeoutMs) ||
      !ParseHttpResponse(raw, status, body) || status != 200) {
    return false;
  }
  return DevToolsListHasPage(body, WideToAnsi(SessionUrl));
}

bool RecentlyServed(const HttpServer& server) {
  const std::uint64_t last = server.LastScopedRequestMs();
  if (last == 0) return false;
  const std::uint64_t now = SteadyClockMs();
  return now < last || now - last <= kRecentActivityMs;
}

}  // namespace

namespace os {

bool ProbeBrowserWindow(BrowserProcess& browser, const HttpServer& server) {
  const BrowserProcess::State& state = browser.state();
  switch (state.kind) {
    case BrowserKind::kChromium:
      return DevToolsShowsSession(state.profileDir);
    case BrowserKind::kFirefox:
      return false;
    case BrowserKind::kOther:
      break;
  }
  return RecentlyServed(server);
}

void ReleaseBrowserWindowProbe() {}

}  // namespace os
