// The start-up driver with the real archive and the real server, through a recording env.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "launcher/session.h"
#include "launcher/startup.h"
#include "tests/launcher/fixtures.h"
#include "tests/launcher/recording_env.h"

namespace {

const std::wstring kProgram = L"C:\\Program Files\\Orvane\\orvane.exe";

// One run of the driver with the Windows candidate rule over `args`.
struct DriverRun {
  RecordingEnv env;
  int exitCode = -1;

  explicit DriverRun(std::vector<std::wstring> args, bool present = true) {
    CommandLine commandLine;
    commandLine.present = present;
    commandLine.args = std::move(args);
    commandLine.candidate = ArchiveCandidateIndex(commandLine.args);
    exitCode = RunLauncher(env, commandLine);
  }

  std::wstring StartUrl() const { return env.launches.empty() ? L"" : env.launches[0]; }
  // The start URL after SessionUrl.
  std::wstring Tail() const {
    const std::wstring url = StartUrl();
    return url.compare(0, SessionUrl.size(), SessionUrl) == 0 ? url.substr(SessionUrl.size()) : L"<" + url + L">";
  }
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(Driver, SessionUrlIsTheServersBaseUrlAndThePrefix) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  EXPECT_EQ(SessionPrefix, "ff/");
  ASSERT_TRUE(StartsWith(SessionUrl, L"http://127.0.0.1:")) << WideToAnsi(SessionUrl);
  EXPECT_EQ(SessionUrl.substr(SessionUrl.size() - 4), L"/ff/");
  EXPECT_EQ(SessionUrl.find(L":0/"), std::wstring::npos) << "a system-chosen port, never 0";
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
    const std::size_t colon = SessionUrl.rfind(L':');
    port = static_cast<unsigned>(std::stoul(SessionUrl.substr(colon + 1)));
  }
  RecordingEnv env;
  env.port = port;
  env.tick = 4096;
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  EXPECT_EQ(SessionUrl, L"http://127.0.0.1:" + std::to_wstring(port) + L"/1000/");
  EXPECT_EQ(env.startPageStatus, 200);
}

TEST(Driver, CallsInOrderAndTearsDownAfterTheWatch) {
  DriverRun run({kProgram, Fixture("plain.zip")});
  const std::vector<std::string> want = {"tick", "com-begin", "port", "launch", "release-probe", "com-end"};
  EXPECT_EQ(run.env.calls, want);
}

TEST(Driver, WatchesALaunchedBrowserUntilThreeMisses) {
  RecordingEnv env;
  env.launchSucceeds = true;
  CommandLine commandLine{true, {kProgram, Fixture("plain.zip")}, 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  const std::vector<std::string> want = {"tick", "com-begin", "port", "launch",
                                         "sleep", "check", "close", "probe",
                                         "sleep", "probe", "sleep", "probe",
                                         "release-probe", "com-end"};
  EXPECT_EQ(env.calls, want);
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
    EXPECT_EQ(run.env.launches.size(), 1u);
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
  EXPECT_EQ(run.env.launches.size(), 1u);
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
      {"start_odd.zip", L"index.html?show=ok"},         // the odd last byte is no unit
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
  struct EarlyClientEnv : RecordingEnv {
    std::thread client;
    int status = 0;
    std::string body;
    bool IsExistingFile(const std::wstring& path) override {
      // Called after the server started, just before the archive is opened.
      const std::size_t colon = SessionUrl.rfind(L':');
      const auto serverPort = static_cast<std::uint16_t>(std::stoul(SessionUrl.substr(colon + 1)));
      client = std::thread([this, serverPort] {
        std::string raw;
        if (os::LoopbackGet(serverPort, "/ff/index.html", raw, 10000)) ParseHttpResponse(raw, status, body);
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the request reaches the server
      return RecordingEnv::IsExistingFile(path);
    }
  };
  EarlyClientEnv env;
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
