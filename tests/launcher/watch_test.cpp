// The watch loop: by the rule of Internet Explorer and unwatchable browsers against a scripted
// browser, pass by pass; and the browsers of the course's own (Chromium-family, Firefox) through
// MakeBrowser on the fake platform, with DevTools answers and a process scripted over the fake
// clock (no real time passes).
#include <gtest/gtest.h>

#include <deque>

#include "launcher/browsers/browser.h"
#include "launcher/run/watch.h"
#include "tests/launcher/fake_platform.h"

namespace {

const std::wstring kSessionUrl = L"http://127.0.0.1:4711/ab/";

// Answers from scripts; once a script runs out, the process has exited and no page is shown.
class ScriptedBrowser : public Browser {
 public:
  bool startSucceeds = true;
  WatchRule rule = WatchRule::kProcessThenPages;
  std::deque<ProcessState> states;
  std::deque<PageCheck> pages;
  std::string log;  // one letter per call: L start, C process check, P page check, X close

  bool Start() override {
    log += 'L';
    return startSucceeds;
  }
  ProcessState CheckProcess() override {
    log += 'C';
    return Next(states, ProcessState::kExited);
  }
  PageCheck ShowsPageUnder(const std::wstring& prefix) override {
    EXPECT_EQ(prefix, kSessionUrl);
    log += 'P';
    return Next(pages, PageCheck::kNotShown);
  }
  void Close() override { log += 'X'; }
  WatchRule Rule() const override { return rule; }

 private:
  template <class T>
  static T Next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T value = script.front();
    script.pop_front();
    return value;
  }
};

// The watch's calls, with an S for each sleep.
std::string Watch(ScriptedBrowser& browser, int stopAfterSleeps = -1) {
  FakePlatform platform;
  platform.stopAfterSleeps = stopAfterSleeps;
  platform.onSleep = [&browser](FakePlatform&) { browser.log += 'S'; };
  LaunchAndWatch(platform, browser, kSessionUrl);
  return browser.log;
}

TEST(Watch, AFailedStartEndsAtOnce) {
  ScriptedBrowser browser;
  browser.startSucceeds = false;
  EXPECT_EQ(Watch(browser), "L");
}

TEST(Watch, ExitNoticedInTheFirstPassThenThreeMisses) {
  ScriptedBrowser browser;
  EXPECT_EQ(Watch(browser), "LSCP" "SP" "SP" "X");
}

TEST(Watch, NoPageCheckWhileTheProcessRuns) {
  ScriptedBrowser browser;
  browser.states.assign(4, ProcessState::kRunning);
  EXPECT_EQ(Watch(browser), "LSCSCSCSC" "SCP" "SP" "SP" "X");
}

TEST(Watch, AHitAfterTwoMissesStartsTheCountAgain) {
  ScriptedBrowser browser;
  browser.pages = {PageCheck::kNotShown, PageCheck::kNotShown, PageCheck::kShown};
  EXPECT_EQ(Watch(browser), "LSCP" "SP" "SP" "SP" "SP" "SP" "X");
}

TEST(Watch, AFailedWaitLetsThePageCheckDecideAndWaitsAgainNextPass) {
  ScriptedBrowser browser;
  browser.states = {ProcessState::kUnknown, ProcessState::kUnknown, ProcessState::kRunning,
                    ProcessState::kUnknown, ProcessState::kUnknown, ProcessState::kUnknown};
  // Two misses, then a running process clears the count, then three misses.
  EXPECT_EQ(Watch(browser), "LSCP" "SCP" "SC" "SCP" "SCP" "SCP" "X");
}

TEST(Watch, AStopRequestEndsTheWatchAndClosesTheBrowser) {
  ScriptedBrowser browser;
  browser.states.assign(100, ProcessState::kRunning);
  EXPECT_EQ(Watch(browser, 2), "LSCSC" "X");
}

TEST(Watch, APageOfTheCoursesOwnBrowserDecidesEveryPass) {
  ScriptedBrowser browser;
  browser.rule = WatchRule::kPagesDecide;
  // Shown; no answer while running (no miss); no answer after the exit (a miss); shown again;
  // then a running process without the page: three misses.
  browser.pages = {PageCheck::kShown, PageCheck::kCannotTell, PageCheck::kCannotTell, PageCheck::kShown};
  browser.states = {ProcessState::kRunning, ProcessState::kExited, ProcessState::kRunning,
                    ProcessState::kRunning, ProcessState::kRunning};
  EXPECT_EQ(Watch(browser), "LSP" "SPC" "SPC" "SP" "SP" "SP" "SP" "X");
}

// A browser of the course's own on the fake platform: its profile holds DevToolsActivePort, its
// DevTools endpoint answers with `pages`, its process is `platform.process`.
struct Rig {
  static constexpr std::uint16_t kDevToolsPort = 40123;

  Rig() {
    choice_.kind = BrowserKind::kChromium;
    choice_.program = L"/usr/bin/chromium";
    choice_.profileDir = L"/data/profiles/course";
    choice_.args = OwnProfileArguments(choice_.kind, choice_.profileDir);
    choice_.args.push_back(kSessionUrl + L"index.html");
    platform_.process = ProcessState::kRunning;
    platform_.answers[kDevToolsPort] = [this](int& status, std::string& body) {
      if (!answering_) return false;  // refused, or no answer in time
      status = 200;
      body = pages_;
      return true;
    };
  }

  void PortFileWritten() {
    platform_.files[choice_.profileDir + kPathSeparator + L"DevToolsActivePort"] =
        "40123\n/devtools/browser/x\n";
  }
  // The /json/list answer for pages at `urls`, with a target that is no page among them.
  static std::string Pages(const std::vector<std::string>& urls) {
    std::string list = R"([{"type":"service_worker","url":"x"})";
    for (const std::string& url : urls) list += R"(,{"type":"page","url":")" + url + R"("})";
    return list + "]";
  }
  static constexpr const char* kOurs = "http://127.0.0.1:4711/ab/index.html?show=1";
  static constexpr const char* kOtherRuns = "http://127.0.0.1:4711/cd/index.html";

  // Runs the watch with `script` called after each sleep at the fake time since the start, in
  // seconds; returns the seconds the run lasted.
  double RunWatch(std::function<void(double seconds)> script) {
    const std::uint64_t start = platform_.nowMs;
    platform_.onSleep = [&](FakePlatform& p) { script((p.nowMs - start) / 1000.0); };
    const std::unique_ptr<Browser> browser = MakeBrowser(choice_, platform_, nullptr);
    LaunchAndWatch(platform_, *browser, kSessionUrl);
    return (platform_.nowMs - start) / 1000.0;
  }
  int Ends() const { return static_cast<int>(std::count(platform_.calls.begin(), platform_.calls.end(), "end")); }

  FakePlatform platform_;
  BrowserChoice choice_;
  bool answering_ = true;
  std::string pages_;
};

class OwnBrowser : public ::testing::Test, public Rig {};

// Chromium from its start to its end at `at` seconds, by each way a window of the course goes.
TEST(OwnBrowserTable, ChromiumEndsWithin20SecondsOfTheCoursesLastWindow) {
  struct Case {
    const char* name;
    double at;                                  // when the course's window goes
    std::function<void(Rig&)> goes;      // how
    int ends;                                   // how often the run ended the browser itself
    std::function<void(Rig&, double)> before = nullptr;  // what happens until then
  } cases[] = {
      {"open for an hour, then closed", 3600,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; b.answering_ = false; }, 0},
      {"closed", 25,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; b.answering_ = false; }, 0},
      {"navigated elsewhere: the window shows the user's page now, and stays", 25,
       [](Rig& b) { b.pages_ = Rig::Pages({"https://example.org/"}); }, 0},
      {"lingering without a window (background mode): closed by the run", 25,
       [](Rig& b) { b.pages_ = Rig::Pages({}); }, 1},
      {"port written late, then a minute without an answer in time: no miss while it runs", 300,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; b.answering_ = false; }, 0,
       [](Rig& b, double t) {
         if (t >= 60) b.PortFileWritten();
         b.answering_ = !(t >= 100 && t < 160);
       }},
  };
  for (const Case& c : cases) {
    Rig b;
    if (!c.before) b.PortFileWritten();
    b.pages_ = Rig::Pages({Rig::kOurs});
    const double lasted = b.RunWatch([&](double t) {
      if (c.before) c.before(b, t);
      if (t >= c.at) c.goes(b);
    });
    EXPECT_GE(lasted, c.at) << c.name;
    EXPECT_LE(lasted, c.at + 20) << c.name;
    EXPECT_EQ(b.Ends(), c.ends) << c.name;
  }
}

// A second run of the same course: its own Chromium handed the page to the first run's browser,
// which holds the profile, and ended at once. That browser's page list tells.
TEST_F(OwnBrowser, ASecondRunWatchesTheBrowserThatHoldsTheProfile) {
  PortFileWritten();
  pages_ = Pages({kOurs, kOtherRuns});
  platform_.process = ProcessState::kExited;
  const double lasted = RunWatch([&](double t) {
    if (t >= 100) pages_ = Pages({kOtherRuns});  // ours closed
  });
  EXPECT_GE(lasted, 100);
  EXPECT_LE(lasted, 100 + 20);
  EXPECT_EQ(Ends(), 0);
}

// The first run, when its window closes while the second run's page is open in the same browser:
// the run ends, and the browser stays for the other run's window.
TEST_F(OwnBrowser, TheFirstRunLeavesTheOtherRunsWindowOpen) {
  PortFileWritten();
  pages_ = Pages({kOurs, kOtherRuns});
  const double lasted = RunWatch([&](double t) {
    if (t >= 50) pages_ = Pages({kOtherRuns});
  });
  EXPECT_LE(lasted, 50 + 20);
  EXPECT_EQ(Ends(), 0);
  EXPECT_EQ(platform_.process, ProcessState::kRunning);
}

TEST_F(OwnBrowser, FirefoxIsItsProcess) {
  choice_.kind = BrowserKind::kFirefox;
  const double lasted = RunWatch([&](double t) {
    if (t >= 3600) platform_.process = ProcessState::kExited;
  });
  EXPECT_GE(lasted, 3600);
  EXPECT_LE(lasted, 3600 + 20);
  EXPECT_EQ(Ends(), 0);
}

TEST_F(OwnBrowser, AStopRequestClosesTheCoursesOwnBrowser) {
  choice_.kind = BrowserKind::kFirefox;
  platform_.stopAfterSleeps = 3;
  RunWatch([](double) {});
  EXPECT_EQ(Ends(), 1);
}

}  // namespace
