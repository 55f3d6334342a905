// The watch loop against a scripted browser and probe: which calls it makes, pass by pass.
#include <gtest/gtest.h>

#include <deque>

#include "http/handler.h"
#include "http/server.h"
#include "launcher/watch.h"

namespace {

// Answers from scripts; once a script runs out, the browser has exited and the probe misses.
class ScriptedEnv : public LauncherEnv {
 public:
  bool launchSucceeds = true;
  std::deque<BrowserState> states;
  std::deque<bool> probes;
  int stopAfterSleeps = -1;  // Sleep reports a stop request from this sleep on

  std::string log;  // one letter per call: L launch, S sleep, C check, X close, P probe

  std::uint32_t TickCount() override { return 0; }
  void BeginComApartment() override {}
  void EndComApartment() override {}
  std::uint32_t ReadHttpPort() override { return 0; }
  bool IsExistingFile(const std::wstring&) override { return false; }
  void ShowError(const std::wstring&) override {}
  bool LaunchBrowser(const std::wstring&) override {
    log += 'L';
    return launchSucceeds;
  }
  BrowserState CheckBrowser() override {
    log += 'C';
    return Next(states, BrowserState::kExited);
  }
  void CloseBrowser() override { log += 'X'; }
  bool ProbeBrowserWindow(const HttpServer&) override {
    log += 'P';
    return Next(probes, false);
  }
  void ReleaseProbe() override {}
  bool Sleep(std::uint32_t ms) override {
    EXPECT_EQ(ms, 5000u);
    if (stopAfterSleeps == 0) return false;
    if (stopAfterSleeps > 0) --stopAfterSleeps;
    log += 'S';
    return true;
  }

 private:
  template <class T>
  static T Next(std::deque<T>& script, T otherwise) {
    if (script.empty()) return otherwise;
    T value = script.front();
    script.pop_front();
    return value;
  }
};

std::string Watch(ScriptedEnv& env) {
  NotFoundHandler handler;
  const HttpServer server(handler);  // only handed on to the probe, which is scripted here
  LaunchAndWatch(env, server, L"http://127.0.0.1:1/ff/index.html");
  return env.log;
}

TEST(Watch, AFailedLaunchEndsAtOnce) {
  ScriptedEnv env;
  env.launchSucceeds = false;
  EXPECT_EQ(Watch(env), "L");
}

TEST(Watch, ExitNoticedInTheFirstPassThenThreeMisses) {
  ScriptedEnv env;
  EXPECT_EQ(Watch(env), "LSCXP" "SP" "SP");
}

TEST(Watch, NoProbeWhileTheBrowserRuns) {
  ScriptedEnv env;
  env.states.assign(4, BrowserState::kRunning);
  EXPECT_EQ(Watch(env), "LSCSCSCSC" "SCXP" "SP" "SP");
}

TEST(Watch, AHitAfterTwoMissesStartsTheCountAgain) {
  ScriptedEnv env;
  env.probes = {false, false, true};
  EXPECT_EQ(Watch(env), "LSCXP" "SP" "SP" "SP" "SP" "SP");
}

TEST(Watch, AFailedWaitKeepsTheHandleAndLetsTheProbeDecide) {
  ScriptedEnv env;
  env.states = {BrowserState::kUnknown, BrowserState::kUnknown, BrowserState::kRunning,
                BrowserState::kUnknown, BrowserState::kUnknown, BrowserState::kUnknown};
  // Two misses, then a running browser clears the count, then three misses with the handle still
  // held: it is closed on return.
  EXPECT_EQ(Watch(env), "LSCP" "SCP" "SC" "SCP" "SCP" "SCP" "X");
}

TEST(Watch, AStopRequestEndsTheWatchAndLetsGoOfTheBrowser) {
  ScriptedEnv env;
  env.states.assign(100, BrowserState::kRunning);
  env.stopAfterSleeps = 2;
  EXPECT_EQ(Watch(env), "LSCSC" "X");
}

TEST(Watch, AStopRequestWhileProbing) {
  ScriptedEnv env;
  env.stopAfterSleeps = 2;
  EXPECT_EQ(Watch(env), "LSCXP" "SP");
}

}  // namespace
