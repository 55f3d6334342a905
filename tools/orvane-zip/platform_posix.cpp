// orvane-zip's platform services on POSIX: UTF-8 arguments and console, /proc/self/exe, and
// packing by appending the zip and the trailer of amzip/embedded.h to a copy of the launcher.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "amzip/embedded.h"
#include "text/text.h"
#include "tools/orvane-zip/files.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

std::vector<std::wstring> ProgramArguments(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(AnsiToWide(argv[i]));
  return args;
}

std::wstring ProgramPath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::wstring();
    if (static_cast<std::size_t>(n) < buffer.size()) return AnsiToWide(std::string(buffer.data(), static_cast<std::size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
}

const wchar_t* LauncherFileName() { return L"orvane"; }

std::FILE* OpenStream(const std::wstring& path, const char* mode) { return std::fopen(WideToAnsi(path).c_str(), mode); }

void SetBinaryOutput() {}

std::string ConsoleText(const std::wstring& text) { return WideToAnsi(text); }

std::wstring EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? AnsiToWide(value) : std::wstring();
}

namespace {

// The launcher without an archive it may carry already: a valid trailer at its end and the zip
// in front of it are cut off.
void StripEmbeddedArchive(std::vector<unsigned char>* program) {
  const std::size_t trailerSize = sizeof(amzip::EmbeddedTrailer);
  amzip::EmbeddedTrailer trailer;
  if (program->size() < trailerSize ||
      !amzip::ReadEmbeddedTrailer(program->data() + program->size() - trailerSize, program->size(), &trailer)) {
    return;
  }
  program->resize(program->size() - trailerSize - static_cast<std::size_t>(trailer.length));
}

std::wstring SystemReason() { return AnsiToWide(std::strerror(errno)); }

}  // namespace

bool PackLauncher(const std::wstring& launcher, const std::vector<unsigned char>& zip,
                  const std::wstring& output, std::wstring* error) {
  std::vector<unsigned char> program;
  if (!ReadWholeFile(launcher, &program)) {
    *error = L"cannot read the launcher " + launcher + L": " + SystemReason();
    return false;
  }
  StripEmbeddedArchive(&program);
  unsigned char trailerBytes[sizeof(amzip::EmbeddedTrailer)];
  amzip::WriteEmbeddedTrailer(zip.size(), trailerBytes);
  const std::vector<unsigned char> trailer(trailerBytes, trailerBytes + sizeof trailerBytes);
  // Written beside the output and renamed over it, so the output (which may be the launcher
  // itself) is never seen half-written.
  const std::wstring temporary = output + L".orvane-zip-tmp";
  const std::string temporaryName = WideToAnsi(temporary);
  if (!WriteWholeFile(temporary, {&program, &zip, &trailer})) {
    *error = L"cannot write " + temporary + L": " + SystemReason();
    std::remove(temporaryName.c_str());
    return false;
  }
  if (chmod(temporaryName.c_str(), 0755) != 0 || std::rename(temporaryName.c_str(), WideToAnsi(output).c_str()) != 0) {
    *error = L"cannot write " + output + L": " + SystemReason();
    std::remove(temporaryName.c_str());
    return false;
  }
  return true;
}

}  // namespace orvanezip
