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
  env.maxSleeps = 0;  // the watch ends at once
  CommandLine commandLine{true, std::move(args), 1};
  EXPECT_EQ(RunLauncher(env, env, env.settings, commandLine), 0);
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

// A launcher that carries its course takes a first argument that names no file as the page's.
TEST(EmbeddedArchive, ACandidateThatIsNoFileIsThePagesFirstArgument) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, L"lesson=3", L"name=J\u00fcrgen M\u00fcller"}),
            L"index.html?lesson=3&name=J%C3%BCrgen%20M%C3%BCller&show=from-the-executable");
  EXPECT_EQ(env.startPageBody, "<p>embedded</p>\n");
}

TEST(EmbeddedArchive, NotUsedWhenTheCommandLineOpenedOne) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, Fixture("start_abc.zip")}), L"index.html?show=abc");
  EXPECT_EQ(env.startPageBody, "<p>start_abc</p>\n");
}

// A named file that is no archive: the course it carries runs instead, and nothing is wrong.
TEST(EmbeddedArchive, UsedWhenTheCommandLineFileIsNoArchive) {
  FakePlatform env;
  EXPECT_EQ(RunAndGetTail(env, {kProgram, Fixture("not_an_archive.txt")}), L"index.html?show=from-the-executable");
  EXPECT_TRUE(env.errors.empty());
  EXPECT_EQ(env.startPageBody, "<p>embedded</p>\n");
}

}  // namespace
