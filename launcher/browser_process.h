// The browser process the run starts (browser_win32.cpp / browser_posix.cpp).
#pragma once

#include <memory>
#include <string>

#include "launcher/env.h"

namespace os {

class BrowserProcess {
 public:
  BrowserProcess();
  ~BrowserProcess();  // Close(), then (POSIX) the browser's own profile folder is removed
  BrowserProcess(const BrowserProcess&) = delete;
  BrowserProcess& operator=(const BrowserProcess&) = delete;

  // Windows: "<program files>\Internet Explorer\iexplore.exe" -nohome "<url>". POSIX: $BROWSER,
  // else the first known browser on PATH, else the desktop's opener. False when none started
  // (the diagnostic went to the sink).
  bool Launch(const std::wstring& startUrl);

  // A zero-time-out wait on the started process.
  BrowserState Check();

  // Lets go of the process: closes its handle (Windows); a still running browser that uses a
  // profile of ours is ended first (POSIX), since that profile goes away with the run.
  void Close();

  // What the platform keeps about the started browser; the probe reads it.
  struct State;
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

}  // namespace os
