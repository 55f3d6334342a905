// The fallback to the archive that the executable carries: this test program is built with
// embedded.zip embedded (the RT_ZIP 777 resource on Windows, appended on POSIX).
#include <gtest/gtest.h>

#include "launcher/run/session.h"
#include "launcher/run/startup.h"
#include "tests/launcher/fixtures.h"
#include "tests/launcher/fake_platform.h"

namespace {

const std::wstring kProgram = L"orvane.exe";

std::wstring RunAndGetTail(FakePlatform& env, std::vector<std::wstring> args) {
  env.startSucceeds = false;
  CommandLine commandLine{true, std::move(args), 1};
  EXPECT_EQ(RunLauncher(env, commandLine), 0);
  if (env.started.size() != 1) return L"<no launch>";
  const std::wstring& url = env.started[0].args.back();
  return url.substr(url.find(L"index.html"));
}

TEST(EmbeddedArchive, UsedWhenTheCommandLineNamesNone) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram}), L"index.html?show=from-the-executable");
  EXPECT_TRUE(env.errors.empty());
  EXPECT_EQ(env.startPageStatus, 200);
  EXPECT_EQ(env.startPageBody, "<p>embedded</p>\n");
}

TEST(EmbeddedArchive, UsedWhenTheCandidateIsNoFile) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, Fixture("missing.zip"), L"b=2"}),
            L"index.html?b=2?show=from-the-executable");
  EXPECT_EQ(env.startPageBody, "<p>embedded</p>\n");
}

TEST(EmbeddedArchive, NotUsedWhenTheCommandLineOpenedOne) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, Fixture("start_abc.zip")}), L"index.html?show=abc");
  EXPECT_EQ(env.startPageBody, "<p>start_abc</p>\n");
}

TEST(EmbeddedArchive, NotUsedWhenTheCommandLineFileIsNoArchive) {
  // The file opened, so the archive counts as open: no fallback, and .start fails again.
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, Fixture("not_an_archive.txt")}), L"index.html");
  EXPECT_EQ(env.errors.size(), 2u);
  EXPECT_NE(env.startPageStatus, 200);
}

}  // namespace
