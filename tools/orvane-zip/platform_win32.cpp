// orvane-zip's platform services on Windows: CommandLineToArgvW, GetModuleFileNameW, the ANSI
// console, wide paths, local time and MoveFileExW.
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "text/syserr.h"
#include "text/text.h"
#include "tools/orvane-zip/platform.h"
#include "tools/orvane-zip/zip_writer.h"

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
  const std::string narrow(mode);
  return _wfopen(path.c_str(), std::wstring(narrow.begin(), narrow.end()).c_str());
}

std::FILE* CreateNewStream(const std::wstring& path) {
  // CREATE_NEW fails on any existing name, a link included; FILE_FLAG_OPEN_REPARSE_POINT keeps
  // a reparse point that appears meanwhile from being followed.
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // errno for the caller, which tries another name on EEXIST and reports the rest.
    const DWORD code = GetLastError();
    errno = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? EEXIST
            : code == ERROR_ACCESS_DENIED                             ? EACCES
                                                                      : ENOENT;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool IdentityOf(const std::filesystem::path& path, FileId* id) {
  // FILE_FLAG_BACKUP_SEMANTICS opens folders too.
  const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!ok) return false;
  id->device = info.dwVolumeSerialNumber;
  id->index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
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

std::filesystem::path FileSystemPath(const std::wstring& path) { return std::filesystem::path(path); }

std::wstring PathText(const std::filesystem::path& path) { return path.native(); }

std::string PathBytes(const std::wstring& path) {
  const std::u8string text = std::filesystem::path(path).u8string();
  return std::string(text.begin(), text.end());
}

bool SeekStream(std::FILE* stream, std::uint64_t offset) {
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool ErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void LocalDosStamp(std::int64_t seconds, std::uint16_t* dosDate, std::uint16_t* dosTime) {
  // Seconds since 1970 to FILETIME units since 1601.
  const std::uint64_t units = static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME utc{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
  FILETIME local;
  WORD date = 0, time = 0;
  if (seconds < 0 || !FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
    UtcDosStamp(seconds, dosDate, dosTime);
    return;
  }
  *dosDate = date;
  *dosTime = time;
}

bool MakeExecutable(std::FILE*) { return true; }

bool MakeReadable(std::FILE*) { return true; }

bool RenameOver(const std::wstring& from, const std::wstring& to, std::wstring* error) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  *error = L"cannot write " + to + AnsiToWide(FormatText(" [%lu]", static_cast<unsigned long>(LastSystemError())));
  return false;
}

}  // namespace orvanezip
