// orvane-zip's platform services on Windows: CommandLineToArgvW, GetModuleFileNameW, the ANSI
// console, and packing by copying the launcher and replacing its "RT_ZIP" 777 resource with
// BeginUpdateResourceW / UpdateResourceW / EndUpdateResourceW.
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "text/syserr.h"
#include "text/text.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

std::vector<std::wstring> ProgramArguments(int, char**) {
  std::vector<std::wstring> args;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr) return args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return args;
}

std::wstring ProgramPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

const wchar_t* LauncherFileName() { return L"orvane.exe"; }

std::FILE* OpenStream(const std::wstring& path, const char* mode) {
  return _wfopen(path.c_str(), mode[0] == 'w' ? L"wb" : L"rb");
}

void SetBinaryOutput() {
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

std::string ConsoleText(const std::wstring& text) { return WideToAnsi(text); }

std::wstring EnvironmentValue(const char* name) {
  const std::wstring wideName = AnsiToWide(name);
  const DWORD n = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (n == 0) return std::wstring();
  std::wstring value(n, L'\0');
  const DWORD written = GetEnvironmentVariableW(wideName.c_str(), value.data(), n);
  value.resize(written < n ? written : 0);
  return value;
}

namespace {

const wchar_t kZipType[] = L"RT_ZIP";
const WORD kZipId = 777;
const WORD kNeutralLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
  return TRUE;
}

// The languages under which the program already has an "RT_ZIP" 777 resource.
std::vector<WORD> ExistingZipLanguages(const std::wstring& program) {
  std::vector<WORD> languages;
  HMODULE module = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return languages;
  EnumResourceLanguagesW(module, kZipType, MAKEINTRESOURCEW(kZipId), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  FreeLibrary(module);
  return languages;
}

std::wstring Failure(const wchar_t* step, const std::wstring& path) {
  return std::wstring(step) + L" failed for " + path + AnsiToWide(FormatText(" [%lu]", static_cast<unsigned long>(LastSystemError())));
}

}  // namespace

bool PackLauncher(const std::wstring& launcher, const std::vector<unsigned char>& zip,
                  const std::wstring& output, std::wstring* error) {
  if (!CopyFileW(launcher.c_str(), output.c_str(), FALSE)) {
    *error = Failure(L"CopyFileW", output);
    return false;
  }
  // An archive the launcher carries already is removed in every language, so FindResourceW
  // can only find the new one.
  const std::vector<WORD> oldLanguages = ExistingZipLanguages(output);
  HANDLE update = BeginUpdateResourceW(output.c_str(), FALSE);
  if (update == nullptr) {
    *error = Failure(L"BeginUpdateResourceW", output);
    return false;
  }
  bool ok = true;
  for (WORD language : oldLanguages) {
    if (language != kNeutralLanguage) {
      ok = ok && UpdateResourceW(update, kZipType, MAKEINTRESOURCEW(kZipId), language, nullptr, 0);
    }
  }
  ok = ok && UpdateResourceW(update, kZipType, MAKEINTRESOURCEW(kZipId), kNeutralLanguage,
                             const_cast<unsigned char*>(zip.data()), static_cast<DWORD>(zip.size()));
  if (!ok) {
    *error = Failure(L"UpdateResourceW", output);
    EndUpdateResourceW(update, TRUE);
    return false;
  }
  if (!EndUpdateResourceW(update, FALSE)) {
    *error = Failure(L"EndUpdateResourceW", output);
    return false;
  }
  return true;
}

}  // namespace orvanezip
