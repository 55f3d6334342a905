// LauncherEnv: every service of the operating system that the start-up driver and the watch loop
// use, behind one small interface, so that the portable sequence (startup.cpp, watch.cpp) runs
// unchanged on Windows, on POSIX and in tests that record what it asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class HttpServer;

// What a zero-time-out wait on the browser process tells.
enum class BrowserState {
  kRunning,  // still running
  kExited,   // has ended (and, on POSIX, been reaped)
  kUnknown,  // the wait failed; the process may or may not run
};

class LauncherEnv {
 public:
  virtual ~LauncherEnv() = default;

  // Milliseconds since the system started, low 32 bits (GetTickCount, CLOCK_MONOTONIC).
  virtual std::uint32_t TickCount() = 0;

  // CoInitialize / CoUninitialize for the main thread on Windows; nothing on POSIX. Failures
  // are not reported: the probe then simply finds no window.
  virtual void BeginComApartment() = 0;
  virtual void EndComApartment() = 0;

  // The user's HttpPort setting; 0 (the system chooses) when it is missing or unreadable.
  virtual std::uint32_t ReadHttpPort() = 0;

  // True when `path` names something that exists and is not a directory.
  virtual bool IsExistingFile(const std::wstring& path) = 0;

  // The modal error message box (POSIX: stderr, plus a dialog when there is a display). Returns
  // once the user has dismissed it.
  virtual void ShowError(const std::wstring& text) = 0;

  // Starts the browser on `startUrl`. False when no browser could be started; the reason went to
  // the diagnostic sink.
  virtual bool LaunchBrowser(const std::wstring& startUrl) = 0;
  // Asks, without waiting, whether the started browser still runs.
  virtual BrowserState CheckBrowser() = 0;
  // Lets go of the started browser (closes the process handle); harmless when none is held.
  virtual void CloseBrowser() = 0;

  // True when some browser window shows a page under SessionUrl. `server` answers the browser's
  // requests; where no window can be asked, its recent activity stands in. False on any failure.
  virtual bool ProbeBrowserWindow(const HttpServer& server) = 0;
  // Empties the probe's cached shell-windows object and releases it; before EndComApartment.
  virtual void ReleaseProbe() = 0;

  // Sleeps `ms` milliseconds. False, possibly early, when the run has been asked to stop
  // (SIGINT or SIGTERM on POSIX); always true on Windows.
  virtual bool Sleep(std::uint32_t ms) = 0;
};

// The real services of the platform being built.
std::unique_ptr<LauncherEnv> NewSystemLauncherEnv();
