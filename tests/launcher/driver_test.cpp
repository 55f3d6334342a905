// The start-up driver with the real archive and the real server, through a recording env.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "http/handler.h"
#include "http/server.h"
#include "launcher/run/course_profile.h"
#include "launcher/run/session.h"
#include "launcher/run/startup.h"
#include "tests/launcher/fixtures.h"
#include "tests/launcher/fake_platform.h"

namespace {

const std::wstring kProgram = L"C:\\Program Files\\Orvane\\orvane.exe";

// One run of the driver with the Windows candidate rule over `args`; the browser's start fails,
// so the run ends right after it.
struct DriverRun {
  FakePlatform env;
  int exitCode = -1;

  explicit DriverRun(std::vector<std::wstring> args, bool present = true,
                     std::function<void(FakePlatform&)> setUp = nullptr) {
    env.startSucceeds = false;
    if (setUp) setUp(env);
    CommandLine commandLine;
    commandLine.present = present;
    commandLine.args = std::move(args);
    commandLine.candidate = ArchiveCandidateIndex(commandLine.args);
    exitCode = RunLauncher(env, commandLine);
  }

  std::wstring StartUrl() const { return env.started.empty() ? L"" : env.started[0].args.back(); }
  // The run's URL: the start URL up to its page.
  std::wstring SessionUrl() const { return StartUrl().substr(0, StartUrl().find(L"index.html")); }
  // The start URL after the run's URL.
  std::wstring Tail() const {
    const std::wstring url = StartUrl();
    return url.empty() ? L"<no launch>" : url.substr(SessionUrl().size());
  }
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(Driver, SessionUrlIsTheServersBaseUrlAndThePrefix) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  const std::wstring sessionUrl = run.SessionUrl();
  ASSERT_TRUE(StartsWith(sessionUrl, L"http://127.0.0.1:")) << WideToAnsi(sessionUrl);
  EXPECT_EQ(sessionUrl.substr(sessionUrl.size() - 4), L"/ff/");
  EXPECT_EQ(sessionUrl.find(L":0/"), std::wstring::npos) << "a system-chosen port, never 0";
  EXPECT_EQ(run.Tail(), L"index.html");
  // The server answers the start page from the archive named on the command line.
  EXPECT_EQ(run.env.startPageStatus, 200);
  EXPECT_EQ(run.env.startPageBody, "<p>plain</p>\n");
  EXPECT_TRUE(run.env.errors.empty());
  EXPECT_EQ(run.exitCode, 0);
}

TEST(Driver, UsesThePortSetting) {
  // A port known to be free: the one the system chose for a first run, now closed again.
  unsigned port = 0;
  {
    DriverRun first({kProgram, Fixture("plain.zip")});
    const std::wstring sessionUrl = first.SessionUrl();
    port = static_cast<unsigned>(std::stoul(sessionUrl.substr(sessionUrl.rfind(L':') + 1)));
  }
  FakePlatform env;
  env.startSucceeds = false;
  env.port = port;
  env.tick = 4096;
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  ASSERT_EQ(env.started.size(), 1u);
  EXPECT_EQ(env.started[0].args.back(), L"http://127.0.0.1:" + std::to_wstring(port) + L"/1000/index.html");
  EXPECT_EQ(env.startPageStatus, 200);
}

unsigned PortOf(const std::wstring& url) {
  const std::size_t colon = url.find(L':', 5);
  return static_cast<unsigned>(std::stoul(url.substr(colon + 1)));
}

// A port some other program holds: a server of our own, listening.
struct HeldPort {
  NotFoundHandler handler;
  HttpServer holder{handler};
  unsigned port = 0;
  explicit HeldPort(std::uint32_t wanted = 0) {
    port = PortOf(AnsiToWide(holder.Start(wanted)));
  }
};

// The ports below belong to courses no other test opens (tests may run in parallel processes):
// embedded courses, known by the launcher's own name.
TEST(Driver, WithoutHttpPortTheCourseHasAPortOfItsOwn) {
  DriverRun run({kProgram, L"a=1"}, true, [](FakePlatform& p) { p.ownProgram = L"/opt/x/Safety.exe"; });
  EXPECT_EQ(PortOf(run.SessionUrl()), CoursePort(L"safety.exe"));
  EXPECT_NE(run.env.startPageStatus, 0) << "answered (this program carries no course)";
}

TEST(Driver, TheCoursesPortTakenTheSystemChooses) {
  const HeldPort taken(CoursePort(L"taken.exe"));
  ASSERT_EQ(taken.port, CoursePort(L"taken.exe"));
  DriverRun run({kProgram, L"a=1"}, true, [](FakePlatform& p) { p.ownProgram = L"C:\\x\\Taken.exe"; });
  EXPECT_NE(PortOf(run.SessionUrl()), taken.port);
  EXPECT_EQ(run.env.errors, std::vector<std::wstring>{L"Invalid state"}) << "only the missing course";
  EXPECT_NE(run.env.startPageStatus, 0) << "answered on the system's port";
}

// HttpPort fixed and taken: an error that names the port, and no browser on a URL that cannot
// work.
TEST(Driver, AnHttpPortThatCannotBeUsedIsAnErrorAndNoBrowserStarts) {
  const HeldPort taken;
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [&](FakePlatform& p) { p.port = taken.port; });
  ASSERT_EQ(run.env.errors.size(), 1u);
  EXPECT_NE(run.env.errors[0].find(std::to_wstring(taken.port)), std::wstring::npos)
      << WideToAnsi(run.env.errors[0]);
  EXPECT_TRUE(run.env.started.empty());
  EXPECT_EQ(run.exitCode, 0);
}

// A browser of the course's own gets the course's profile folder in the user's data folder.
TEST(Driver, ABrowserOfTheCoursesOwnGetsTheCoursesProfile) {
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/chromium"};
  });
  ASSERT_EQ(run.env.started.size(), 1u);
  const std::wstring course =
      std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator + CourseProfileName(L"plain.zip");
  EXPECT_EQ(run.env.started[0].kind, BrowserKind::kChromium);
  EXPECT_EQ(run.env.started[0].profileDir, course + L"/chromium");
  EXPECT_EQ(run.env.started[0].args[0], L"--user-data-dir=" + course + L"/chromium");
  EXPECT_EQ(run.env.folders.count(course + L"/chromium"), 1u);
  EXPECT_EQ(run.env.folders[course], run.env.unixNow) << "marked used";
  // No data folder: the same browser as a plain command, watched by activity.
  DriverRun none({kProgram, Fixture("plain.zip")}, true,
                 [](FakePlatform& p) { p.facts.installed = {L"/usr/bin/chromium"}; });
  ASSERT_EQ(none.env.started.size(), 1u);
  EXPECT_EQ(none.env.started[0].kind, BrowserKind::kCommand);
  EXPECT_EQ(none.env.started[0].args.size(), 1u);
}

// Firefox holds the course's profile for another run: this run's Firefox gets one beside it.
TEST(Driver, ASecondFirefoxRunGetsAProfileBesideTheFirst) {
  const std::wstring course =
      std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator + CourseProfileName(L"plain.zip");
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [&](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/firefox"};
    p.firefoxInUse = {course + L"/firefox", course + L"/firefox-2"};
  });
  ASSERT_EQ(run.env.started.size(), 1u);
  EXPECT_EQ(run.env.started[0].kind, BrowserKind::kFirefox);
  EXPECT_EQ(run.env.started[0].profileDir, course + L"/firefox-3");
  EXPECT_EQ(run.env.started[0].args[1], course + L"/firefox-3");
  EXPECT_EQ(run.env.folders.count(course + L"/firefox-3"), 1u);
}

TEST(Driver, CallsInOrderAndTearsDownAfterTheWatch) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  const std::vector<std::string> want = {"tick", "port", "facts", "start"};
  EXPECT_EQ(run.env.calls, want);
}

// The system opener hands the page over and ends: the run lives on the server's activity, for 30
// minutes after the last request, and says so.
TEST(Driver, AnUnwatchableBrowserLivesThirtyMinutesAfterTheLastRequest) {
  FakePlatform env;
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  ASSERT_EQ(env.started.size(), 1u);
  EXPECT_EQ(env.started[0].kind, BrowserKind::kOpener);
  EXPECT_EQ(env.startPageStatus, 200);
  ASSERT_EQ(env.notices.size(), 1u);
  EXPECT_NE(env.notices[0].find(L"30 minutes"), std::wstring::npos);
  // The start page was fetched at the start: 360 passes of 5 s reach 30 minutes, three misses
  // more end the run.
  EXPECT_EQ(env.sleeps, 360 + 3);
}

TEST(Driver, QueryArgumentsFollowTheArchive) {
  DriverRun run({kProgram, Fixture("plain.zip"), L"a=1", L"b=2"});
  EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{Fixture("plain.zip")});
  EXPECT_EQ(run.Tail(), L"index.html?a=1&b=2");
  EXPECT_TRUE(run.env.errors.empty());
}

TEST(Driver, ArgumentsAreAppendedVerbatim) {
  DriverRun run({kProgram, Fixture("plain.zip"), L"x y", L"\"q\"", L"&", L"\u00e9"});
  EXPECT_EQ(run.Tail(), L"index.html?x y&\"q\"&&&\u00e9");
}

TEST(Driver, ExeInAnyLetterCaseMakesArgv1TheCandidate) {
  for (const wchar_t* program : {L"orvane.exe", L"ORVANE.EXE", L"C:\\x\\Orvane.Exe"}) {
    DriverRun run({program, Fixture("start_abc.zip"), L"q"});
    EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{Fixture("start_abc.zip")}) << WideToAnsi(program);
    EXPECT_EQ(run.Tail(), L"index.html?q?show=abc") << WideToAnsi(program);
  }
}

TEST(Driver, WithoutExeArgv0IsTheCandidate) {
  // argv[0] is tried as the archive; so argv[1] is the first query argument.
  DriverRun run({Fixture("start_abc.zip"), L"a=1"});
  EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{Fixture("start_abc.zip")});
  EXPECT_EQ(run.Tail(), L"index.html?a=1?show=abc");
  EXPECT_EQ(run.env.startPageBody, "<p>start_abc</p>\n");
}

TEST(Driver, ACandidateThatIsNoFileIsDropped) {
  for (const std::wstring& candidate : {std::wstring(L"a=1"), Fixture("missing.zip")}) {
    DriverRun run({kProgram, candidate, L"b=2"});
    EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{candidate});
    EXPECT_EQ(run.Tail(), L"index.html?b=2");
    // Nothing opened and nothing embedded in this test program: the .start read reports it.
    EXPECT_EQ(run.env.errors, std::vector<std::wstring>{L"Invalid state"});
    EXPECT_EQ(run.env.started.size(), 1u);
  }
}

TEST(Driver, ADirectoryIsNoArchive) {
  DriverRun run({kProgram, Fixture("folder.zip")});
  EXPECT_EQ(run.Tail(), L"index.html");
  EXPECT_EQ(run.env.errors, std::vector<std::wstring>{L"Invalid state"});
}

TEST(Driver, AFileThatIsNoArchiveIsShownTwiceAndTheBrowserStillStarts) {
  DriverRun run({kProgram, Fixture("not_an_archive.txt"), L"k"});
  // Once from opening it, once from reading .start of the archive that counts as open.
  ASSERT_EQ(run.env.errors.size(), 2u);
  EXPECT_FALSE(run.env.errors[0].empty());
  EXPECT_NE(run.env.errors[0], L"Invalid state");
  EXPECT_EQ(run.env.started.size(), 1u);
  EXPECT_EQ(run.Tail(), L"index.html?k");
  EXPECT_NE(run.env.startPageStatus, 200);
}

TEST(Driver, NoCommandLineAtAll) {
  DriverRun run({kProgram, Fixture("plain.zip"), L"a"}, /*present=*/false);
  EXPECT_TRUE(run.env.fileChecks.empty());
  EXPECT_EQ(run.Tail(), L"index.html");
}

TEST(Driver, StartText) {
  struct Case {
    const char* archive;
    std::wstring tail;
  } cases[] = {
      {"plain.zip", L"index.html"},                     // no .start
      {"start0.zip", L"index.html"},                    // no bytes
      {"start2.zip", L"index.html"},                    // an empty UTF-16 string
      {"start_abc.zip", L"index.html?show=abc"},
      {"start_cut.zip", L"index.html?show=ab"},         // up to the first zero unit
      {"start_odd.zip", L"index.html?show=ok!"},        // the odd last byte is a character
      {"start_one.zip", L"index.html?show=z"},
      {"start_pair.zip", L"index.html?show=a" + Utf8ToWide("\xF0\x9F\x98\x80")},
  };
  for (const Case& c : cases) {
    DriverRun run({kProgram, Fixture(c.archive)});
    EXPECT_EQ(run.Tail(), c.tail) << c.archive;
    EXPECT_TRUE(run.env.errors.empty()) << c.archive;
  }
}

TEST(Driver, ALongStartTextArrivesWhole) {
  DriverRun run({kProgram, Fixture("start_long.zip"), L"x", L"y"});
  EXPECT_EQ(run.Tail(), L"index.html?x&y?show=" + std::wstring(70000, L'x'));
  EXPECT_EQ(run.env.startPageStatus, 200);
}

// The server listens before the archive is open. A request that arrives in between waits for
// the open and is answered from the archive, not from a half-read one (or none at all).
TEST(Driver, ARequestBeforeTheArchiveIsOpenIsAnsweredFromIt) {
  struct EarlyClientEnv : FakePlatform {
    std::thread client;
    int status = 0;
    std::string body;
    BrowserFacts GatherBrowserFacts() override {
      // Called after the server started on the HttpPort setting, before the archive is opened.
      const auto serverPort = static_cast<std::uint16_t>(port);
      client = std::thread([this, serverPort] {
        std::string raw;
        if (os::LoopbackGet(serverPort, "/ff/index.html", raw, 10000)) ParseHttpResponse(raw, status, body);
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the request reaches the server
      return FakePlatform::GatherBrowserFacts();
    }
  };
  EarlyClientEnv env;
  env.startSucceeds = false;
  env.port = HeldPort().port;  // free again once its holder is gone
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  ASSERT_TRUE(env.client.joinable());
  env.client.join();
  EXPECT_EQ(env.status, 200);
  EXPECT_EQ(env.body, "<p>plain</p>\n");
}

TEST(ArchiveCandidateIndex, ByTheExtensionOfArgv0) {
  struct Case {
    std::vector<std::wstring> args;
    std::size_t want;
  } cases[] = {
      {{}, 0},
      {{L"orvane.exe"}, 1},
      {{L"ORVANE.EXE", L"a"}, 1},
      {{L"o.eXe"}, 1},
      {{L"orvane"}, 0},
      {{L"orvane.com"}, 0},
      {{L"orvane.exe.txt"}, 0},
      {{L"C:\\dir.exe\\orvane"}, 0},  // the text after the last "." is "exe\orvane"
      {{L".exe"}, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArchiveCandidateIndex(c.args), c.want) << (c.args.empty() ? "" : WideToAnsi(c.args[0]));
  }
}

}  // namespace
