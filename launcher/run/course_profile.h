// A course's identity and what hangs on it: its prefix, its profile folder in the user's data
// folder (kept between runs, so browser storage survives; locked while a run uses it), and the
// ports its origin uses when HttpPort is not set. Portable; the folder services come from the
// Platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FolderLock;
class Platform;

// `identity` below is the course's (CourseIdentityOf, course_identity.h).

// The course's URL prefix, "HEX/" of ten lower-case hex digits from the identity: the same on
// every run, so cookies with a default path, bookmarks and service worker scopes outlive a run.
std::string CoursePrefix(const std::wstring& identity);

// The course's ports in the order they are tried: the same sequence on every run, all in
// kCoursePortFirst..kCoursePortLast, below the dynamic ranges of Windows (49152-65535) and
// Linux (32768-60999) where the system hands out ports and Hyper-V, WSL and Docker reserve
// blocks that move at each boot.
constexpr std::uint16_t kCoursePortFirst = 16384;
constexpr std::uint16_t kCoursePortLast = 32767;
constexpr int kCoursePortCandidates = 8;
std::vector<std::uint16_t> CoursePorts(const std::wstring& identity);
// The first of them.
std::uint16_t CoursePort(const std::wstring& identity);

// The profile folder's name under the data folder's "profiles": the identity made safe for any
// file system (letters, digits, '-', '_', '.' kept; anything else '_'; at most 40 characters)
// and a hash of the whole identity, so two names that differ only in dropped characters differ.
std::wstring CourseProfileName(const std::wstring& identity);

// Profiles not used for this long are removed when any course opens.
constexpr std::int64_t kProfileKeepSeconds = 90ll * 24 * 60 * 60;

// A course's profile as a run holds it.
struct CourseProfile {
  std::wstring dir;                  // the folder; "" when there is none (no data folder)
  std::unique_ptr<FolderLock> lock;  // held while the run runs; null with heldElsewhere
  bool heldElsewhere = false;        // another process (a run of this course) holds the lock
  CourseProfile();
  CourseProfile(CourseProfile&&) noexcept;
  CourseProfile& operator=(CourseProfile&&) noexcept;
  ~CourseProfile();
};

// Takes the course's profile: creates the folder, locks it (without waiting), marks it used
// now, and removes the profiles of other courses not used for kProfileKeepSeconds that no run
// holds. When another run holds it, `heldElsewhere` is set and nothing is marked or removed.
CourseProfile TakeCourseProfile(Platform& platform, const std::wstring& identity);

// The pruning pass of TakeCourseProfile over the folder `profiles`, `own` being the profile the
// run holds: profiles not used for kProfileKeepSeconds that no run holds are removed with their
// lock files, lock files without a folder that no run holds are removed, and what removals cut
// short left (".removing-*") goes too.
void PruneProfiles(Platform& platform, const std::wstring& profiles, const std::wstring& own);

// The port remembered in a profile folder by RememberPort; 0 when none.
std::uint16_t RememberedPort(Platform& platform, const std::wstring& profileDir);
void RememberPort(Platform& platform, const std::wstring& profileDir, std::uint16_t port);
// Records whether this run found the remembered port held by another program; true when the
// run before found it held too (the file "port-held" in the profile folder).
bool NoteWantedPortHeld(Platform& platform, const std::wstring& profileDir, bool held);

// Where the run that holds the profile serves, once its browser has started (0 until then): what
// a second run of the course hands its page to. A run clears it when it takes the profile.
std::uint16_t ServingPort(Platform& platform, const std::wstring& profileDir);
void AnnounceServingPort(Platform& platform, const std::wstring& profileDir, std::uint16_t port);
