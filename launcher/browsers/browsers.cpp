// The portable browsers: a Chromium-family or Firefox browser with the course's own profile, and
// the browsers the run cannot watch (the system opener, a user's own command).
#include <algorithm>
#include <utility>

#include "launcher/browsers/browser.h"
#include "launcher/browsers/browser_system.h"
#include "launcher/browsers/devtools.h"
#include "launcher/os/platform.h"
#include "text/text.h"

namespace {

// What every browser started as a process of ours shares.
class ProcessBrowser : public Browser {
 public:
  ProcessBrowser(const BrowserChoice& choice, Platform& platform)
      : choice_(choice), platform_(platform) {}

  bool Start() override {
    if (choice_.program.empty()) {
      DebugLog("no browser found.\n");
      return false;
    }
    process_ = platform_.StartProcess(ProgramStartOf(choice_));
    return process_ != nullptr;
  }

  ProcessState CheckProcess() override {
    return process_ ? process_->Check() : ProcessState::kUnknown;
  }

  WatchRule Rule() const override { return WatchRule::kPagesDecide; }

 protected:
  bool ProcessRuns() { return CheckProcess() == ProcessState::kRunning; }

  const BrowserChoice choice_;
  Platform& platform_;
  std::unique_ptr<ChildProcess> process_;
};

// Chromium-family, driven over its DevTools pipe: the run lives while it shows any page (a
// learner who followed a link out of the course may come back). Without an answer on the pipe
// (remote debugging refused by policy, the pipe closed early, an old browser) its process is
// the watch; so is it until the browser has once listed a page, since a policy may hide pages
// behind an empty list.
class ChromiumBrowser final : public ProcessBrowser {
 public:
  using ProcessBrowser::ProcessBrowser;

  bool Start() override {
    if (!ProcessBrowser::Start()) return false;
    if (MessagePipe* pipe = process_->Pipe()) session_ = std::make_unique<DevToolsSession>(*pipe);
    return true;
  }

  PageCheck ShowsPageUnder(const std::wstring&) override {
    if (!session_) return PageCheck::kCannotTell;
    const DevToolsPages pages = session_->ListPages(kAnswerTimeoutMs);
    if (!pages.readable) return PageCheck::kCannotTell;
    if (pages.pages > 0) {
      listedPage_ = true;
      return PageCheck::kShown;
    }
    return listedPage_ ? PageCheck::kNotShown : PageCheck::kCannotTell;
  }

  // A process that lingers without a window (the pipe keeps it, or background mode), or one the
  // user asked the run to end with, is asked to close, and ended when it does not.
  void Close() override {
    if (!ProcessRuns()) return;
    if (session_ && session_->CloseBrowser()) {
      // A stop request cuts the wait short; End's own grace period follows.
      for (int waited = 0; waited < kCloseWaitMs && ProcessRuns(); waited += kCloseStepMs) {
        if (!platform_.Sleep(kCloseStepMs)) break;
      }
    }
    if (ProcessRuns()) process_->End();
  }

 private:
  static constexpr int kAnswerTimeoutMs = 1500;
  static constexpr int kCloseWaitMs = 3000;
  static constexpr int kCloseStepMs = 100;

  std::unique_ptr<DevToolsSession> session_;
  bool listedPage_ = false;  // the browser has listed a page at least once
};

// Firefox with a profile and instance of its own: its process lives exactly as long as its
// window, so the process is the answer and its windows are never asked.
class FirefoxBrowser final : public ProcessBrowser {
 public:
  using ProcessBrowser::ProcessBrowser;

  PageCheck ShowsPageUnder(const std::wstring&) override { return PageCheck::kCannotTell; }

  void Close() override {
    if (ProcessRuns()) process_->End();
  }
};

// The system opener or a user's own command: it may hand the URL to a browser that was already
// running and end, so nothing tells when the page closes. The server's activity stands in: the
// run lives while a page of it was requested within kUnwatchedIdleMs (counted from the start
// when nothing was requested yet), or while the started program runs.
class UnwatchedBrowser final : public ProcessBrowser {
 public:
  UnwatchedBrowser(const BrowserChoice& choice, Platform& platform, LastRequestClock lastRequestMs)
      : ProcessBrowser(choice, platform), lastRequestMs_(std::move(lastRequestMs)) {}

  bool Start() override {
    startedMs_ = platform_.NowMs();
    if (!ProcessBrowser::Start()) return false;
    platform_.Notice(
        L"orvane: this browser cannot be watched; the course stays served until none of its "
        L"pages has been requested for 30 minutes, or until you end orvane (Ctrl+C).");
    return true;
  }

  PageCheck ShowsPageUnder(const std::wstring&) override {
    const std::uint64_t last = std::max(lastRequestMs_ ? lastRequestMs_() : 0, startedMs_);
    const std::uint64_t now = platform_.NowMs();
    return now < last || now - last <= kUnwatchedIdleMs ? PageCheck::kShown : PageCheck::kNotShown;
  }

  void Close() override {}  // not ours to end

  WatchRule Rule() const override { return WatchRule::kProcessThenPages; }

 private:
  LastRequestClock lastRequestMs_;
  std::uint64_t startedMs_ = 0;
};

}  // namespace

std::unique_ptr<Browser> MakeBrowser(const BrowserChoice& choice, Platform& platform, BrowserSystem& browsers,
                                     LastRequestClock lastRequestMs) {
  switch (choice.kind) {
    case BrowserKind::kInternetExplorer:
      // Only Windows has it; elsewhere the choice is started as a command that is not watched.
      if (std::unique_ptr<Browser> explorer = browsers.NewInternetExplorer(choice)) return explorer;
      break;
    case BrowserKind::kChromium:
      return std::make_unique<ChromiumBrowser>(choice, platform);
    case BrowserKind::kFirefox:
      return std::make_unique<FirefoxBrowser>(choice, platform);
    case BrowserKind::kOpener:
    case BrowserKind::kCommand:
      break;
  }
  return std::make_unique<UnwatchedBrowser>(choice, platform, std::move(lastRequestMs));
}
