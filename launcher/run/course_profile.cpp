// The course's identity, prefix, ports and profile folder; see course_profile.h.
#include "launcher/run/course_profile.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "launcher/os/platform.h"
#include "text/text.h"
#include "text/url.h"

namespace {

// FNV-1a, 64 bits, over each character's code unit as four bytes: stable from run to run and
// build to build, unlike std::hash.
std::uint64_t IdentityHash(const std::wstring& identity) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const wchar_t c : identity) {
    const std::uint32_t unit = static_cast<std::uint32_t>(c);
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (unit >> shift) & 0xFF;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

// The files in a profile folder: the port its course got, and the port its run serves on now.
constexpr const wchar_t* kPortFile = L"port";
constexpr const wchar_t* kServingFile = L"serving";
constexpr const wchar_t* kPortHeldFile = L"port-held";
// How Platform::RemoveTree names a folder it has moved aside.
constexpr std::wstring_view kRemovingPrefix = L".removing-";

std::uint16_t ReadPort(Platform& platform, const std::wstring& profileDir, const wchar_t* file) {
  std::string text;
  if (profileDir.empty() || !platform.ReadSmallFile(profileDir + kPathSeparator + file, 16, text)) return 0;
  unsigned port = 0;
  const auto [next, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  const bool whole = next == text.data() + text.size() || *next == '\n';
  return error == std::errc() && whole && port > 0 && port < 65536 ? static_cast<std::uint16_t>(port) : 0;
}

}  // namespace

CourseProfile::CourseProfile() = default;
CourseProfile::CourseProfile(CourseProfile&&) noexcept = default;
CourseProfile& CourseProfile::operator=(CourseProfile&&) noexcept = default;
CourseProfile::~CourseProfile() = default;

std::string CoursePrefix(const std::wstring& identity) {
  // A hash of its own, so the prefix tells nothing of the port and the profile's name.
  const std::uint64_t hash = IdentityHash(L"prefix\n" + identity);
  return FormatText("%010llx/", static_cast<unsigned long long>(hash >> 24));
}

std::vector<std::uint16_t> CoursePorts(const std::wstring& identity) {
  constexpr unsigned kRange = kCoursePortLast - kCoursePortFirst + 1u;
  std::vector<std::uint16_t> ports;
  for (int i = 0; static_cast<int>(ports.size()) < kCoursePortCandidates; ++i) {
    const std::wstring seed = i == 0 ? identity : identity + L'\n' + std::to_wstring(i);
    // FNV's low bits are weak; a finalising mix spreads them before the range is taken.
    std::uint64_t mixed = IdentityHash(seed);
    mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebull;
    mixed ^= mixed >> 31;
    const auto port = static_cast<std::uint16_t>(kCoursePortFirst + mixed % kRange);
    bool seen = false;
    for (const std::uint16_t earlier : ports) seen = seen || earlier == port;
    if (!seen) ports.push_back(port);
  }
  return ports;
}

std::uint16_t CoursePort(const std::wstring& identity) { return CoursePorts(identity).front(); }

std::wstring CourseProfileName(const std::wstring& identity) {
  std::wstring name;
  for (const wchar_t c : identity) {
    if (name.size() == 40) break;
    const bool safe = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                      (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' || c == L'.';
    name += safe ? c : L'_';
  }
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(IdentityHash(identity)));
  return name + L'-' + AnsiToWide(hash);
}

CourseProfile TakeCourseProfile(Platform& platform, const std::wstring& identity) {
  CourseProfile profile;
  const std::wstring data = platform.UserDataFolder();
  if (data.empty()) return profile;
  const std::wstring profiles = data + kPathSeparator + L"profiles";
  const std::wstring name = CourseProfileName(identity);
  const std::wstring dir = profiles + kPathSeparator + name;
  // The lock first, the folder after it: a removal that held the lock may just have taken the
  // folder away.
  if (!platform.MakeFolders(profiles)) return profile;
  profile.lock = platform.TryLockFolder(dir, profile.heldElsewhere);
  if (!profile.lock) {
    if (profile.heldElsewhere) profile.dir = dir;
    return profile;
  }
  if (!platform.MakeFolders(dir)) {
    DebugLog("cannot create the profile folder '%S'.\n", dir.c_str());
    profile.lock.reset();
    return profile;
  }
  profile.dir = dir;
  AnnounceServingPort(platform, dir, 0);  // what a run that ended left there
  platform.MarkFolderUsed(dir);
  PruneProfiles(platform, profiles, name);
  return profile;
}

void PruneProfiles(Platform& platform, const std::wstring& profiles, const std::wstring& own) {
  const std::int64_t now = platform.UnixSeconds();
  const std::vector<FolderUse> folders = platform.ListFolders(profiles);
  for (const FolderUse& folder : folders) {
    // What a removal that was cut short left (see Platform::RemoveTree): no run uses it.
    if (folder.name.compare(0, kRemovingPrefix.size(), kRemovingPrefix) == 0) {
      platform.RemoveTree(profiles + kPathSeparator + folder.name);
      continue;
    }
    // A folder never marked may be one another run is just making.
    if (folder.name == own || folder.lastUsedSeconds == 0) continue;
    // A stamp dated after now (written while the clock was ahead) counts as now, and is made
    // so, lest it never expire.
    const bool future = folder.lastUsedSeconds > now;
    if (!future && now - folder.lastUsedSeconds <= kProfileKeepSeconds) continue;
    // A run that holds it keeps it, however old its stamp; the lock is held until the folder
    // has been moved aside and removed, so no run can start on it meanwhile.
    const std::wstring other = profiles + kPathSeparator + folder.name;
    bool held = false;
    std::unique_ptr<FolderLock> lock = platform.TryLockFolder(other, held);
    if (!lock) continue;
    if (future) {
      platform.MarkFolderUsed(other);
    } else {
      platform.RemoveTree(other);
      platform.RemoveFolderLock(other, std::move(lock));
    }
  }
  // Lock files whose folder is gone (removed by hand, or by an earlier version): once no run
  // holds one, nothing needs it. A run that is just starting holds its lock before its folder.
  for (const std::wstring& locked : platform.ListFolderLocks(profiles)) {
    bool hasFolder = locked == own;
    for (const FolderUse& folder : folders) hasFolder = hasFolder || folder.name == locked;
    if (hasFolder) continue;
    const std::wstring other = profiles + kPathSeparator + locked;
    bool held = false;
    std::unique_ptr<FolderLock> lock = platform.TryLockFolder(other, held);
    if (lock) platform.RemoveFolderLock(other, std::move(lock));
  }
}

std::uint16_t RememberedPort(Platform& platform, const std::wstring& profileDir) {
  return ReadPort(platform, profileDir, kPortFile);
}

void RememberPort(Platform& platform, const std::wstring& profileDir, std::uint16_t port) {
  if (profileDir.empty() || port == RememberedPort(platform, profileDir)) return;
  platform.WriteSmallFile(profileDir + kPathSeparator + kPortFile, std::to_string(port) + "\n");
}

bool NoteWantedPortHeld(Platform& platform, const std::wstring& profileDir, bool held) {
  if (profileDir.empty()) return false;
  const std::wstring path = profileDir + kPathSeparator + kPortHeldFile;
  std::string before;
  const bool heldBefore = platform.ReadSmallFile(path, 4, before) && before == "1\n";
  if (held != heldBefore) platform.WriteSmallFile(path, held ? "1\n" : "");
  return heldBefore;
}

std::uint16_t ServingPort(Platform& platform, const std::wstring& profileDir) {
  return ReadPort(platform, profileDir, kServingFile);
}

void AnnounceServingPort(Platform& platform, const std::wstring& profileDir, std::uint16_t port) {
  if (!profileDir.empty()) {
    platform.WriteSmallFile(profileDir + kPathSeparator + kServingFile, port != 0 ? std::to_string(port) + "\n" : "");
  }
}
