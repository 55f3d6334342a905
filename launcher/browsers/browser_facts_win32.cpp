// Gathering the browser chooser's facts on Windows; see browser_facts_win32.h.
#include "launcher/browsers/browser_facts_win32.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "launcher/os/folders_win32.h"
#include "launcher/os/registry_win32.h"
#include "text/text.h"

namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\keltrix\\Orvane";
// The browsers looked for when the default one is none of the family, in order.
const wchar_t* const kInstalledBrowsers[] = {L"msedge.exe", L"chrome.exe", L"firefox.exe"};

// RtlGetVersion from ntdll: the version the system really is, whatever the manifest says.
void RealVersion(unsigned& major, unsigned& minor) {
  using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const FARPROC address = ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (address == nullptr) return;
  const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address));
  RTL_OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  if (rtlGetVersion(&info) != 0) return;
  major = info.dwMajorVersion;
  minor = info.dwMinorVersion;
}

// The program of `protocol`'s handler as Windows itself answers (Settings' default browser, from
// whichever key this version keeps it in: UserChoice, UserChoiceLatest ...), when it exists.
// The command is asked for rather than the executable, which some systems (Wine) cannot give
// for a path with blanks; its program is its first word, as the system reads it.
std::wstring ProtocolHandler(const wchar_t* protocol) {
  // ASSOCF_IS_PROTOCOL (Windows 8 and later; the headers show it only to programs built for 8).
  constexpr ASSOCF kIsProtocol = 0x00001000;
  for (const ASSOCF flags : {kIsProtocol, ASSOCF{ASSOCF_NONE}}) {
    // ASSOCF_NONE: systems that know no protocol query answer from the class's own key.
    std::wstring command(32768, L'\0');
    DWORD size = static_cast<DWORD>(command.size());
    const HRESULT result = AssocQueryStringW(flags | ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, protocol,
                                             L"open", command.data(), &size);
    if (SUCCEEDED(result)) {
      command.resize(wcsnlen(command.c_str(), command.size()));
      const std::vector<std::wstring> words = SplitWindowsCommandLine(os::ExpandEnvironment(command));
      if (!words.empty() && os::IsExistingWindowsFile(words[0])) return words[0];
    }
    DebugLog("AssocQueryString(%S, 0x%x) gave no program [0x%08x].\n", protocol,
             static_cast<unsigned>(flags), static_cast<unsigned>(result));
  }
  return std::wstring();
}

std::wstring ProgramFilesFolder() {
  wchar_t folder[MAX_PATH] = {};
  const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, folder);
  if (FAILED(result)) {
    DebugLog("SHGetFolderPath failed [0x%08x].\n", static_cast<unsigned>(result));
    return std::wstring();
  }
  return folder;
}

}  // namespace

std::wstring DefaultHttpBrowser() { return ProtocolHandler(L"http"); }

BrowserFacts GatherWindowsBrowserFacts(const os::RegistryRoots& roots) {
  BrowserFacts facts;
  facts.windows = true;
  RealVersion(facts.versionMajor, facts.versionMinor);
  os::RegistryKey(roots.user, kSettingsKey).ReadString(L"Browser", facts.setting);
  facts.defaultBrowser = DefaultHttpBrowser();
  for (const wchar_t* name : kInstalledBrowsers) {
    std::wstring path = os::RegisteredAppPath(roots, name);
    if (!path.empty()) facts.installed.push_back(std::move(path));
  }
  facts.programFiles = ProgramFilesFolder();
  return facts;
}
