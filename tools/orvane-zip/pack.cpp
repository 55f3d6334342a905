// Pack: the launcher's kind decides how the archive is carried; the archive comes from a folder
// (folder_archive.h) or a zip file; OUTPUT is written beside itself under a temporary name,
// read back through the same lookup the launcher uses, CRC-checked, and renamed into place.
#include "tools/orvane-zip/pack.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <system_error>
#include <vector>

#include "amzip/archive.h"
#include "amzip/embedded.h"
#include "amzip/entry.h"
#include "text/text.h"
#include "text/url.h"
#include "tools/orvane-zip/files.h"
#include "tools/orvane-zip/folder_archive.h"
#include "tools/orvane-zip/folder_walk.h"
#include "tools/orvane-zip/launcher_file.h"
#include "tools/orvane-zip/output_file.h"
#include "tools/orvane-zip/pe_image.h"
#include "tools/orvane-zip/platform.h"

namespace orvanezip {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;

int Fail(const std::wstring& text) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(text).c_str());
  return kExitFailure;
}

void Warn(const std::string& utf8) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(Utf8ToWide(utf8)).c_str());
}

// The text as UTF-16LE bytes, as the launcher reads .start (wchar_t is UTF-16 on Windows,
// UTF-32 elsewhere).
std::string Utf16Le(const std::wstring& text) {
  std::string bytes;
  auto unit = [&](std::uint32_t u) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  };
  for (wchar_t c : text) {
    const std::uint32_t code = static_cast<std::uint32_t>(c);
    if (code > 0xFFFF) {
      unit(0xD800 + ((code - 0x10000) >> 10));
      unit(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      unit(code);
    }
  }
  return bytes;
}

// The temporary OUTPUT, removed unless it was renamed into place.
class Temporary {
 public:
  explicit Temporary(const std::wstring& output) : path(output + L".orvane-zip-tmp") {}
  ~Temporary() {
    if (!kept) {
      std::error_code ec;
      std::filesystem::remove(FileSystemPath(path), ec);
    }
  }
  const std::wstring path;
  bool kept = false;
};

// SOURCE_DATE_EPOCH, when it is set to a number of seconds.
bool SourceDateEpoch(std::int64_t* seconds) {
  const std::string text = WideToAnsi(EnvironmentValue("SOURCE_DATE_EPOCH"));
  if (text.empty()) return false;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || value < 0) return false;
  *seconds = value;
  return true;
}

// The course folder's files, with the --start text as its .start entry.
bool CollectFolder(const PackRequest& request, std::vector<FolderFile>* files) {
  std::vector<std::string> skipped;
  std::wstring error;
  if (!ListFolder(FileSystemPath(request.source), files, &skipped, &error)) {
    Fail(error);
    return false;
  }
  // The launcher matches names regardless of ASCII case and separator: of names that match
  // alike only the first can be served, so the others are left out.
  std::set<std::wstring> seen;
  std::erase_if(*files, [&](const FolderFile& file) {
    if (seen.insert(NormalizePath(Utf8ToWide(file.name))).second) return false;
    skipped.push_back(file.name + " (the launcher cannot tell it from an earlier name)");
    return true;
  });
  for (const std::string& item : skipped) Warn("skipped " + item);
  if (request.hasStart) {
    FolderFile start;
    start.name = ".start";
    start.fromMemory = true;
    start.content = Utf16Le(request.start);
    start.modified = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch()).count();
    if (std::erase_if(*files, [](const FolderFile& file) { return file.name == ".start"; }) != 0) {
      Warn("--start replaces the folder's .start");
    }
    files->insert(std::lower_bound(files->begin(), files->end(), start,
                                   [](const FolderFile& a, const FolderFile& b) { return a.name < b.name; }),
                  std::move(start));
  }
  if (files->empty()) {
    Fail(request.source + L" has no files to pack");
    return false;
  }
  bool hasIndex = false;
  for (const FolderFile& file : *files) {
    std::wstring name = Utf8ToWide(file.name);
    LowerAscii(name);  // as the launcher matches names
    hasIndex = hasIndex || name == L"index.html";
  }
  if (!hasIndex) Warn("warning: no index.html at the top of the folder; the launcher opens index.html, so the learner would see \"404 Not Found\"");
  return true;
}

// Copies the zip at `path` to the output; its length in `*length`.
bool CopyZip(const std::wstring& path, OutputFile* out, std::uint64_t* length) {
  std::FILE* stream = OpenStream(path, "rb");
  if (stream == nullptr) return false;
  std::vector<unsigned char> block(1 << 20);
  std::size_t n;
  *length = 0;
  while ((n = std::fread(block.data(), 1, block.size(), stream)) != 0) {
    out->Write(block.data(), n);
    *length += n;
  }
  const bool ok = std::ferror(stream) == 0;
  std::fclose(stream);
  return ok;
}

// Opens the archive the written launcher carries, as the launcher will find it, and reads every
// entry back against its CRC. The launcher's kind tells where to look.
bool CheckPacked(const std::vector<unsigned char>& bytes, LauncherKind kind, std::size_t expectedEntries,
                 std::wstring* error) {
  std::uint64_t offset = 0, length = 0;
  if (!FindPackedArchive(bytes, kind, &offset, &length)) {
    *error = L"the written launcher does not carry the archive where the launcher looks for it";
    return false;
  }
  amzip::ZipArchive archive;
  try {
    archive.OpenMemory(bytes.data() + offset, length, L"RT_ZIP");
    if (archive.Entries().size() != expectedEntries) {
      *error = AnsiToWide(FormatText("the written archive has %zu entries, not %zu", archive.Entries().size(), expectedEntries));
      return false;
    }
    // Each entry is read to its end through a checked reader, which fails on a CRC or length
    // that does not match the directory; no size limit, and one block of memory.
    std::vector<unsigned char> block(1 << 16);
    for (const amzip::ZipEntry* entry : archive.Entries()) {
      const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(entry->name);
      if (reader == nullptr) {
        *error = L"the written entry " + entry->name + L" cannot be read back";
        return false;
      }
      while (reader->Read(block.data(), block.size()) != 0) {
      }
    }
  } catch (const amzip::AZError& failure) {
    *error = L"the written archive cannot be read back: " + failure.Message();
    return false;
  }
  return true;
}

}  // namespace

int Pack(const PackRequest& request) {
  // The launcher decides the target.
  std::wstring launcherPath = request.launcher;
  if (launcherPath.empty()) launcherPath = EnvironmentValue("ORVANE_LAUNCHER");
  if (launcherPath.empty()) launcherPath = FolderOf(ProgramPath()) + LauncherFileName();
  std::vector<unsigned char> launcher;
  if (!ReadWholeFile(launcherPath, &launcher)) {
    return Fail(L"no launcher program at " + launcherPath + L" (give one with --launcher PATH)");
  }
  const LauncherKind kind = KindOfLauncher(launcher);
  PeImage image;
  if (kind == LauncherKind::kNone) {
    return Fail(launcherPath + L" is neither a POSIX launcher (ELF) nor a Windows launcher (PE)");
  }
  if (kind == LauncherKind::kWindows) {
    std::wstring error;
    if (!image.Parse(launcher, &error)) return Fail(launcherPath + L": " + error);
    if (image.IsSigned()) {
      return Fail(launcherPath + L" carries an Authenticode signature, which packing would break: "
                  L"pack the unsigned launcher, then sign the output");
    }
  }

  // The source: a folder, or a zip carried as it is.
  std::error_code ec;
  const bool folder = std::filesystem::is_directory(FileSystemPath(request.source), ec);
  std::vector<FolderFile> files;
  std::size_t entryCount = 0;
  if (folder) {
    if (!CollectFolder(request, &files)) return kExitFailure;
    entryCount = files.size();
  } else {
    if (request.hasStart) return Fail(L"--start needs a folder: a zip is carried as it is");
    amzip::ZipArchive archive;
    try {
      archive.OpenFile(request.source);
    } catch (const amzip::AZError& error) {
      Fail(request.source + L" cannot be read as an archive:");
      std::fprintf(stderr, "%s\n", ConsoleText(error.Message()).c_str());
      return kExitFailure;
    }
    if (!archive.IsOpen() || archive.Entries().empty()) return Fail(request.source + L" is not a zip archive with entries");
    entryCount = archive.Entries().size();
  }

  Temporary temporary(request.output);
  std::wstring error;
  {
    OutputFile out(temporary.path);
    if (!out.IsOpen()) return Fail(L"cannot write " + request.output + L": " + AnsiToWide(std::strerror(errno)));
    PeResourcePacker packer(image, &out);
    if (kind == LauncherKind::kPosix) {
      out.Write(launcher.data(), static_cast<std::size_t>(PosixProgramLength(launcher)));
    } else if (!packer.Begin(&error)) {
      return Fail(launcherPath + L": " + error);
    }
    std::uint64_t length = 0;
    if (folder) {
      FolderArchiveOptions options;
      options.fixedTime = SourceDateEpoch(&options.fixedSeconds);
      options.progress = ErrorIsTerminal();
      if (!WriteFolderArchive(files, options, &out, &length, &error)) return Fail(error);
    } else if (!CopyZip(request.source, &out, &length)) {
      return Fail(L"cannot read " + request.source);
    }
    if (kind == LauncherKind::kPosix) {
      unsigned char trailer[sizeof(amzip::EmbeddedTrailer)];
      amzip::WriteEmbeddedTrailer(length, trailer);
      out.Write(trailer, sizeof trailer);
    } else {
      if (length > 0xFFFFFFFFu - 0x10000u) return Fail(L"the archive is too large for a Windows resource (4 GiB)");
      packer.End(length);
    }
    if (!out.Finish()) return Fail(L"cannot write " + request.output + L": " + AnsiToWide(std::strerror(errno)));
  }

  // Read back as the launcher will read it.
  std::vector<unsigned char> written;
  if (!ReadWholeFile(temporary.path, &written)) return Fail(L"cannot read back " + temporary.path);
  if (kind == LauncherKind::kWindows) {
    PeImage packed;
    if (!packed.Parse(written, &error)) return Fail(L"the written launcher: " + error);
    unsigned char checksum[4];
    SetU32(checksum, PeChecksum(written, packed.ChecksumOffset()));
    std::copy(checksum, checksum + 4, written.begin() + static_cast<std::ptrdiff_t>(packed.ChecksumOffset()));
    if (!PatchWholeFile(temporary.path, packed.ChecksumOffset(), checksum, 4)) return Fail(L"cannot write " + request.output);
  }
  if (!CheckPacked(written, kind, entryCount, &error)) return Fail(error);
  if (!MakeExecutable(temporary.path)) return Fail(L"cannot make " + temporary.path + L" executable");
  if (!RenameOver(temporary.path, request.output, &error)) return Fail(error);
  temporary.kept = true;
  return kExitOk;
}

}  // namespace orvanezip
