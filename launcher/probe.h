// The browser-window probe (probe_win32.cpp / probe_posix.cpp).
#pragma once

#include "launcher/browser_process.h"

class HttpServer;

namespace os {

// True when a browser window shows a URL that begins with SessionUrl. Windows: the shell's
// IShellWindows collection, created once and cached. POSIX: a Chromium-family browser's own
// DevTools page list; false for Firefox (its process is its window); for any other browser, a
// request answered under SessionPrefix within the last 120 s. False on every failure.
bool ProbeBrowserWindow(BrowserProcess& browser, const HttpServer& server);

// Empties the cached shell-windows holder, then releases the object it held (Windows).
void ReleaseBrowserWindowProbe();

}  // namespace os
