// The start of a browser for a second run of a course: the first run already serves it, so the
// learner's browser is only given the first run's address, to open where the first run's
// browser holds the course's profile.
#pragma once

#include <string>

#include "launcher/browsers/browser_choice.h"

class Platform;

// The command that hands `url` to the instance holding the profile of `choice`:
// - Chromium-family: the same --user-data-dir; the new process passes the URL to the browser
//   that holds that profile (a new window there) and ends;
// - Firefox: -profile DIR without -no-remote / -new-instance; Firefox asks the instance that
//   runs on that profile to open the URL and ends;
// - Internet Explorer, the system opener and a user's command: the choice as it is.
BrowserChoice HandOverChoice(const BrowserChoice& choice);

// Starts HandOverChoice(choice); the run does not wait for it or watch it. False when it could
// not be started.
bool StartHandOver(Platform& platform, const BrowserChoice& choice);
