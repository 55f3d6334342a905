// The portable browsers: a Chromium-family or Firefox browser with the course's own profile, and
// the browsers the run cannot watch (the system opener, a user's own command).
#include <algorithm>
#include <utility>

#include "launcher/browsers/browser.h"
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
    process_ = platform_.StartProcess(choice_);
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

// Chromium-family: the page list of its DevTools endpoint, whose port the browser writes into
// the profile's DevToolsActivePort. A second run of the same course finds the first run's
// browser there (its own process handed the URL over and ended), so it asks that one.
class ChromiumBrowser final : public ProcessBrowser {
 public:
  using ProcessBrowser::ProcessBrowser;

  PageCheck ShowsPageUnder(const std::wstring& prefix) override {
    prefix_ = prefix;
    const DevToolsPages pages = AskPages();
    if (!pages.readable) return PageCheck::kCannotTell;
    return pages.matching > 0 ? PageCheck::kShown : PageCheck::kNotShown;
  }

  // A process of ours that lingers (background mode, or the watch was stopped) is ended, unless
  // it shows a page that is not this run's: another run of the course handed its page to it.
  void Close() override {
    if (!ProcessRuns()) return;
    const DevToolsPages pages = AskPages();
    if (pages.readable && pages.pages > pages.matching) return;
    process_->End();
  }

 private:
  static constexpr std::size_t kPortFileMax = 4096;
  static constexpr int kAnswerTimeoutMs = 1500;

  // The pages of the browser that holds the profile now, counted against prefix_.
  DevToolsPages AskPages() {
    std::string portFile;
    if (!platform_.ReadSmallFile(choice_.profileDir + kPathSeparator + L"DevToolsActivePort",
                                 kPortFileMax, portFile)) {
      return DevToolsPages{};
    }
    const std::uint16_t port = DevToolsPortFromFile(portFile);
    int status = 0;
    std::string body;
    if (port == 0 || !platform_.LoopbackGet(port, "/json/list", kAnswerTimeoutMs, status, body) ||
        status != 200) {
      return DevToolsPages{};
    }
    return ReadDevToolsPages(body, WideToAnsi(prefix_));
  }

  std::wstring prefix_;  // the run's SessionUrl, as last asked for
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

std::unique_ptr<Browser> MakeBrowser(const BrowserChoice& choice, Platform& platform,
                                     LastRequestClock lastRequestMs) {
  switch (choice.kind) {
    case BrowserKind::kInternetExplorer:
      return platform.NewInternetExplorer(choice);
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
