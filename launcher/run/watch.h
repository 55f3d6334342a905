// Browser launch and watch: starts the browser and returns when the run is to end.
#pragma once

#include <cstdint>
#include <string>

class Browser;
class Platform;

// How often the watch loop looks, and how many misses in a row end the run.
constexpr std::uint32_t kWatchPeriodMs = 5000;
constexpr int kMissesToEnd = 3;

// Starts `browser`; returns false at once when that fails, else true when the watch ends. Then every kWatchPeriodMs, by the browser's
// WatchRule (browser.h): kProcessThenPages asks whether the process runs and, once it does not,
// whether a window shows a page under `sessionUrl`; kPagesDecide asks for the page every pass
// and counts kCannotTell as a hit while the process runs. kMissesToEnd misses in a row, or a
// stop request (Platform::Sleep false), end the watch; the browser is then Closed. A browser
// the run cannot watch is announced with Platform::Notice.
bool LaunchAndWatch(Platform& platform, Browser& browser, const std::wstring& sessionUrl);
