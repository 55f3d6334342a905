#include "launcher/run/course_layout.h"

#include <memory>
#include <random>

#include "content/course_root.h"
#include "launcher/os/platform.h"
#include "launcher/run/course_profile.h"
#include "scorm/scorm_handler.h"
#include "text/text.h"

namespace {

// A manifest larger than this is not read.
constexpr std::size_t kManifestLimit = 16u << 20;

}  // namespace

std::string ReadEntryBytes(amzip::ZipArchive& archive, const std::string& name, std::size_t limit) {
  try {
    const std::unique_ptr<amzip::EntryReader> reader = archive.OpenEntry(Utf8ToWide(name));
    if (!reader) return std::string();
    std::string bytes(limit, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const std::size_t n = reader->Read(&bytes[got], bytes.size() - got);
      if (n == 0) break;
      got += n;
    }
    bytes.resize(got);
    return bytes;
  } catch (...) {
    return std::string();
  }
}

CourseLayout ReadCourseLayout(amzip::ZipArchive& archive) {
  CourseLayout layout;
  layout.root = CourseRoot(archive);
  amzip::EntryInfo info;
  const std::string manifestName = layout.root + "imsmanifest.xml";
  layout.package = archive.Find(Utf8ToWide(manifestName), &info, false) && !info.folder;
  if (!layout.package) {
    layout.startPage = StartPageOf(archive, layout.root);
    layout.probePage = layout.startPage;
    return layout;
  }
  layout.manifest = ReadManifest(ReadEntryBytes(archive, manifestName, kManifestLimit));
  CheckManifestFiles(layout.manifest, [&](const std::string& file) {
    amzip::EntryInfo found;
    return archive.Find(Utf8ToWide(layout.root + file), &found, false) && !found.folder;
  });
  for (const std::string& problem : layout.manifest.problems) DebugLog("manifest: %s\n", problem.c_str());
  layout.startPage = std::string(kReservedFolder) + "player.html";
  layout.probePage = "imsmanifest.xml";
  return layout;
}

std::string LastNameFirst(const std::string& name) {
  const std::size_t space = name.rfind(' ');
  if (space == std::string::npos || name.find(',') != std::string::npos) return name;
  return name.substr(space + 1) + ", " + name.substr(0, name.find_last_not_of(' ', space) + 1);
}

Learner CurrentLearner(Platform& platform, const std::wstring& learnerName, const std::string& version) {
  const os::AccountNames account = platform.CurrentAccount();
  Learner learner;
  learner.id = WideToUtf8(account.login);
  if (!learnerName.empty()) {
    learner.name = WideToUtf8(learnerName);
  } else if (!account.fullName.empty()) {
    learner.name = version == "1.2" ? LastNameFirst(WideToUtf8(account.fullName)) : WideToUtf8(account.fullName);
  } else {
    learner.name = learner.id;
  }
  return learner;
}

std::wstring RecordPath(Platform& platform, const std::wstring& identity) {
  const std::wstring data = platform.UserDataFolder();
  if (data.empty()) return std::wstring();
  const std::wstring folder = data + kPathSeparator + L"records";
  if (!platform.MakeFolders(folder)) return std::wstring();
  return folder + kPathSeparator + CourseProfileName(identity) + L".json";
}

std::string NewSessionToken() {
  static std::random_device device;
  std::string token;
  for (int i = 0; i < 4; ++i) token += FormatText("%08x", static_cast<unsigned>(device()));
  return token;
}
