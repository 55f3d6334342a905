// Pack: the launcher's kind decides how the archive is carried; the archive comes from a folder
// (folder_archive.h), a zip file or a packed launcher; OUTPUT is written beside itself under a
// new temporary name, read back through the same lookup the launcher uses, CRC-checked, and
// renamed into place.
#include "tools/orvane-zip/pack.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <system_error>
#include <vector>

#include "amzip/archive.h"
#include "amzip/course_id.h"
#include "amzip/embedded.h"
#include "amzip/entry.h"
#include "amzip/top_folder.h"
#include "scorm/manifest.h"
#include "text/text.h"
#include "text/url.h"
#include "tools/orvane-zip/byte_source.h"
#include "tools/orvane-zip/files.h"
#include "tools/orvane-zip/folder_archive.h"
#include "tools/orvane-zip/folder_walk.h"
#include "tools/orvane-zip/launcher_file.h"
#include "tools/orvane-zip/output_file.h"
#include "tools/orvane-zip/pe_image.h"
#include "tools/orvane-zip/platform.h"
#include "tools/orvane-zip/tar_gz.h"
#include "tools/orvane-zip/utf16.h"
#include "tools/orvane-zip/win_resources.h"

namespace orvanezip {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
// The most archive a 32-bit Windows launcher is given. Its archive is mapped with its image, as
// one block of address space: large-address-aware, it has 4 GiB under 64-bit Windows, but a
// 32-bit Windows gives it 2 GiB, which its DLLs, heaps and stacks split; 1 GiB leaves room.
constexpr std::uint64_t kMax32BitArchive = 1ull << 30;

int Fail(const std::wstring& text) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(text).c_str());
  return kExitFailure;
}

void Warn(const std::string& utf8) {
  std::fprintf(stderr, "orvane-zip: %s\n", ConsoleText(Utf8ToWide(utf8)).c_str());
}

// The text as UTF-16LE bytes, as the launcher reads .start.
std::string Utf16Le(const std::wstring& text) {
  std::string bytes;
  for (char16_t unit : ToUtf16(text)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// The temporary OUTPUT: a new file of its own name in OUTPUT's folder, removed unless it was
// renamed into place.
class Temporary {
 public:
  explicit Temporary(const std::wstring& output) {
    std::random_device random;
    for (int attempt = 0; attempt < 16 && out == nullptr; ++attempt) {
      path = output + AnsiToWide(FormatText(".orvane-zip-%08x", static_cast<unsigned>(random())));
      out = std::make_unique<OutputFile>(path);
      if (!out->IsOpen()) {
        out.reset();
        if (errno != EEXIST) break;
      }
    }
  }
  ~Temporary() {
    const bool created = out != nullptr;
    out.reset();
    if (created && !kept) {
      std::error_code ec;
      std::filesystem::remove(FileSystemPath(path), ec);
    }
  }
  std::wstring path;
  std::unique_ptr<OutputFile> out;
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

// Puts at `output` a .tar.gz holding the packed launcher at `packed`, named as `output` without
// its .tar.gz (or .tgz) and with its run bit, written beside it first and renamed into place.
bool WrapInTarGz(const std::wstring& output, const std::wstring& packed, std::wstring* error) {
  std::string name = PathBytes(PathText(FileSystemPath(output).filename()));
  for (const char* extension : {".tar.gz", ".tgz"}) {
    const std::size_t length = std::strlen(extension);
    if (name.size() > length && name.compare(name.size() - length, length, extension) == 0) {
      name.resize(name.size() - length);
      break;
    }
  }
  std::int64_t seconds = 0;
  if (!SourceDateEpoch(&seconds)) seconds = static_cast<std::int64_t>(std::time(nullptr));
  Temporary archive(output);
  if (archive.out == nullptr) {
    *error = L"cannot write " + output + L": " + AnsiToWide(std::strerror(errno));
    return false;
  }
  {
    FileSource program(packed);
    if (!program.IsOpen()) {
      *error = L"cannot read back " + packed;
      return false;
    }
    if (!WriteProgramTarGz(program, name, seconds, archive.out.get(), error)) return false;
  }
  if (!archive.out->MakeReadable() || !archive.out->Finish()) {
    *error = L"cannot write " + output + L": " + AnsiToWide(std::strerror(errno));
    return false;
  }
  if (!RenameOver(archive.path, output, error)) return false;
  archive.kept = true;
  return true;
}

const char kNoIndex[] =
    "warning: no index.html at the top of %s; the launcher opens index.html, so the learner would see \"404 Not Found\"";

// A SCORM package (an imsmanifest.xml at its root) is checked as the launcher reads it: each
// problem is a warning, and the package is packed all the same. `exists` asks for a path
// relative to the package's root.
void CheckManifest(const std::string& xml, const std::function<bool(const std::string&)>& exists) {
  ManifestFacts facts = ReadManifest(xml);
  if (facts.wellFormed) CheckManifestFiles(facts, exists);
  for (const std::string& problem : facts.problems) Warn("warning: SCORM manifest: " + problem);
  if (facts.problems.empty()) Warn("SCORM " + facts.version + " package " + facts.identifier + ": its manifest is sound");
}

// What the summary says besides the counts.
struct Summary {
  WalkReport walk;
  FolderArchiveStats stats;
  std::size_t entries = 0;
  std::string sourceId;  // the course ID SOURCE has ("" for none)
  std::string id;        // the one packed
};

// The course ID in a folder's kCourseIdFile: its first line; "" when there is none.
std::string FolderCourseId(const FolderFile& file) {
  std::ifstream in(file.path, std::ios::binary);
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// A new course ID: 128 random bits in hex.
std::string NewCourseId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) id += FormatText("%08x", static_cast<unsigned>(random()));
  return id;
}

// The course folder's files, with the --start text as its .start entry.
bool CollectFolder(const PackRequest& request, std::vector<FolderFile>* files, Summary* summary) {
  WalkOptions options;
  options.followOutside = !request.noOutsideLinks;
  for (const std::wstring& pattern : request.excludes) options.excludes.push_back(PathBytes(pattern));
  const std::filesystem::path output = FileSystemPath(request.output);
  options.outputName = PathBytes(PathText(output.filename()));
  options.hasOutput = IdentityOf(output, &options.output);
  std::wstring error;
  WalkReport& report = summary->walk;
  if (!ListFolder(FileSystemPath(request.source), options, files, &report, &error)) {
    Fail(error);
    return false;
  }
  // The launcher matches names regardless of ASCII case and separator: of names that match
  // alike only the first can be served, so the others are left out.
  std::set<std::wstring> seen;
  std::erase_if(*files, [&](const FolderFile& file) {
    if (seen.insert(NormalizePath(Utf8ToWide(file.name))).second) return false;
    report.skipped.push_back(file.name + " (the launcher cannot tell it from an earlier name)");
    return true;
  });
  // The folder's course ID is carried in the archive's comment, not as a file.
  std::erase_if(*files, [&](const FolderFile& file) {
    if (file.name != kCourseIdFile) return false;
    summary->sourceId = FolderCourseId(file);
    if (!amzip::IsCourseId(summary->sourceId)) {
      Warn("warning: " + file.name + " holds no course ID (1 to 64 letters, digits, '-', '_', '.'): a new one is made");
      summary->sourceId.clear();
    }
    return true;
  });
  for (const std::string& item : report.skipped) Warn("skipped " + item);
  for (const std::string& name : report.notUtf8) {
    Warn("warning: " + name + " is not a UTF-8 name: stored as its bytes with the UTF-8 flag clear; a link to it may "
         "not find it (rename it to UTF-8)");
  }
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
  std::set<std::wstring> names;
  const FolderFile* manifest = nullptr;
  for (const FolderFile& file : *files) {
    std::wstring name = NormalizePath(Utf8ToWide(file.name));  // as the launcher matches names
    if (file.name == "imsmanifest.xml" && !file.fromMemory) manifest = &file;
    names.insert(std::move(name));
  }
  if (manifest != nullptr) {
    std::ifstream in(manifest->path, std::ios::binary);
    const std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CheckManifest(xml, [&](const std::string& file) { return names.count(NormalizePath(Utf8ToWide(file))) > 0; });
  } else if (names.count(NormalizePath(L"index.html")) == 0) {
    Warn(FormatText(kNoIndex, "the folder"));
  }
  return true;
}

// A zip or packed launcher SOURCE: where its archive lies. The archive is opened to count its
// entries and see its index.html.
bool OpenSourceArchive(const PackRequest& request, const FileSource& source, std::uint64_t* offset, std::uint64_t* length,
                       std::size_t* entries, std::string* comment) {
  *offset = 0;
  *length = source.Size();
  const LauncherKind kind = KindOfLauncher(source);
  if (kind != LauncherKind::kNone && !FindPackedArchive(source, kind, offset, length)) {
    Fail(request.source + L" is a program that carries no course");
    return false;
  }
  amzip::ZipArchive archive;
  try {
    archive.OpenSource(source.Part(*offset, *length), request.source);
  } catch (const amzip::AZError& error) {
    Fail(request.source + L" cannot be read as an archive:");
    std::fprintf(stderr, "%s\n", ConsoleText(error.Message()).c_str());
    return false;
  }
  if (!archive.IsLoaded() || archive.Entries().empty()) {
    Fail(request.source + L" is not a zip archive with entries");
    return false;
  }
  *entries = archive.Entries().size();
  *comment = archive.Comment();
  // The launcher serves a zip whose entries all lie in one folder from that folder.
  const std::string root = amzip::TopFolder(archive);
  amzip::EntryInfo info;
  if (archive.Find(Utf8ToWide(root + "imsmanifest.xml"), &info, false)) {
    std::string xml;
    try {
      const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(Utf8ToWide(root + "imsmanifest.xml"));
      char piece[65536];
      while (reader && xml.size() < (16u << 20)) {
        const std::size_t n = reader->Read(piece, sizeof piece);
        if (n == 0) break;
        xml.append(piece, n);
      }
    } catch (const amzip::AZError& error) {
      Warn("warning: SCORM manifest: imsmanifest.xml cannot be read: " + WideToUtf8(error.Message()));
    }
    CheckManifest(xml, [&](const std::string& file) {
      amzip::EntryInfo found;
      return archive.Find(Utf8ToWide(root + file), &found, false) && !found.folder;
    });
  } else if (!archive.Find(Utf8ToWide(root + "index.html"), &info)) {
    Warn(FormatText(kNoIndex, "the archive"));
  }
  return true;
}

// Copies `length` bytes at `offset` of the source to the output.
bool CopyPart(const FileSource& source, std::uint64_t offset, std::uint64_t length, OutputFile* out) {
  std::vector<unsigned char> block;
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, 1u << 20));
    if (!source.ReadVector(offset + done, piece, &block)) return false;
    out->Write(block);
    done += piece;
  }
  return true;
}

// Copies the archive at `offset` of the source with `comment` in place of its own `oldComment`:
// possible when its end record, with that comment, ends it. False (nothing written) otherwise.
bool CopyWithComment(const FileSource& source, std::uint64_t offset, std::uint64_t length, const std::string& oldComment,
                     const std::string& comment, OutputFile* out, std::uint64_t* written) {
  const std::uint64_t kept = length - oldComment.size() - 2;  // through the end record's comment length
  std::vector<unsigned char> end;
  if (length < oldComment.size() + 22 || comment.size() > 0xFFFF || !source.ReadVector(offset + kept - 20, 22, &end) ||
      std::memcmp(end.data(), "PK\x05\x06", 4) != 0 || static_cast<std::size_t>(end[20] | (end[21] << 8)) != oldComment.size()) {
    return false;
  }
  if (!CopyPart(source, offset, kept, out)) return false;
  std::vector<unsigned char> tail;
  PutU16(tail, static_cast<std::uint32_t>(comment.size()));
  tail.insert(tail.end(), comment.begin(), comment.end());
  out->Write(tail);
  *written = kept + tail.size();
  return true;
}

// Opens the archive the written launcher carries, as the launcher will find it, and reads every
// entry back against its CRC, through positional reads of the file: no size limit, and one
// block of memory.
bool CheckPacked(const FileSource& written, LauncherKind kind, std::size_t expectedEntries, std::wstring* error) {
  std::uint64_t offset = 0, length = 0;
  if (!FindPackedArchive(written, kind, &offset, &length)) {
    *error = L"the written launcher does not carry the archive where the launcher looks for it";
    return false;
  }
  amzip::ZipArchive archive;
  try {
    archive.OpenSource(written.Part(offset, length), L"RT_ZIP");
    if (archive.Entries().size() != expectedEntries) {
      *error = AnsiToWide(FormatText("the written archive has %zu entries, not %zu", archive.Entries().size(), expectedEntries));
      return false;
    }
    std::vector<unsigned char> block(1 << 16);
    for (const amzip::ZipEntry* entry : archive.Entries()) {
      // Looked up as the archive indexes it: a name without the UTF-8 flag by the ANSI code page.
      const std::string raw(entry->rawName.c_str());
      const std::unique_ptr<amzip::EntryReader> reader =
          archive.OpenEntry((entry->flags & amzip::kFlagUtf8) != 0 ? entry->name : AnsiToWide(raw));
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

std::string Megabytes(std::uint64_t bytes) { return FormatText("%.1f MB", static_cast<double>(bytes) / 1e6); }

int Refuse32Bit(std::uint64_t length) {
  return Fail(AnsiToWide(FormatText("the archive (%s) is larger than a 32-bit Windows launcher can map (%s): pack it with "
                                    "the 64-bit launcher (orvane.exe of the win64 build)",
                                    Megabytes(length).c_str(), Megabytes(kMax32BitArchive).c_str())));
}

void PrintSummary(const PackRequest& request, LauncherKind kind, const Summary& summary, std::uint64_t archiveLength,
                  std::uint64_t outputLength, bool folder) {
  std::string counts;
  if (folder) {
    counts = FormatText("%zu files, %zu deflated and %zu stored; ", summary.entries, summary.stats.deflated, summary.stats.stored) +
             Megabytes(summary.stats.bytesIn) + " in, ";
  } else {
    counts = FormatText("%zu entries from the archive as it was; ", summary.entries);
  }
  std::wstring text = L"packed " + request.output + (kind == LauncherKind::kWindows ? L" (Windows launcher): " : L" (POSIX launcher): ") +
                      Utf8ToWide(counts + Megabytes(archiveLength) + " archive, " + Megabytes(outputLength) + " in all\n");
  for (const std::string& item : summary.walk.followed) text += Utf8ToWide("  followed " + item + " (a link to outside the folder)\n");
  for (const std::string& item : summary.walk.leftOut) text += Utf8ToWide("  left out " + item + "\n");
  for (const std::string& item : summary.walk.skipped) text += Utf8ToWide("  skipped " + item + "\n");
  if (summary.id == summary.sourceId) {
    text += Utf8ToWide("  course ID " + summary.id + " (SOURCE's: the learners' progress carries over)\n");
  } else if (!request.id.empty()) {
    text += Utf8ToWide("  course ID " + summary.id + " (--id)\n");
  } else {
    text += Utf8ToWide("  course ID " + summary.id + " (new: pack the next version with --id " + summary.id +
                       (folder ? ", or with --keep-id" : "") + " to keep the learners' progress)\n");
  }
  std::fputs(ConsoleText(text).c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int Pack(const PackRequest& request, std::string* courseId) {
  // The launcher decides the target, and is checked before anything is written.
  std::wstring launcherPath = request.launcher;
  if (launcherPath.empty()) launcherPath = EnvironmentValue("ORVANE_LAUNCHER");
  if (launcherPath.empty()) launcherPath = FolderOf(ProgramPath()) + LauncherFileName();
  auto launcherFile = std::make_unique<FileSource>(launcherPath);
  if (!launcherFile->IsOpen()) return Fail(L"no launcher program at " + launcherPath + L" (give one with --launcher PATH)");
  const FileSource& launcher = *launcherFile;
  const LauncherKind kind = KindOfLauncher(launcher);
  PeImage image;
  std::wstring error;
  if (kind == LauncherKind::kNone) {
    return Fail(launcherPath + L" is neither a POSIX launcher (ELF) nor a Windows launcher (PE)");
  }
  if (request.tar && kind != LauncherKind::kPosix) return Fail(L"--tar is for Linux launchers: a Windows program needs no run bit");
  if (kind == LauncherKind::kPosix) {
    if (!CheckPosixLauncher(launcher, PosixProgramLength(launcher), &error)) return Fail(launcherPath + L": " + error);
    if (!request.icon.empty() || request.hasTitle) {
      return Fail(L"--icon and --title are for Windows launchers: a POSIX launcher has no icon or version resource");
    }
  } else {
    if (!image.Parse(launcher, &error)) return Fail(launcherPath + L": " + error);
    if (image.IsSigned()) {
      return Fail(launcherPath + L" carries an Authenticode signature, which packing would break: "
                  L"pack the unsigned launcher, then sign the output");
    }
  }
  std::vector<ResourceItem> resources;
  if (kind == LauncherKind::kWindows && !LauncherResources(image, launcher, request, &resources, &error)) return Fail(error);

  std::error_code ec;
  if (std::filesystem::is_directory(FileSystemPath(request.output), ec)) {
    return Fail(request.output + L" is a folder: give the file to write, such as " +
                PathText(FileSystemPath(request.output) / (kind == LauncherKind::kWindows ? "course.exe" : "course")));
  }

  // The source: a folder, or a zip or a packed launcher, whose archive is carried as it is.
  const bool folder = std::filesystem::is_directory(FileSystemPath(request.source), ec);
  std::vector<FolderFile> files;
  Summary summary;
  std::unique_ptr<FileSource> zip;
  std::uint64_t zipOffset = 0, zipLength = 0;
  std::string zipComment;
  if (!request.id.empty() && !amzip::IsCourseId(request.id)) {
    return Fail(L"--id " + Utf8ToWide(request.id) + L": a course ID is 1 to 64 letters, digits, '-', '_' and '.'");
  }
  if (folder) {
    if (!CollectFolder(request, &files, &summary)) return kExitFailure;
    summary.entries = files.size();
  } else {
    if (request.keepId) return Fail(L"--keep-id needs a folder: the ID of a zip or launcher is kept in its archive");
    if (request.hasStart) return Fail(L"--start needs a folder: a zip is carried as it is");
    zip = std::make_unique<FileSource>(request.source);
    if (!zip->IsOpen()) return Fail(L"cannot read " + request.source);
    if (!OpenSourceArchive(request, *zip, &zipOffset, &zipLength, &summary.entries, &zipComment)) return kExitFailure;
    summary.sourceId = amzip::CourseIdOf(zipComment);
    if (kind == LauncherKind::kWindows && !image.Is64Bit() && zipLength > kMax32BitArchive) return Refuse32Bit(zipLength);
  }
  summary.id = !request.id.empty() ? request.id : !summary.sourceId.empty() ? summary.sourceId : NewCourseId();

  Temporary temporary(request.output);
  if (temporary.out == nullptr) return Fail(L"cannot write " + request.output + L": " + AnsiToWide(std::strerror(errno)));
  OutputFile& out = *temporary.out;
  PeResourcePacker packer(image, std::move(resources), &out);
  if (kind == LauncherKind::kPosix) {
    if (!CopyPart(launcher, 0, PosixProgramLength(launcher), &out)) return Fail(L"cannot read " + launcherPath);
  } else if (!packer.Begin(&error)) {
    return Fail(launcherPath + L": " + error);
  }
  std::uint64_t length = 0;
  if (folder) {
    FolderArchiveOptions options;
    options.fixedTime = SourceDateEpoch(&options.fixedSeconds);
    options.progress = ErrorIsTerminal();
    options.comment = amzip::CommentWithCourseId("", summary.id);
    if (!WriteFolderArchive(files, options, &out, &length, &summary.stats, &error)) return Fail(error);
  } else {
    const std::string comment = amzip::CommentWithCourseId(zipComment, summary.id);
    if (summary.id == summary.sourceId || !CopyWithComment(*zip, zipOffset, zipLength, zipComment, comment, &out, &length)) {
      if (summary.id != summary.sourceId) {
        Warn("warning: the archive's end record is not its last bytes: carried as it is, without a course ID");
        summary.id = summary.sourceId = amzip::CourseIdOf(zipComment);
      }
      if (!CopyPart(*zip, zipOffset, zipLength, &out)) return Fail(L"cannot read " + request.source);
      length = zipLength;
    }
  }
  if (kind == LauncherKind::kPosix) {
    unsigned char trailer[sizeof(amzip::EmbeddedTrailer)];
    amzip::WriteEmbeddedTrailer(length, trailer);
    out.Write(trailer, sizeof trailer);
  } else {
    if (!image.Is64Bit() && length > kMax32BitArchive) return Refuse32Bit(length);
    if (length > packer.MaxArchiveLength()) return Fail(L"the archive is too large for a Windows resource (4 GiB)");
    packer.End(length);
  }
  if (!out.Flush()) return Fail(L"cannot write " + request.output + L": " + AnsiToWide(std::strerror(errno)));

  // Read back as the launcher will read it. Every file this pack opened is closed before the
  // rename, which Windows refuses for an open file (also when OUTPUT is the launcher itself).
  {
    FileSource written(temporary.path);
    if (!written.IsOpen()) return Fail(L"cannot read back " + temporary.path);
    if (kind == LauncherKind::kWindows) {
      PeImage packed;
      if (!packed.Parse(written, &error)) return Fail(L"the written launcher: " + error);
      std::uint32_t sum = 0;
      if (!PeChecksum(written, packed.ChecksumOffset(), &sum)) return Fail(L"cannot read back " + temporary.path);
      unsigned char checksum[4];
      SetU32(checksum, sum);
      out.Patch(packed.ChecksumOffset(), checksum, 4);
    }
    if (!CheckPacked(written, kind, summary.entries, &error)) return Fail(error);
  }
  launcherFile.reset();
  zip.reset();
  const std::uint64_t outputLength = out.Position();
  if (!out.MakeExecutable()) return Fail(L"cannot make " + temporary.path + L" executable");
  if (!out.Finish()) return Fail(L"cannot write " + request.output + L": " + AnsiToWide(std::strerror(errno)));
  if (request.tar) {
    if (!WrapInTarGz(request.output, temporary.path, &error)) return Fail(error);
  } else {
    if (!RenameOver(temporary.path, request.output, &error)) return Fail(error);
    temporary.kept = true;
  }
  if (request.keepId && summary.id != summary.sourceId) {
    std::ofstream idFile(FileSystemPath(request.source) / kCourseIdFile, std::ios::binary | std::ios::trunc);
    idFile << summary.id << "\n";
    if (!idFile.flush()) return Fail(L"packed, but cannot write the course ID to " + request.source + L": " +
                                     AnsiToWide(kCourseIdFile));
  }
  PrintSummary(request, kind, summary, length, outputLength, folder);
  if (courseId != nullptr) *courseId = summary.id;
  return kExitOk;
}

}  // namespace orvanezip
