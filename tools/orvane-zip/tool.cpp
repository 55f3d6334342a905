// orvane-zip: lists, prints and packs archives with Orvane's own archive reader, so that what
// it shows is exactly what the launcher and its server will see.
//
//   orvane-zip list ARCHIVE                 one line per entry in directory order
//   orvane-zip cat ARCHIVE ENTRY            the entry's bytes on standard output
//   orvane-zip pack CONTENT.zip -o OUTPUT [--launcher PATH]
//                                           a launcher that carries CONTENT.zip
//
// Exit status: 0 success; 1 an archive error (its message on standard error) or a failed
// pack; 2 the entry is not in the archive; 64 wrong usage.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "text/filetime.h"
#include "text/text.h"
#include "tools/orvane-zip/files.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitNoEntry = 2;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: orvane-zip list ARCHIVE\n"
    "       orvane-zip cat ARCHIVE ENTRY\n"
    "       orvane-zip pack CONTENT.zip -o OUTPUT [--launcher PATH]\n"
    "       orvane-zip --help\n";

const char kHelp[] =
    "\n"
    "Reads zip archives with Orvane's own archive reader.\n"
    "\n"
    "list ARCHIVE\n"
    "    One line per directory entry, in directory order, fields separated by tabs:\n"
    "    compression method, compressed size, uncompressed size, modification time in UTC\n"
    "    (YYYY-MM-DD HH:MM:SS; \"-\" for an entry without an MS-DOS time stamp) and the\n"
    "    entry's name (\"\\\" as separator).\n"
    "\n"
    "cat ARCHIVE ENTRY\n"
    "    Writes the entry's uncompressed bytes to standard output. ENTRY is matched as the\n"
    "    launcher's server matches a request: ASCII case ignored, \"/\" and \"\\\" alike.\n"
    "\n"
    "pack CONTENT.zip -o OUTPUT [--launcher PATH]\n"
    "    Writes OUTPUT: a copy of the launcher that carries CONTENT.zip as its embedded\n"
    "    archive (Windows: resource \"RT_ZIP\" 777; POSIX: the zip and a trailer appended to\n"
    "    the program, replacing an archive the launcher carries already). The launcher is\n"
    "    PATH, else $ORVANE_LAUNCHER, else the \"orvane\" program (\"orvane.exe\" on\n"
    "    Windows) in the folder of orvane-zip. CONTENT.zip must open as an archive with at\n"
    "    least one entry.\n"
    "\n"
    "Exit status: 0 success; 1 an archive error (its message goes to standard error) or a\n"
    "failed pack; 2 the entry is not in the archive; 64 wrong usage.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

void Complain(const std::wstring& text) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(text).c_str());
}

int ArchiveFailure(const amzip::AZError& error) {
  std::fprintf(stderr, "%s\n", ConsoleText(error.Message()).c_str());
  return kExitFailure;
}

// The entry's time stamp as GetEntryInfo gives it (local MS-DOS time taken to UTC), or "-".
// Entries mostly share their stamps, and each conversion consults the zone, so the last
// conversion is remembered.
std::string FormatStamp(const amzip::ZipEntry& entry) {
  static std::uint32_t lastStamp = 0;
  static std::string lastText = "-";
  const std::uint32_t stamp = (static_cast<std::uint32_t>(entry.dosDate) << 16) | entry.dosTime;
  if (stamp == lastStamp) return lastText;
  FileTime time = 0;
  SystemTime parts;
  std::string text = "-";
  if (DosDateTimeToUtc(entry.dosDate, entry.dosTime, &time) && ToSystemTime(time, &parts)) {
    text = FormatText("%04u-%02u-%02u %02u:%02u:%02u", parts.wYear, parts.wMonth, parts.wDay, parts.wHour,
                      parts.wMinute, parts.wSecond);
  }
  lastStamp = stamp;
  lastText = text;
  return text;
}

int List(const std::wstring& archivePath) {
  amzip::ZipArchive archive;
  try {
    archive.OpenFile(archivePath);
  } catch (const amzip::AZError& error) {
    return ArchiveFailure(error);
  }
  if (!archive.IsLoaded()) {
    Complain(archivePath + L" is not a zip archive");
    return kExitFailure;
  }
  std::string out;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    out += FormatText("%u\t%llu\t%llu\t", entry->method, static_cast<unsigned long long>(entry->compressedSize),
                      static_cast<unsigned long long>(entry->uncompressedSize));
    out += FormatStamp(*entry);
    out += '\t';
    out += ConsoleText(entry->name);
    out += '\n';
    if (out.size() >= 65536) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int Cat(const std::wstring& archivePath, const std::wstring& entryName) {
  amzip::ZipArchive archive;
  try {
    archive.OpenFile(archivePath);
    // Streamed in pieces, so an entry of any size is written; the reader checks the CRC-32
    // and the size as the last piece arrives, and a damaged entry ends with its error.
    const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(entryName);
    if (reader == nullptr) {
      Complain(L"no such entry: " + entryName);
      return kExitNoEntry;
    }
    SetBinaryOutput();
    std::vector<unsigned char> piece(1 << 16);
    while (const std::size_t got = reader->Read(piece.data(), piece.size())) {
      if (std::fwrite(piece.data(), 1, got, stdout) != got) return kExitFailure;
    }
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  } catch (const amzip::AZError& error) {
    std::fflush(stdout);
    return ArchiveFailure(error);
  }
}

int Pack(const std::wstring& contentPath, const std::wstring& outputPath, std::wstring launcherPath) {
  {
    amzip::ZipArchive archive;
    try {
      archive.OpenFile(contentPath);
    } catch (const amzip::AZError& error) {
      Complain(contentPath + L" cannot be read as an archive:");
      return ArchiveFailure(error);
    }
    if (!archive.IsOpen() || archive.Entries().empty()) {
      Complain(contentPath + L" is not a zip archive with entries");
      return kExitFailure;
    }
  }
  if (launcherPath.empty()) launcherPath = EnvironmentValue("ORVANE_LAUNCHER");
  if (launcherPath.empty()) launcherPath = FolderOf(ProgramPath()) + LauncherFileName();
  if (std::FILE* launcher = OpenStream(launcherPath, "rb")) {
    std::fclose(launcher);
  } else {
    Complain(L"no launcher program at " + launcherPath + L" (give one with --launcher PATH)");
    return kExitFailure;
  }
  std::vector<unsigned char> zip;
  if (!ReadWholeFile(contentPath, &zip)) {
    Complain(L"cannot read " + contentPath);
    return kExitFailure;
  }
  std::wstring error;
  if (!PackLauncher(launcherPath, zip, outputPath, &error)) {
    Complain(error);
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int RunTool(const std::vector<std::wstring>& args) {
  if (args.empty()) return Usage();
  const std::wstring& command = args[0];
  if (command == L"--help" || command == L"-h" || command == L"help") {
    std::fputs(kUsage, stdout);
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  if (command == L"list" && args.size() == 2) return List(args[1]);
  if (command == L"cat" && args.size() == 3) return Cat(args[1], args[2]);
  if (command == L"pack") {
    std::wstring content, output, launcher;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if ((args[i] == L"-o" || args[i] == L"--launcher") && i + 1 < args.size()) {
        (args[i] == L"-o" ? output : launcher) = args[i + 1];
        ++i;
      } else if (content.empty() && !args[i].empty() && args[i][0] != L'-') {
        content = args[i];
      } else {
        return Usage();
      }
    }
    if (content.empty() || output.empty()) return Usage();
    return Pack(content, output, launcher);
  }
  return Usage();
}

}  // namespace orvanezip

int main(int argc, char** argv) { return orvanezip::RunTool(orvanezip::ProgramArguments(argc, argv)); }
