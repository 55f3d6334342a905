// The watch loop; see watch.h.
#include "launcher/run/watch.h"

#include "launcher/browsers/browser.h"
#include "launcher/os/platform.h"

namespace {

// One pass by the rule of Internet Explorer and of browsers the run cannot watch: the process,
// and once it has exited, the page check. `held` is cleared once the exit is seen.
bool ProcessThenPagesHit(Browser& browser, const std::wstring& sessionUrl, bool& held) {
  if (held) {
    const ProcessState state = browser.CheckProcess();
    if (state == ProcessState::kRunning) return true;
    if (state == ProcessState::kExited) held = false;
    // kUnknown: the page check decides this pass and the next pass waits again.
  }
  return browser.ShowsPageUnder(sessionUrl) == PageCheck::kShown;
}

// One pass by the rule of a browser of the course's own: its windows decide; no answer is no
// miss while its process runs (still starting up, or slow).
bool PagesDecideHit(Browser& browser, const std::wstring& sessionUrl) {
  switch (browser.ShowsPageUnder(sessionUrl)) {
    case PageCheck::kShown:
      return true;
    case PageCheck::kCannotTell:
      return browser.CheckProcess() == ProcessState::kRunning;
    case PageCheck::kNotShown:
      break;
  }
  return false;
}

}  // namespace

bool LaunchAndWatch(Platform& platform, Browser& browser, const std::wstring& sessionUrl) {
  if (!browser.Start()) return false;
  const WatchRule rule = browser.Rule();
  bool held = true;
  int misses = 0;
  while (platform.Sleep(kWatchPeriodMs)) {
    const bool hit = rule == WatchRule::kPagesDecide ? PagesDecideHit(browser, sessionUrl)
                                                     : ProcessThenPagesHit(browser, sessionUrl, held);
    if (hit) {
      misses = 0;
    } else if (++misses >= kMissesToEnd) {
      break;
    }
  }
  browser.Close();
  return true;
}
