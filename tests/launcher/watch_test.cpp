// The watch loop: by the rule of Internet Explorer and unwatchable browsers against a scripted
// browser, pass by pass; and the browsers of the course's own (Chromium-family, Firefox) through
// MakeBrowser on the fake platform, with answers on the DevTools pipe and a process scripted over
// the fake clock (no real time passes).
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

// A browser of the course's own on the fake platform: its DevTools pipe answers Target.getTargets
// with `pages_` while `answering_`, its process is `platform.process`.
struct Rig {
  Rig() {
    choice_.kind = BrowserKind::kChromium;
    choice_.program = L"/usr/bin/chromium";
    choice_.profileDir = L"/data/profiles/course";
    choice_.args = OwnProfileArguments(choice_.kind, choice_.profileDir);
    choice_.args.push_back(kSessionUrl + L"index.html");
    platform_.process = ProcessState::kRunning;
    platform_.devTools = [this](const std::string& method) {
      if (method == "Browser.close") platform_.process = ProcessState::kExited;
      return answering_ && method == "Target.getTargets" ? pages_ : std::string();
    };
  }

  // The answer for pages at `urls`, with a target that is no page among them.
  static std::string Pages(const std::vector<std::string>& urls) {
    std::string list = R"({"targetInfos":[{"targetId":"W","type":"service_worker","url":"x"})";
    for (const std::string& url : urls) list += R"(,{"targetId":"P","type":"page","url":")" + url + R"("})";
    return list + "]}";
  }
  static constexpr const char* kOurs = "http://127.0.0.1:4711/ab/index.html?show=1";

  // Runs the watch with `script` called after each sleep at the fake time since the start, in
  // seconds; returns the seconds the run lasted.
  double RunWatch(std::function<void(double seconds)> script) {
    const std::uint64_t start = platform_.nowMs;
    platform_.onSleep = [&](FakePlatform& p) { script((p.nowMs - start) / 1000.0); };
    const std::unique_ptr<Browser> browser = MakeBrowser(choice_, platform_, platform_, nullptr);
    LaunchAndWatch(platform_, *browser, kSessionUrl);
    return (platform_.nowMs - start) / 1000.0;
  }
  int Count(const char* call) const {
    return static_cast<int>(std::count(platform_.calls.begin(), platform_.calls.end(), call));
  }

  FakePlatform platform_;
  BrowserChoice choice_;
  bool answering_ = true;
  std::string pages_;
};

class OwnBrowser : public ::testing::Test, public Rig {};

// Chromium from its start to its end at `at` seconds, by each way its last window goes.
TEST(OwnBrowserTable, ChromiumEndsWithin20SecondsOfItsLastWindow) {
  struct Case {
    const char* name;
    double at;                                  // when the last window goes
    std::function<void(Rig&)> goes;             // how
    int closes;                                 // how often the run asked it to close (Browser.close)
    int ends;                                   // how often the run ended it by force
    std::function<void(Rig&, double)> before = nullptr;  // what happens until then
  } cases[] = {
      {"open for an hour, then closed", 3600,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; b.platform_.pipeClosed = true; }, 0, 0},
      {"a link out of the course for ten minutes and back, then closed; the pipe keeps it: asked to close", 900,
       [](Rig& b) { b.pages_ = Rig::Pages({}); }, 1, 0,
       [](Rig& b, double t) {
         b.pages_ = Rig::Pages({t >= 100 && t < 700 ? "https://example.org/" : Rig::kOurs});
       }},
      {"lingering, deaf to Browser.close: ended by force", 25,
       [](Rig& b) {
         b.pages_ = Rig::Pages({});
         b.platform_.devTools = [&b](const std::string&) { return b.pages_; };
       }, 1, 1},
      {"no answer for a minute while it runs: no miss", 300,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; b.platform_.pipeClosed = true; }, 0, 0,
       [](Rig& b, double t) { b.answering_ = !(t >= 100 && t < 160); }},
      {"remote debugging refused (never an answer): the process is the watch", 1800,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; }, 0, 0,
       [](Rig& b, double) { b.answering_ = false; }},
      {"refused by policy with an empty list: the process is the watch", 1800,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; }, 0, 0,
       [](Rig& b, double) { b.pages_ = Rig::Pages({}); }},
      {"the pipe closed early: the process is the watch", 1800,
       [](Rig& b) { b.platform_.process = ProcessState::kExited; }, 0, 0,
       [](Rig& b, double) { b.platform_.pipeClosed = true; }},
  };
  for (const Case& c : cases) {
    Rig b;
    b.pages_ = Rig::Pages({Rig::kOurs});
    if (c.before) c.before(b, 0);
    const double lasted = b.RunWatch([&](double t) {
      if (c.before) c.before(b, t);
      if (t >= c.at) c.goes(b);
    });
    EXPECT_GE(lasted, c.at) << c.name;
    EXPECT_LE(lasted, c.at + 20) << c.name;
    EXPECT_EQ(b.Count("Browser.close"), c.closes) << c.name;
    EXPECT_EQ(b.Count("end"), c.ends) << c.name;
  }
}

// A browser that never answers gets one Target.getTargets, not one per pass piling up in the pipe.
TEST_F(OwnBrowser, OneUnansweredCommandAtATime) {
  answering_ = false;
  RunWatch([&](double t) {
    if (t >= 600) platform_.process = ProcessState::kExited;
  });
  EXPECT_EQ(Count("Target.getTargets"), 1);
}

TEST_F(OwnBrowser, FirefoxIsItsProcess) {
  choice_.kind = BrowserKind::kFirefox;
  const double lasted = RunWatch([&](double t) {
    if (t >= 3600) platform_.process = ProcessState::kExited;
  });
  EXPECT_GE(lasted, 3600);
  EXPECT_LE(lasted, 3600 + 20);
  EXPECT_EQ(Count("end"), 0);
}

TEST_F(OwnBrowser, AStopRequestClosesTheCoursesOwnBrowser) {
  choice_.kind = BrowserKind::kFirefox;
  platform_.stopAfterSleeps = 3;
  RunWatch([](double) {});
  EXPECT_EQ(Count("end"), 1);
}

}  // namespace
