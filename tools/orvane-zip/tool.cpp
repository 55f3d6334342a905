// orvane-zip: lists, prints and packs archives with Orvane's own archive reader, so that what
// it shows is exactly what the launcher and its server will see.
//
//   orvane-zip list ARCHIVE                 one line per entry in directory order
//   orvane-zip cat ARCHIVE ENTRY            the entry's bytes on standard output
//   orvane-zip pack SOURCE -o OUTPUT [OPTIONS]
//                                           a launcher that carries a folder or a zip
// ARCHIVE may be a packed launcher of either platform: its archive is read where the launcher
// finds it.
//
// Exit status: 0 success; 1 an archive error (its message on standard error) or a failed
// pack; 2 the entry is not in the archive; 64 wrong usage.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "text/filetime.h"
#include "text/text.h"
#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/launcher_file.h"
#include "tools/orvane-zip/pack.h"
#include "tools/orvane-zip/platform.h"
#include "tools/orvane-zip/targets.h"

namespace orvanezip {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitNoEntry = 2;
constexpr int kExitUsage = 64;

const char kUsage[] =
    "usage: orvane-zip list ARCHIVE\n"
    "       orvane-zip cat ARCHIVE ENTRY\n"
    "       orvane-zip pack SOURCE -o OUTPUT [--launcher PATH | --target T] [--tar] [--start TEXT]\n"
    "                       [--exclude PATTERN]... [--no-outside-links] [--icon FILE.ico] [--title TEXT]\n"
    "                       [--id TEXT] [--keep-id]\n"
    "       orvane-zip pack SOURCE -o FOLDER (--all | --target T --target T...) [OPTIONS]\n"
    "       orvane-zip --help\n";

const char kHelp[] =
    "\n"
    "Reads zip archives with Orvane's own archive reader.\n"
    "\n"
    "list ARCHIVE\n"
    "    One line per directory entry, in directory order, fields separated by tabs:\n"
    "    compression method, compressed size, uncompressed size, modification time in UTC\n"
    "    (YYYY-MM-DD HH:MM:SS; \"-\" for an entry without an MS-DOS time stamp) and the\n"
    "    entry's name (\"\\\" as separator, control characters as \\xNN). ARCHIVE may also be\n"
    "    a packed launcher (POSIX or\n"
    "    Windows): its course is listed.\n"
    "\n"
    "cat ARCHIVE ENTRY\n"
    "    Writes the entry's uncompressed bytes to standard output. ENTRY is matched as the\n"
    "    launcher's server matches a request: ASCII case ignored, \"/\" and \"\\\" alike.\n"
    "\n"
    "pack SOURCE -o OUTPUT [OPTIONS]\n"
    "    Writes OUTPUT: a copy of the launcher that carries SOURCE as its archive, for the\n"
    "    platform of that launcher, whichever platform orvane-zip runs on: a Windows\n"
    "    launcher (PE) gets it as its resource \"RT_ZIP\" 777, a POSIX launcher (ELF)\n"
    "    appended with a trailer; an archive the launcher carries already is replaced.\n"
    "    The launcher is PATH, else the kit's for --target T (launchers/T/ beside orvane-zip;\n"
    "    T one of windows-x86, windows-x64, linux-x86_64, linux-arm64), else $ORVANE_LAUNCHER,\n"
    "    else \"orvane\" (\"orvane.exe\" on Windows) in the folder of orvane-zip. --all, or\n"
    "    --target given more than once, packs for each of those targets into the folder\n"
    "    FOLDER, the target in each name: course-windows-x64.exe, course-linux-arm64, ...\n"
    "    (SOURCE's name first). --tar writes a Linux launcher inside a .tar.gz that keeps its\n"
    "    run bit (course-linux-x86_64.tar.gz), for downloads and mail that drop it.\n"
    "    The launcher is checked before anything is written: a\n"
    "    damaged program, a program that is not an Orvane launcher and a signed Windows\n"
    "    launcher are refused (sign after packing).\n"
    "    SOURCE is a zip archive or a packed launcher, whose archive is carried as it is, or a\n"
    "    folder: every file under it, in name order, stored when it is audio or video (so a\n"
    "    seek never inflates), when its format is compressed already (images, fonts,\n"
    "    archives) or deflate saves less than 5%, deflated otherwise. Links are followed,\n"
    "    also to outside the folder (named in the summary); each folder is packed once\n"
    "    however many links lead to it. Left out, and named in the summary: .git/, .svn/,\n"
    "    .hg/, .DS_Store, Thumbs.db, desktop.ini, *~, .*.swp, and OUTPUT and its temporary\n"
    "    files. A name that is not UTF-8 is stored as its bytes. Entries are stamped with\n"
    "    the files' times, or with $SOURCE_DATE_EPOCH when it is set (the same folder and\n"
    "    launcher then give the same bytes).\n"
    "    OUTPUT is written under a new temporary name beside it and renamed into place\n"
    "    only once its archive reads back with every CRC right; a summary follows. A\n"
    "    32-bit Windows launcher takes an archive of at most 1 GiB, which it maps with its\n"
    "    image: pack a larger course with the 64-bit launcher.\n"
    "\n"
    "    --start TEXT          the .start entry (UTF-16LE), which the course's page gets as\n"
    "                          ?show=TEXT\n"
    "    --exclude PATTERN     leaves out more, matched against the path inside SOURCE: \"*\"\n"
    "                          any characters but \"/\", \"**\" any, \"?\" one; a pattern\n"
    "                          without \"/\" matches names in every folder (\"*.psd\"), one\n"
    "                          ending in \"/\" folders only (\"drafts/\"); repeatable\n"
    "    --no-outside-links    skips links to outside the folder instead of following them\n"
    "    --icon FILE.ico       Windows launchers: the course's icon, shown by Explorer\n"
    "    --title TEXT          Windows launchers: the course's title, as the program's\n"
    "                          description and product name\n"
    "    --id TEXT             the course ID (1 to 64 letters, digits, '-', '_', '.'), stored\n"
    "                          in the archive's comment: the launcher keeps a learner's\n"
    "                          progress for every version packed with the same ID. Without it:\n"
    "                          SOURCE's ID (a packed launcher's or archive's, a folder's\n"
    "                          .orvane-course-id file), else a new random one; the summary names it\n"
    "    --keep-id             writes the ID to SOURCE/.orvane-course-id (a folder), so the next\n"
    "                          pack of the folder keeps it\n"
    "\n"
    "    From a course folder to launchers for every platform, with the kit:\n"
    "      orvane-zip pack course/ --all -o out/\n"
    "    or one at a time:\n"
    "      orvane-zip pack course/ -o course.exe --target windows-x64    # Windows\n"
    "      orvane-zip pack course/ -o course --launcher orvane           # Linux\n"
    "      course.exe for Windows learners, course for Linux ones (chmod +x when packed\n"
    "      on Windows, which keeps no POSIX modes); either opens index.html in a browser.\n"
    "\n"
    "Exit status: 0 success; 1 an archive error (its message goes to standard error) or a\n"
    "failed pack; 2 the entry is not in the archive; 64 wrong usage.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

int UsageError(const std::wstring& text) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(text).c_str());
  return Usage();
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

// Opens a zip archive, or the archive a packed launcher carries, where the launcher finds it.
// False (nothing opened) for a program that carries none.
bool OpenArchive(const std::wstring& path, amzip::ZipArchive* archive) {
  FileSource file(path);
  const LauncherKind kind = file.IsOpen() ? KindOfLauncher(file) : LauncherKind::kNone;
  std::uint64_t offset = 0, length = 0;
  if (kind == LauncherKind::kNone) {
    archive->OpenFile(path);
  } else if (FindPackedArchive(file, kind, &offset, &length)) {
    archive->OpenSource(file.Part(offset, length), path);
  } else {
    Complain(path + L" is a program that carries no course");
    return false;
  }
  return true;
}

// The name as a terminal may show it: control characters (C0, DEL, C1) written as "\\xNN", so
// a name cannot move the cursor, recolour the screen or pass for two lines.
std::wstring Printable(const std::wstring& name) {
  std::wstring shown;
  for (const wchar_t c : name) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
      shown += AnsiToWide(FormatText("\\x%02x", static_cast<unsigned>(c)));
    } else {
      shown += c;
    }
  }
  return shown;
}

int List(const std::wstring& archivePath) {
  amzip::ZipArchive archive;
  try {
    if (!OpenArchive(archivePath, &archive)) return kExitFailure;
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
    out += ConsoleText(Printable(entry->name));
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
    if (!OpenArchive(archivePath, &archive)) return kExitFailure;
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
    PackRequest request;
    std::vector<const Target*> targets;
    bool all = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::wstring& option = args[i];
      const bool hasValue = i + 1 < args.size();
      if (option == L"--no-outside-links") {
        request.noOutsideLinks = true;
      } else if (option == L"--all") {
        all = true;
      } else if (option == L"--tar") {
        request.tar = true;
      } else if (hasValue && option == L"--target") {
        const Target* target = FindTarget(args[++i]);
        if (target == nullptr) return UsageError(L"no target " + args[i] + L" (one of " + TargetNames() + L")");
        if (std::find(targets.begin(), targets.end(), target) == targets.end()) targets.push_back(target);
      } else if (option == L"--keep-id") {
        request.keepId = true;
      } else if (hasValue && option == L"--id") {
        request.id = WideToUtf8(args[++i]);
      } else if (hasValue && (option == L"-o" || option == L"--launcher" || option == L"--start" ||
                              option == L"--exclude" || option == L"--icon" || option == L"--title")) {
        const std::wstring& value = args[++i];
        if (option == L"-o") request.output = value;
        if (option == L"--launcher") request.launcher = value;
        if (option == L"--start") request.hasStart = true, request.start = value;
        if (option == L"--exclude") request.excludes.push_back(value);
        if (option == L"--icon") request.icon = value;
        if (option == L"--title") request.hasTitle = true, request.title = value;
      } else if (request.source.empty() && !args[i].empty() && args[i][0] != L'-') {
        request.source = args[i];
      } else {
        return Usage();
      }
    }
    if (request.source.empty() || request.output.empty()) return Usage();
    if (all) {
      targets.clear();
      for (const Target& target : KitTargets()) targets.push_back(&target);
    }
    if (!targets.empty() && !request.launcher.empty()) return UsageError(L"--launcher or --target/--all, not both");
    if (targets.size() == 1 && !all) {
      request.launcher = KitLauncher(*targets[0]);
      if (targets[0]->windows) request.tar = false;
    }
    return targets.size() > 1 || all ? PackTargets(request, targets) : Pack(request);
  }
  return Usage();
}

}  // namespace orvanezip

int main(int argc, char** argv) { return orvanezip::RunTool(orvanezip::ProgramArguments(argc, argv)); }
