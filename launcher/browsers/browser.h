// The browser of a run: one interface, one implementation per kind (Internet Explorer, a
// Chromium-family or Firefox browser with the course's own profile, the system opener or a
// user's own command), made from the chooser's BrowserChoice by MakeBrowser.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "launcher/browsers/browser_choice.h"
#include "launcher/os/child_process.h"

class BrowserSystem;
class Platform;

// What a look at the browser's windows tells.
enum class PageCheck {
  kShown,       // a window shows a page of the run (a browser of the course's own: any page)
  kNotShown,    // the browser answered, and no window does
  kCannotTell,  // no answer (not started up yet, slow, or a browser that cannot be asked)
};

// How the watch loop treats a browser (watch.h).
enum class WatchRule {
  // Internet Explorer and browsers the run cannot watch: alive while the process runs; once it
  // has exited, while the page check keeps answering kShown.
  kProcessThenPages,
  // A browser of the course's own: alive while it shows any page, or while its process runs and
  // the browser cannot tell; a lingering process without a page is closed.
  kPagesDecide,
};

class Browser {
 public:
  virtual ~Browser() = default;  // lets go of the process; never ends a browser by itself

  // Starts the browser as chosen. False when nothing was started (the reason went to DebugLog).
  virtual bool Start() = 0;

  // A zero-time-out wait on the process started.
  virtual ProcessState CheckProcess() = 0;

  // Internet Explorer: whether a window shows a URL that begins with `prefix` (character for
  // character, letter case included). A browser of the course's own: whether it shows any page
  // at all (a link out of the course may lead back). The system opener and a user's command
  // answer from the server's activity: kShown while a request under the run's prefix was
  // answered within the last 30 minutes.
  virtual PageCheck ShowsPageUnder(const std::wstring& prefix) = 0;

  // Called once the watch has ended: lets go of the process. A browser of the course's own whose
  // process still runs (without a window, or the user asked the run to end) is ended here.
  virtual void Close() = 0;

  virtual WatchRule Rule() const = 0;
};

// The milliseconds (Platform::NowMs clock) of the last request answered under the run's prefix,
// 0 when none: what a browser the run cannot watch is judged by.
using LastRequestClock = std::function<std::uint64_t()>;

// The browser for `choice`, never null. Internet Explorer comes from `browsers` (Windows only;
// elsewhere it is started as a command the run cannot watch); the others are portable and use
// the platform's process services.
std::unique_ptr<Browser> MakeBrowser(const BrowserChoice& choice, Platform& platform, BrowserSystem& browsers,
                                     LastRequestClock lastRequestMs);

// How long a browser the run cannot watch keeps the run alive after the last request.
constexpr std::uint64_t kUnwatchedIdleMs = 30ull * 60 * 1000;
