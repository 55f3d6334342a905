// orvane-zip's platform services on POSIX: arguments and paths as their own bytes (PathToWide),
// UTF-8 console text, the program's own file, local time, file modes and renames.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "text/own_program_posix.h"
#include "text/text.h"
#include "tools/orvane-zip/platform.h"
#include "tools/orvane-zip/zip_writer.h"

namespace orvanezip {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(PathToWide(argv[i]));
  return args;
}

std::wstring ProgramPath() { return PathToWide(OwnProgramFile()); }

const wchar_t* LauncherFileName() { return L"orvane"; }

std::FILE* OpenStream(const std::wstring& path, const char* mode) { return std::fopen(WideToPath(path).c_str(), mode); }

std::FILE* CreateNewStream(const std::wstring& path) {
  const int fd = open(WideToPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) close(fd);
  return stream;
}

bool IdentityOf(const std::filesystem::path& path, FileId* id) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return false;
  id->device = static_cast<std::uint64_t>(info.st_dev);
  id->index = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

void SetBinaryOutput() {}

std::string ConsoleText(const std::wstring& text) { return WideToAnsi(text); }

std::wstring EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? AnsiToWide(value) : std::wstring();
}

std::filesystem::path FileSystemPath(const std::wstring& path) { return std::filesystem::path(WideToPath(path)); }

std::wstring PathText(const std::filesystem::path& path) { return PathToWide(path.native()); }

std::string PathBytes(const std::wstring& path) { return WideToPath(path); }

bool SeekStream(std::FILE* stream, std::uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void LocalDosStamp(std::int64_t seconds, std::uint16_t* dosDate, std::uint16_t* dosTime) {
  const time_t time = static_cast<time_t>(seconds);
  struct tm parts;
  if (localtime_r(&time, &parts) == nullptr) {
    UtcDosStamp(seconds, dosDate, dosTime);
    return;
  }
  DosStampOf(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
             dosDate, dosTime);
}

bool MakeExecutable(std::FILE* stream) { return std::fflush(stream) == 0 && fchmod(fileno(stream), 0755) == 0; }

bool MakeReadable(std::FILE* stream) { return std::fflush(stream) == 0 && fchmod(fileno(stream), 0644) == 0; }

bool RenameOver(const std::wstring& from, const std::wstring& to, std::wstring* error) {
  if (std::rename(WideToPath(from).c_str(), WideToPath(to).c_str()) == 0) return true;
  *error = L"cannot write " + to + L": " + AnsiToWide(std::strerror(errno));
  return false;
}

}  // namespace orvanezip
