// The watch loop: alive while the browser process runs, then while the probe keeps finding a
// window of this run; three misses in a row end it.
#include "launcher/watch.h"

void LaunchAndWatch(LauncherEnv& env, const HttpServer& server, const std::wstring& startUrl) {
  if (!env.LaunchBrowser(startUrl)) return;
  bool held = true;
  int misses = 0;
  while (env.Sleep(kWatchPeriodMs)) {
    if (held) {
      const BrowserState state = env.CheckBrowser();
      if (state == BrowserState::kRunning) {
        misses = 0;
        continue;
      }
      if (state == BrowserState::kExited) {
        env.CloseBrowser();
        held = false;
      }
      // kUnknown: the handle stays and the probe decides this pass.
    }
    if (env.ProbeBrowserWindow(server)) {
      misses = 0;
      continue;
    }
    if (++misses >= kMissesToEnd) break;
  }
  if (held) env.CloseBrowser();
}
