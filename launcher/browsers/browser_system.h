// What the run asks the system about its browsers, beside the Platform: the chooser's facts,
// Firefox's profile lock and Internet Explorer. browser_system_win32.cpp / browser_system_posix.cpp
// give the real ones; the tests' FakePlatform (tests/launcher/fake_platform.h) its own.
#pragma once

#include <memory>
#include <string>

#include "launcher/browsers/browser.h"
#include "launcher/browsers/browser_choice.h"

class BrowserSystem {
 public:
  virtual ~BrowserSystem() = default;

  // What the browser chooser needs from the system, all but profileDir (filled by the caller).
  virtual BrowserFacts GatherFacts() = 0;

  // True while a Firefox process holds the profile folder `profileDir` (POSIX: its "lock" link
  // names a process that runs; Windows: its parent.lock is held open). A second Firefox on it
  // would only show that it is in use.
  virtual bool FirefoxProfileInUse(const std::wstring& profileDir) = 0;

  // Internet Explorer for `choice` (Windows: the process and the shell-window probe, COM for the
  // main thread while it lives); null on POSIX, where it is never chosen.
  virtual std::unique_ptr<Browser> NewInternetExplorer(const BrowserChoice& choice) = 0;
};

// The real ones of the system being built.
std::unique_ptr<BrowserSystem> NewSystemBrowsers();
