// The start-up driver with the real archive and the real server, through a recording env.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <list>
#include <thread>

#include "amzip/archive.h"
#include "content/archive_handler.h"
#include "http/handler.h"
#include "http/server.h"
#include "launcher/run/course_identity.h"
#include "launcher/run/course_profile.h"
#include "launcher/run/session.h"
#include "launcher/run/startup.h"
#include "tests/launcher/fixtures.h"
#include "tests/launcher/fake_platform.h"
#include "launcher/run/settings.h"

namespace {

const std::wstring kProgram = L"C:\\Program Files\\Orvane\\orvane.exe";

// One run of the driver with the Windows candidate rule over `args`; the browser starts and the
// watch is told to stop at once, so the run ends right after it.
struct DriverRun {
  FakePlatform env;
  int exitCode = -1;

  explicit DriverRun(std::vector<std::wstring> args, bool present = true,
                     std::function<void(FakePlatform&)> setUp = nullptr) {
    env.maxSleeps = 0;
    if (setUp) setUp(env);
    CommandLine commandLine;
    commandLine.present = present;
    commandLine.args = std::move(args);
    commandLine.candidate = ArchiveCandidateIndex(commandLine.args);
    exitCode = RunLauncher(env, env, env.settings, commandLine);
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

unsigned PortOf(const std::wstring& url) {
  const std::size_t colon = url.find(L':', 5);
  return static_cast<unsigned>(std::stoul(url.substr(colon + 1)));
}

// A copy of plain.zip named `name` in a folder of this test's own: a course no other test
// (tests may run in parallel processes) opens, with ports of its own.
std::wstring CourseCopy(const std::string& name, const std::string& fixture = "plain.zip") {
  const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) /
                                       ("driver-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(WideToAnsi(Fixture(fixture)), folder / name,
                             std::filesystem::copy_options::overwrite_existing);
  return AnsiToWide((folder / name).string());
}

std::wstring IdentityOfCourse(const std::wstring& path) {
  amzip::ZipArchive archive;
  archive.OpenFile(path);
  return CourseIdentityOf(archive, path);
}

// The course's profile folder for the fake data folder "/data".
std::wstring ProfileOf(const std::wstring& identity) {
  return std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator + CourseProfileName(identity);
}

TEST(Driver, SessionUrlIsTheServersBaseUrlAndTheCoursesPrefix) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  const std::wstring sessionUrl = run.SessionUrl();
  ASSERT_TRUE(StartsWith(sessionUrl, L"http://127.0.0.1:")) << WideToAnsi(sessionUrl);
  EXPECT_EQ(sessionUrl.substr(sessionUrl.find(L'/', 8) + 1), AnsiToWide(CoursePrefix(IdentityOfCourse(Fixture("plain.zip")))));
  EXPECT_EQ(sessionUrl.find(L":0/"), std::wstring::npos) << "a port, never 0";
  EXPECT_EQ(run.Tail(), L"index.html");
  // The server answers the start page from the archive named on the command line.
  EXPECT_EQ(run.env.startPageStatus, 200);
  EXPECT_EQ(run.env.startPageBody, "<p>plain</p>\n");
  EXPECT_TRUE(run.env.errors.empty());
  EXPECT_EQ(run.exitCode, 0);
}

TEST(Driver, UsesThePortSetting) {
  // A port known to be free: the one the system chose for a server, now closed again.
  unsigned port = 0;
  {
    NotFoundHandler handler;
    HttpServer server(handler);
    port = PortOf(AnsiToWide(server.Start(0)));
  }
  DriverRun run({kProgram, Fixture("start_abc.zip")}, true, [&](FakePlatform& p) { p.settings.httpPort = port; });
  EXPECT_EQ(run.StartUrl(), L"http://127.0.0.1:" + std::to_wstring(port) + L"/" +
                                AnsiToWide(CoursePrefix(IdentityOfCourse(Fixture("start_abc.zip")))) + L"index.html?show=abc");
  EXPECT_EQ(run.env.startPageStatus, 200);
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

// The course's first port; another program on it: the next of the course's ports, remembered in
// its profile only when held on two runs in a row, and a message naming the port held. Every one
// of them held: the port the system hands out, said so and never remembered.
TEST(Driver, TheCoursesPortIsRememberedAndAnotherProgramOnItMovesItOn) {
  const std::wstring course = CourseCopy("Safety.zip");
  const std::vector<std::uint16_t> ports = CoursePorts(IdentityOfCourse(course));
  std::map<std::wstring, std::string> kept;  // the profile's files from run to run
  const auto withProfile = [&](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.files = kept;
  };
  {
    DriverRun first({kProgram, course}, true, withProfile);
    EXPECT_EQ(PortOf(first.SessionUrl()), ports[0]);
    kept = first.env.files;
  }
  const auto heldRun = [&] {
    const HeldPort other(ports[0]);
    ASSERT_EQ(other.port, ports[0]);
    DriverRun second({kProgram, course}, true, withProfile);
    EXPECT_EQ(PortOf(second.SessionUrl()), ports[1]);
    EXPECT_EQ(second.env.startPageStatus, 200);
    ASSERT_EQ(second.env.errors.size(), 1u);
    EXPECT_NE(second.env.errors[0].find(L"Another program uses this course's address (port " + std::to_wstring(ports[0])),
              std::wstring::npos) << WideToAnsi(second.env.errors[0]);
    kept = second.env.files;
  };
  heldRun();
  {
    DriverRun free({kProgram, course}, true, withProfile);
    EXPECT_EQ(PortOf(free.SessionUrl()), ports[0]) << "a port held once keeps the course's address";
    EXPECT_TRUE(free.env.errors.empty());
    kept = free.env.files;
  }
  heldRun();
  heldRun();
  DriverRun third({kProgram, course}, true, withProfile);
  EXPECT_EQ(PortOf(third.SessionUrl()), ports[1]) << "held twice in a row: the port it got, though the first is free";
  kept = third.env.files;
  {
    std::list<HeldPort> others;
    for (const std::uint16_t port : ports) ASSERT_EQ(others.emplace_back(port).port, port);
    for (int held = 0; held < 2; ++held) {
      DriverRun crowded({kProgram, course}, true, withProfile);
      const unsigned port = PortOf(crowded.SessionUrl());
      EXPECT_GT(port, kCoursePortLast);
      ASSERT_EQ(crowded.env.errors.size(), 1u);
      EXPECT_NE(crowded.env.errors[0].find(L"port " + std::to_wstring(port) + L", one the system handed out"),
                std::wstring::npos) << WideToAnsi(crowded.env.errors[0]);
      kept = crowded.env.files;
    }
  }
  DriverRun after({kProgram, course}, true, withProfile);
  EXPECT_EQ(PortOf(after.SessionUrl()), ports[1]) << "the system's port is never remembered";
  EXPECT_TRUE(after.env.errors.empty());
  // Without a profile nothing is remembered: the course's first port.
  DriverRun none({kProgram, course});
  EXPECT_EQ(PortOf(none.SessionUrl()), ports[0]);
}

// HttpPort fixed and taken: an error that names the port, no browser on a URL that cannot work,
// exit 1.
TEST(Driver, AnHttpPortThatCannotBeUsedIsAnErrorAndNoBrowserStarts) {
  const HeldPort taken;
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [&](FakePlatform& p) { p.settings.httpPort = taken.port; });
  ASSERT_EQ(run.env.errors.size(), 1u);
  EXPECT_NE(run.env.errors[0].find(std::to_wstring(taken.port)), std::wstring::npos)
      << WideToAnsi(run.env.errors[0]);
  EXPECT_TRUE(run.env.started.empty());
  EXPECT_EQ(run.exitCode, 1);
}

// No course, no browser: one message each, exit 1, and no browser started on a course that
// cannot be served.
TEST(Driver, FailuresSaySoAndEndWithOne) {
  struct Case {
    std::vector<std::wstring> args;
    bool startSucceeds;
    std::wstring says;  // a piece of the one message
  } cases[] = {
      {{kProgram, Fixture("not_an_archive.txt")}, true, Fixture("not_an_archive.txt")},
      {{kProgram, Fixture("missing.zip"), L"b=2"}, true, L"no such file"},
      {{kProgram, Fixture("folder.zip")}, true, Fixture("folder.zip")},
      {{kProgram}, true, L"No course"},
      {{kProgram, Fixture("plain.zip")}, false, NoBrowserMessage()},
  };
  for (const Case& c : cases) {
    DriverRun run(c.args, true, [&](FakePlatform& p) { p.startSucceeds = c.startSucceeds; });
    EXPECT_EQ(run.exitCode, 1) << WideToAnsi(c.says);
    ASSERT_EQ(run.env.errors.size(), 1u) << WideToAnsi(c.says);
    EXPECT_NE(run.env.errors[0].find(c.says), std::wstring::npos) << WideToAnsi(run.env.errors[0]);
    EXPECT_EQ(run.env.started.size(), c.startSucceeds ? 0u : 1u) << WideToAnsi(c.says);
  }
  // Nothing found to start at all (no $BROWSER, no browser, no opener).
  DriverRun none({kProgram, Fixture("plain.zip")}, true, [](FakePlatform& p) { p.facts = BrowserFacts{}; });
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.env.errors, std::vector<std::wstring>{NoBrowserMessage()});
}

// A browser of the course's own gets the course's profile folder in the user's data folder.
TEST(Driver, ABrowserOfTheCoursesOwnGetsTheCoursesProfile) {
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/chromium"};
    p.maxSleeps = 1;  // one pass of the watch
  });
  ASSERT_EQ(run.env.started.size(), 1u);
  const std::wstring course = ProfileOf(IdentityOfCourse(Fixture("plain.zip")));
  EXPECT_TRUE(run.env.started[0].messagePipe) << "Chromium's DevTools pipe";
  EXPECT_EQ(run.env.started[0].folder, course + L"/chromium");
  EXPECT_EQ(run.env.started[0].args[0], L"--user-data-dir=" + course + L"/chromium");
  EXPECT_EQ(run.env.folders.count(course + L"/chromium"), 1u);
  EXPECT_EQ(run.env.folders[course], run.env.unixNow) << "marked used";
  const std::wstring serving = course + kPathSeparator + L"serving";
  const std::string served = std::to_string(PortOf(run.SessionUrl())) + "\n";
  // Where it serves, once its browser has asked for a page; withdrawn when the browser shows no
  // page (the fake's process has ended) and as the run ends.
  EXPECT_EQ(run.env.written[serving], (std::vector<std::string>{"", served, "", ""}));
  // A browser that has asked for nothing may not hold the profile yet: a second run's hand-over
  // could take it first. Where the run serves is said after 10 s all the same.
  for (const int passes : {1, 2}) {
    DriverRun silent({kProgram, Fixture("plain.zip")}, true, [&](FakePlatform& p) {
      p.dataFolder = L"/data";
      p.facts.installed = {L"/usr/bin/chromium"};
      p.browserAsks = false;
      p.maxSleeps = passes;
    });
    const std::string port = std::to_string(PortOf(silent.SessionUrl())) + "\n";
    const std::vector<std::string> want =
        passes == 2 ? std::vector<std::string>{"", port, "", ""} : std::vector<std::string>{"", ""};
    EXPECT_EQ(silent.env.written[serving], want) << passes << " passes";
  }
  // No data folder: the same browser as a plain command, watched by activity.
  DriverRun none({kProgram, Fixture("plain.zip")}, true,
                 [](FakePlatform& p) { p.facts.installed = {L"/usr/bin/chromium"}; });
  ASSERT_EQ(none.env.started.size(), 1u);
  EXPECT_FALSE(none.env.started[0].messagePipe);
  EXPECT_EQ(none.env.started[0].args.size(), 1u) << "the URL, no profile";
}

// Firefox holds the course's profile for another run: this run's Firefox gets one beside it.
TEST(Driver, ASecondFirefoxRunGetsAProfileBesideTheFirst) {
  const std::wstring course = ProfileOf(IdentityOfCourse(Fixture("plain.zip")));
  DriverRun run({kProgram, Fixture("plain.zip")}, true, [&](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/firefox"};
    p.firefoxInUse = {course + L"/firefox", course + L"/firefox-2"};
  });
  ASSERT_EQ(run.env.started.size(), 1u);
  EXPECT_EQ(run.env.started[0].program, L"/usr/bin/firefox");
  EXPECT_EQ(run.env.started[0].folder, course + L"/firefox-3");
  EXPECT_EQ(run.env.started[0].args[1], course + L"/firefox-3");
  EXPECT_EQ(run.env.folders.count(course + L"/firefox-3"), 1u);
}

// A first run of `course` with a Chromium of the course's own, serving on its thread until the
// test ends it.
struct FirstRun {
  FakePlatform env;
  std::atomic<bool> serving{false}, done{false};
  std::thread thread;
  explicit FirstRun(const std::wstring& course) {
    env.dataFolder = L"/data";
    env.facts.installed = {L"/usr/bin/chromium"};
    env.process = ProcessState::kRunning;  // its window stays open
    env.onSleep = [this](FakePlatform& p) {
      if (p.sleeps >= 2) serving = true;  // the first pass has said where it serves
      if (done) p.maxSleeps = p.sleeps;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    thread = std::thread([this, course] { RunLauncher(env, env, env.settings, CommandLine{true, {kProgram, course}, 1}); });
    while (!serving) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~FirstRun() {
    done = true;
    thread.join();
  }
};

// The course is open: a second run hands its page to the browser that holds the course's
// profile, at the first run's address, and ends with 0; the first keeps serving.
// The pages compare whole, of any size.
TEST(Driver, ASecondRunHandsItsPageToTheFirstRunAndEnds) {
  const std::wstring course = CourseCopy("Twice.zip", "big_page.zip");
  FirstRun first(course);
  const std::wstring firstUrl = first.env.started.at(0).args.back();
  DriverRun second({kProgram, course, L"x=1"}, true, [&](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/chromium"};
    p.lockedElsewhere = {ProfileOf(IdentityOfCourse(course))};
    p.files = first.env.files;  // where the first run serves
  });
  EXPECT_EQ(second.exitCode, 0);
  ASSERT_EQ(second.env.started.size(), 1u);
  const std::vector<std::wstring> handOver = {L"--user-data-dir=" + ProfileOf(IdentityOfCourse(course)) + L"/chromium",
                                              firstUrl + L"?x=1"};
  EXPECT_EQ(second.env.started[0].args, handOver);
  EXPECT_EQ(second.env.startPageStatus, 200) << "the first run answers the page";
  EXPECT_EQ(second.env.sleeps, 0);
  EXPECT_TRUE(second.env.errors.empty());
  EXPECT_EQ(second.env.folders.count(ProfileOf(IdentityOfCourse(course))), 0u) << "nothing of the profile touched";
  EXPECT_EQ(second.env.folders.count(ProfileOf(IdentityOfCourse(course)) + L"/chromium"), 0u);
}

// The profile is held, but what answers on the remembered port is no run of this course:
// another program, another course, or another archive under this course's name. The second run
// looks for a while, then serves the course itself on another port, without the profile.
TEST(Driver, AHeldProfileIsTrustedOnlyWhenItsPortAnswersTheCoursesPage) {
  const std::wstring course = CourseCopy("Held.zip");
  amzip::ZipArchive other;
  other.OpenFile(Fixture("start_abc.zip"));
  ArchiveHandler otherCourse(other, CoursePrefix(IdentityOfCourse(Fixture("start_abc.zip"))));
  ArchiveHandler sameNameOtherArchive(other, CoursePrefix(IdentityOfCourse(course)));
  NotFoundHandler otherProgram;
  for (HttpHandler* handler : std::vector<HttpHandler*>{&otherProgram, &otherCourse, &sameNameOtherArchive}) {
    HttpServer server(*handler);
    const unsigned port = PortOf(AnsiToWide(server.Start(0)));
    DriverRun run({kProgram, course}, true, [&](FakePlatform& p) {
      p.dataFolder = L"/data";
      p.maxSleeps = 25;  // the watch's first sleep ends the run
      p.lockedElsewhere = {ProfileOf(IdentityOfCourse(course))};
      p.files[ProfileOf(IdentityOfCourse(course)) + kPathSeparator + L"serving"] = std::to_string(port) + "\n";
    });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.env.sleeps, 25) << "looked for 5 s";
    EXPECT_NE(PortOf(run.SessionUrl()), port);
    EXPECT_EQ(run.env.startPageBody, "<p>plain</p>\n") << "served by itself";
    EXPECT_EQ(run.env.folders.count(ProfileOf(IdentityOfCourse(course))), 0u) << "not the held profile";
  }
}

// The profile is held by a run whose browser shows no page (it has withdrawn its address, and
// ends soon): no hand-over to it; the second run waits for its lock and starts on its own with
// the course's profile.
TEST(Driver, ARunShowingNoPageGetsNoHandOverTheNextWaitsForItsEnd) {
  const std::wstring course = CourseCopy("Ending.zip");
  const std::wstring profile = ProfileOf(IdentityOfCourse(course));
  DriverRun run({kProgram, course}, true, [&](FakePlatform& p) {
    p.dataFolder = L"/data";
    p.facts.installed = {L"/usr/bin/chromium"};
    p.lockedElsewhere = {profile};
    p.files[profile + kPathSeparator + L"serving"] = "";
    p.maxSleeps = 110;
    p.onSleep = [&](FakePlatform& env) {
      if (env.sleeps == 100) env.lockedElsewhere.clear();  // 20 s later the first run has ended
    };
  });
  ASSERT_EQ(run.env.started.size(), 1u);
  EXPECT_EQ(run.env.started[0].folder, profile + L"/chromium") << "its own browser, with the profile";
  EXPECT_GE(run.env.sleeps, 100);
  EXPECT_EQ(run.exitCode, 0);
}

TEST(Driver, CallsInOrderAndTearsDownAfterTheWatch) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  const std::vector<std::string> want = {"facts", "start"};
  EXPECT_EQ(run.env.calls, want);
}

// The system opener hands the page over and ends: the run lives on the server's activity, for 30
// minutes after the last request, and says so.
TEST(Driver, AnUnwatchableBrowserLivesThirtyMinutesAfterTheLastRequest) {
  FakePlatform env;
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, env, env.settings, commandLine), 0);
  ASSERT_EQ(env.started.size(), 1u);
  EXPECT_EQ(env.started[0].program, L"/usr/bin/xdg-open");
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

// As the caller wrote them, but what cannot stand in a URL is percent-encoded as UTF-8.
TEST(Driver, ArgumentsKeepTheirMeaningAndWhatCannotStandInAUrlIsEncoded) {
  DriverRun run({kProgram, Fixture("plain.zip"), L"name=J\u00fcrgen M\u00fcller", L"\"q\"<>#", L"&",
                 L"a%41+b=c", L"t\tn\x7f", L"\u20ac\U0001F600"});
  EXPECT_EQ(run.Tail(), L"index.html?name=J%C3%BCrgen%20M%C3%BCller&%22q%22%3C%3E%23&&&a%41+b=c&t%09n%7F"
                        L"&%E2%82%AC%F0%9F%98%80");
}

TEST(Driver, ExeInAnyLetterCaseMakesArgv1TheCandidate) {
  for (const wchar_t* program : {L"orvane.exe", L"ORVANE.EXE", L"C:\\x\\Orvane.Exe"}) {
    DriverRun run({program, Fixture("start_abc.zip"), L"q"});
    EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{Fixture("start_abc.zip")}) << WideToAnsi(program);
    EXPECT_EQ(run.Tail(), L"index.html?q&show=abc") << WideToAnsi(program);
  }
}

TEST(Driver, WithoutExeArgv0IsTheCandidate) {
  // argv[0] is tried as the archive; so argv[1] is the first query argument.
  DriverRun run({Fixture("start_abc.zip"), L"a=1"});
  EXPECT_EQ(run.env.fileChecks, std::vector<std::wstring>{Fixture("start_abc.zip")});
  EXPECT_EQ(run.Tail(), L"index.html?a=1&show=abc");
  EXPECT_EQ(run.env.startPageBody, "<p>start_abc</p>\n");
}

TEST(Driver, NoCommandLineAtAll) {
  DriverRun run({kProgram, Fixture("plain.zip"), L"a"}, /*present=*/false);
  EXPECT_TRUE(run.env.fileChecks.empty());
  EXPECT_EQ(run.env.errors.size(), 1u) << "this test program carries no course";
  EXPECT_EQ(run.exitCode, 1);
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
      {"start_pair.zip", L"index.html?show=a%F0%9F%98%80"},
      // Text, not URL syntax: encoded whole, as encodeURIComponent does.
      {"start_text.zip", L"index.html?show=Kapitel%202%20%E2%80%93%20%C3%9Cbung%20%26%20Test%20%233%2050%25"
                         L"%20a%2Bb%3Dc%3F-_.!~*'()"},
  };
  for (const Case& c : cases) {
    DriverRun run({kProgram, Fixture(c.archive)});
    EXPECT_EQ(run.Tail(), c.tail) << c.archive;
    EXPECT_TRUE(run.env.errors.empty()) << c.archive;
  }
}

TEST(Driver, ALongStartTextArrivesWhole) {
  DriverRun run({kProgram, Fixture("start_long.zip"), L"x", L"y"});
  EXPECT_EQ(run.Tail(), L"index.html?x&y&show=" + std::wstring(70000, L'x'));
  EXPECT_EQ(run.env.startPageStatus, 200);
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
