// The Windows side of the browser model, under the real system: command lines as
// CommandLineToArgvW decodes them, the chooser's facts read from a registry of the test's own,
// and the folders a course's profile lives in.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/browsers/browser_choice.h"
#include "launcher/browsers/browser_facts_win32.h"
#include "launcher/browsers/browser_system.h"
#include "launcher/browsers/internet_explorer_win32.h"
#include "launcher/os/folders_win32.h"
#include "launcher/os/platform.h"
#include "launcher/os/process_win32.h"

namespace {

using Words = std::vector<std::wstring>;

Words DecodeCommandLine(const std::wstring& line) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(line.c_str(), &argc);
  Words words(argv, argv + argc);
  LocalFree(argv);
  return words;
}

// Each argument reaches the browser as exactly itself: the line WindowsCommandLine builds,
// decoded by the system, gives back the program and every argument.
TEST(WindowsCommandLine, EachArgumentArrivesWhole) {
  const wchar_t* const programs[] = {
      L"C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe",
      L"C:\\Browsers\\chrome.exe",
      L"D:\\a b\\c  d\\firefox.exe",
  };
  const Words arguments = {
      L"http://127.0.0.1:50000/1a2b/index.html?a&b?show=x y",
      L"http://127.0.0.1:50000/1a2b/index.html?q=\"quoted\" and 'single'",
      L"--user-data-dir=C:\\Users\\Jo Do\\AppData\\Local\\keltrix\\Orvane\\profiles\\c",
      L"C:\\trailing\\",
      L"C:\\two trailing\\\\",
      L"back\\\\\"slash-quote",
      L"\\\"",
      L"\"",
      L"\"\"",
      L"",
      L"tab\there",
      L"new\nline",
      L"100% & ^ | < > ( ) !",
      L"caf\u00e9 \u65e5\u672c \U0001F600",
      L"ends with a quote\"",
      L"\\\\server\\share\\x y\\",
  };
  for (const wchar_t* program : programs) {
    for (const BrowserKind kind : {BrowserKind::kChromium, BrowserKind::kFirefox, BrowserKind::kCommand}) {
      BrowserChoice choice;
      choice.kind = kind;
      choice.program = program;
      choice.args = arguments;
      const std::wstring line = WindowsCommandLine(choice);
      Words want = {program};
      want.insert(want.end(), arguments.begin(), arguments.end());
      EXPECT_EQ(DecodeCommandLine(line), want) << line;
    }
  }
  // One argument at a time too: no argument leans on its neighbours.
  for (const std::wstring& arg : arguments) {
    BrowserChoice choice;
    choice.kind = BrowserKind::kCommand;
    choice.program = programs[0];
    choice.args = {arg};
    EXPECT_EQ(DecodeCommandLine(WindowsCommandLine(choice)), (Words{programs[0], arg}))
        << WindowsCommandLine(choice);
  }
}

// Internet Explorer's line is built as it always was; the system reads it as the same words as
// long as the URL holds no quote.
TEST(WindowsCommandLine, InternetExplorerUnchanged) {
  BrowserChoice choice;
  choice.kind = BrowserKind::kInternetExplorer;
  choice.program = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";
  choice.args = {L"-nohome", L"http://127.0.0.1:80/ff/index.html?a&b?show=x y\\"};
  const std::wstring line = WindowsCommandLine(choice);
  EXPECT_EQ(line, L"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome "
                  L"\"http://127.0.0.1:80/ff/index.html?a&b?show=x y\\\"");
  choice.args = {L"-nohome", L"http://127.0.0.1:80/ff/index.html?show=x y"};
  EXPECT_EQ(DecodeCommandLine(WindowsCommandLine(choice)),
            (Words{choice.program, L"-nohome", L"http://127.0.0.1:80/ff/index.html?show=x y"}));
}

// The Browser setting is split as the system splits a command line.
TEST(SplitWindowsCommandLine, AsCommandLineToArgvW) {
  const wchar_t* const lines[] = {
      L"\"C:\\Program Files\\Mozilla Firefox\\firefox.exe\" -private-window %s",
      L"C:\\Browsers\\chrome.exe --kiosk",
      L"C:\\a\\b.exe \"with space\" plain\\\\ \"trail\\\\\" q\\\"uote",
      L"b.exe \"a \"\"b\"\" c\" d",
      L"b.exe a\\\\\\\"b \"\\\\\\\"\" \"\"",
      L"b.exe   \t spaced\targs  ",
      L"\"C:\\Program Files\\b.exe",
      L"b.exe \"unclosed quote",
  };
  for (const wchar_t* line : lines) EXPECT_EQ(SplitWindowsCommandLine(line), DecodeCommandLine(line)) << line;
}

// A registry of the test's own under HKCU, standing for both roots; removed afterwards.
class RegistryFacts : public ::testing::Test {
 protected:
  static constexpr const wchar_t* kRoot = L"Software\\keltrix\\OrvaneTestRoots";

  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    roots_.user = Create(L"user");
    roots_.machine = Create(L"machine");
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"orvane facts " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(os::MakeWindowsFolders(folder_));
  }
  void TearDown() override {
    RegCloseKey(roots_.user);
    RegCloseKey(roots_.machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);
    os::RemoveWindowsTree(folder_);
  }

  HKEY Create(const std::wstring& name) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kRoot) + L"\\" + name).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }
  static void Set(HKEY root, const std::wstring& subkey, const wchar_t* name,
                  const std::wstring& value, DWORD type = REG_SZ) {
    ASSERT_EQ(RegSetKeyValueW(root, subkey.c_str(), name, type, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  // A file that stands for an installed browser.
  std::wstring Program(const std::wstring& relative) {
    const std::wstring path = folder_ + L"\\" + relative;
    os::MakeWindowsFolders(path.substr(0, path.find_last_of(L'\\')));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    return path;
  }
  static std::wstring AppPaths(const wchar_t* exe) {
    return std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\") + exe;
  }

  os::RegistryRoots roots_;
  std::wstring folder_;
};

TEST_F(RegistryFacts, NothingRegistered) {
  const BrowserFacts facts = GatherWindowsBrowserFacts(roots_);
  EXPECT_TRUE(facts.windows);
  EXPECT_GE(facts.versionMajor, 5u);  // the real system's, whatever it is
  EXPECT_EQ(facts.setting, L"");
  EXPECT_TRUE(facts.installed.empty());
  EXPECT_NE(facts.programFiles, L"");
}

TEST_F(RegistryFacts, SettingAndInstalled) {
  const std::wstring edge = Program(L"Edge App\\msedge.exe");
  const std::wstring userChrome = Program(L"user\\chrome.exe");
  const std::wstring machineChrome = Program(L"machine\\chrome.exe");
  Set(roots_.user, L"SOFTWARE\\keltrix\\Orvane", L"Browser", L"\"C:\\x y\\b.exe\" --a %1");
  // The machine's Edge in quotes; Chrome for the user before the machine's; Firefox's
  // registration names a file that is not there.
  Set(roots_.machine, AppPaths(L"msedge.exe"), nullptr, L"\"" + edge + L"\"");
  Set(roots_.machine, AppPaths(L"chrome.exe"), nullptr, machineChrome);
  Set(roots_.user, AppPaths(L"chrome.exe"), nullptr, userChrome);
  Set(roots_.user, AppPaths(L"firefox.exe"), nullptr, folder_ + L"\\gone\\firefox.exe");

  const BrowserFacts facts = GatherWindowsBrowserFacts(roots_);
  EXPECT_EQ(facts.setting, L"\"C:\\x y\\b.exe\" --a %1");
  EXPECT_EQ(facts.installed, (Words{edge, userChrome}));
  // A program named without its folder is found as the shell finds it.
  EXPECT_EQ(os::RegisteredAppPath(roots_, L"chrome"), userChrome);
  EXPECT_EQ(os::RegisteredAppPath(roots_, L"msedge.exe"), edge);
  EXPECT_EQ(os::RegisteredAppPath(roots_, L"firefox"), L"");
  EXPECT_EQ(os::RegisteredAppPath(roots_, L"opera"), L"");
}

TEST_F(RegistryFacts, InstalledExpanded) {
  const std::wstring chrome = Program(L"Chrome\\chrome.exe");
  SetEnvironmentVariableW(L"ORVANE_TEST_BROWSERS", folder_.c_str());
  Set(roots_.user, AppPaths(L"firefox.exe"), nullptr, L"%ORVANE_TEST_BROWSERS%\\Chrome\\chrome.exe",
      REG_EXPAND_SZ);
  EXPECT_EQ(GatherWindowsBrowserFacts(roots_).installed, (Words{chrome}));
}

// The http protocol's handler as the system answers it, from the http class's command where
// no UserChoice overrides it (a fresh Wine prefix has none, and Wine reads the machine's
// classes). The real choice of Windows 10 and 11 cannot be made by a test: Windows guards it
// with a hash. The machine's value is put back afterwards.
TEST_F(RegistryFacts, DefaultBrowserAsTheSystemAnswers) {
  const wchar_t* const key = L"Software\\Classes\\http\\shell\\open\\command";
  std::wstring saved(32768, L'\0');
  DWORD bytes = static_cast<DWORD>(saved.size() * sizeof(wchar_t)), type = 0;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                   &type, saved.data(), &bytes) != ERROR_SUCCESS) {
    GTEST_SKIP() << "no http class to stand in for here";
  }
  saved.resize(bytes / sizeof(wchar_t) - 1);
  const std::wstring chrome = Program(L"Chrome\\chrome.exe");
  SetEnvironmentVariableW(L"ORVANE_TEST_BROWSERS", folder_.c_str());
  Set(HKEY_LOCAL_MACHINE, key, nullptr, L"\"%ORVANE_TEST_BROWSERS%\\Chrome\\chrome.exe\" --single-argument %1",
      REG_EXPAND_SZ);
  const std::wstring found = DefaultHttpBrowser();
  Set(HKEY_LOCAL_MACHINE, key, nullptr, L"\"" + folder_ + L"\\missing\\chrome.exe\" %1");
  const std::wstring missing = DefaultHttpBrowser();
  Set(HKEY_LOCAL_MACHINE, key, nullptr, saved, type);
  EXPECT_EQ(found, chrome);
  EXPECT_EQ(missing, L"") << "a handler whose program is missing is none";
}

// The block a C runtime reads its inherited descriptors from: 32-bit count, flags, handles of
// the child's width. (fake_chromium.exe, started by the launcher under Wine, decodes a real one.)
TEST(CrtDescriptors, CountFlagsThenHandlesOfTheChildsWidth) {
  using Bytes = std::vector<unsigned char>;
  const Bytes narrow = os::CrtDescriptors({0, 0, 0, 0x1234, 0xABCD}, 4);
  EXPECT_EQ(narrow, (Bytes{5, 0, 0, 0, 0, 0, 0, 9, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                           0xFF, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0, 0, 0xCD, 0xAB, 0, 0}));
  const Bytes wide = os::CrtDescriptors({0, 0, 0, 0x1234, 0xABCD}, 8);
  ASSERT_EQ(wide.size(), 4u + 5 + 5 * 8);
  EXPECT_EQ(Bytes(wide.begin() + 9, wide.begin() + 17), Bytes(8, 0xFF));
  EXPECT_EQ(Bytes(wide.end() - 16, wide.end()), (Bytes{0x34, 0x12, 0, 0, 0, 0, 0, 0, 0xCD, 0xAB, 0, 0, 0, 0, 0, 0}));
}

// Internet Explorer's page check with no window of this run: every failure and every other
// window is a miss, whether COM is initialised or not.
TEST(InternetExplorer, NoWindowOfThisRun) {
  BrowserChoice choice;
  choice.kind = BrowserKind::kInternetExplorer;
  const std::unique_ptr<Browser> browser = NewWindowsInternetExplorer(choice);
  EXPECT_EQ(browser->Rule(), WatchRule::kProcessThenPages);
  EXPECT_EQ(browser->CheckProcess(), ProcessState::kUnknown);
  // Without the program-files folder nothing is started.
  EXPECT_FALSE(browser->Start());
  const std::wstring prefix = L"http://127.0.0.1:1/ff/";
  EXPECT_EQ(browser->ShowsPageUnder(prefix), PageCheck::kNotShown);
  EXPECT_EQ(browser->ShowsPageUnder(prefix), PageCheck::kNotShown);
  CoInitialize(nullptr);
  EXPECT_EQ(browser->ShowsPageUnder(prefix), PageCheck::kNotShown);
  EXPECT_EQ(browser->ShowsPageUnder(prefix), PageCheck::kNotShown);
  browser->Close();
  CoUninitialize();
}

TEST(InternetExplorer, NotThereIsNotStarted) {
  BrowserChoice choice;
  choice.kind = BrowserKind::kInternetExplorer;
  choice.program = L"C:\\no such folder\\iexplore.exe";
  choice.args = {L"-nohome", L"http://127.0.0.1:1/ff/index.html"};
  EXPECT_FALSE(NewWindowsInternetExplorer(choice)->Start());
}

TEST(WindowsFolders, MakeListMarkRemove) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring parent = std::wstring(temp) + L"orvane folders " + std::to_wstring(GetCurrentProcessId());
  os::RemoveWindowsTree(parent);
  EXPECT_TRUE(os::ListWindowsFolders(parent).empty());
  ASSERT_TRUE(os::MakeWindowsFolders(parent + L"\\profiles\\c\u00e9 one\\deep"));
  EXPECT_TRUE(os::MakeWindowsFolders(parent + L"\\profiles\\two"));
  const std::wstring profiles = parent + L"\\profiles";

  // A file beside the folders is no folder; an unmarked folder was never used.
  const std::wstring file = profiles + L"\\file.txt";
  CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  EXPECT_FALSE(os::MakeWindowsFolders(file));
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::int64_t nowSeconds = os::UnixSecondsOf(now);
  os::MarkWindowsFolderUsed(profiles + L"\\two");
  std::vector<FolderUse> folders = os::ListWindowsFolders(profiles);
  ASSERT_EQ(folders.size(), 2u);
  if (folders[0].name != L"two") std::swap(folders[0], folders[1]);
  EXPECT_EQ(folders[0].name, L"two");
  EXPECT_LE(std::abs(folders[0].lastUsedSeconds - nowSeconds), 5);
  EXPECT_EQ(folders[1].name, L"c\u00e9 one");
  EXPECT_EQ(folders[1].lastUsedSeconds, 0);

  // A read-only file deep inside goes with its tree.
  const std::wstring readOnly = profiles + L"\\c\u00e9 one\\deep\\locked";
  CloseHandle(CreateFileW(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr));
  ASSERT_NE(GetFileAttributesW(readOnly.c_str()), INVALID_FILE_ATTRIBUTES);
  os::RemoveWindowsTree(profiles + L"\\c\u00e9 one");
  folders = os::ListWindowsFolders(profiles);
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].name, L"two");
  os::RemoveWindowsTree(parent);
  EXPECT_EQ(GetFileAttributesW(parent.c_str()), INVALID_FILE_ATTRIBUTES);
  os::RemoveWindowsTree(parent);  // harmless when missing
}

// Firefox keeps parent.lock open without sharing while it runs on a profile.
TEST(WindowsBrowsers, FirefoxProfileInUseWhileItsLockIsHeld) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring profile = std::wstring(temp) + L"orvane firefox " + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(os::MakeWindowsFolders(profile));
  const std::unique_ptr<BrowserSystem> browsers = NewSystemBrowsers();
  EXPECT_FALSE(browsers->FirefoxProfileInUse(profile));
  const std::wstring lockPath = profile + L"\\parent.lock";
  HANDLE lock = CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(browsers->FirefoxProfileInUse(profile));
  CloseHandle(lock);
  EXPECT_FALSE(browsers->FirefoxProfileInUse(profile)) << "a lock file left behind is no Firefox";
  os::RemoveWindowsTree(profile);
}

TEST(WindowsFolders, UserDataFolderIsUnderLocalAppData) {
  const std::wstring folder = os::WindowsUserDataFolder();
  ASSERT_GE(folder.size(), 16u);
  EXPECT_EQ(folder.substr(folder.size() - 15), L"\\keltrix\\Orvane");
  wchar_t local[32768];
  const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", local, 32768);
  if (n > 0) {
    EXPECT_EQ(folder, std::wstring(local, n) + L"\\keltrix\\Orvane");
  }
}

}  // namespace
