// Browser launch and watch: starts the browser and returns when the run is to end.
#pragma once

#include <string>

#include "launcher/env.h"

// How often the watch loop looks, and how many probe misses in a row end the run.
constexpr std::uint32_t kWatchPeriodMs = 5000;
constexpr int kMissesToEnd = 3;

// Starts the browser on `startUrl`; returns at once when that fails. Otherwise every
// kWatchPeriodMs it asks whether the browser still runs; once it does not, it probes for a
// window under SessionUrl, and kMissesToEnd misses in a row end the watch. A stop request
// (env.Sleep false) ends it too. The browser is let go of on return.
void LaunchAndWatch(LauncherEnv& env, const HttpServer& server, const std::wstring& startUrl);
