// What the browser chooser needs from a POSIX desktop: $BROWSER, the programs its commands and
// the openers name on PATH, the known browsers on PATH and the desktop's default browser.
#pragma once

#include "launcher/browsers/browser_choice.h"

// The facts, all but profileDir:
// - the setting: $BROWSER;
// - onPath: xdg-open, open and the program of every $BROWSER command, where PATH has them
//   (with the path links resolve to, so a link named after one browser to another is judged by
//   its target);
// - installed: chromium, chromium-browser, google-chrome, google-chrome-stable, microsoft-edge
//   and firefox on PATH, in that order;
// - the default browser: the Exec program of the first installed http handler the desktop's
//   mimeapps.list files name, else of `xdg-settings get default-web-browser`'s desktop file;
//   looked for only when no $BROWSER command can be started ($BROWSER overrides it).
BrowserFacts GatherPosixBrowserFacts();
