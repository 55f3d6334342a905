// The course's identity, its port and its profile folder with the removal of old profiles.
#include <gtest/gtest.h>

#include <set>

#include "amzip/archive.h"
#include "amzip/course_id.h"
#include "launcher/run/course_identity.h"
#include "launcher/run/course_profile.h"
#include "tests/http/zip_writer.h"
#include "tests/launcher/fake_platform.h"

namespace {

TEST(CourseFileName, TheFileNameWhereverTheFileIs) {
  EXPECT_EQ(CourseFileName(L"/home/ann/Downloads/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseFileName(L"/media/usb/old/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseFileName(L"C:\\Courses\\SAFETY COURSE.ZIP"), L"safety course.zip");
  EXPECT_EQ(CourseFileName(L"C:/x/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseFileName(L"course.zip"), L"course.zip");
  // Only A-Z are lowered: other letters keep their case.
  EXPECT_EQ(CourseFileName(L"/x/\u00c9T\u00c9.zip"), L"\u00c9t\u00c9.zip");
}

// Two vendors' course.zip, a new version of one, a packed course with its ID and a package.
TEST(CourseIdentityOf, FromTheContentNotTheFileNameAlone) {
  const auto identity = [](const std::vector<std::string>& names, const std::wstring& path,
                           const std::string& comment = "", const std::string& package = "") {
    ZipWriter zip;
    for (const std::string& name : names) zip.Add(name, "x");
    const std::string bytes = zip.Finish(comment);
    amzip::ZipArchive archive;
    archive.OpenMemory(bytes.data(), bytes.size(), L"memory");
    return CourseIdentityOf(archive, path, package);
  };
  const std::wstring vendorA = identity({"index.html", "lesson/1.html", "app.js"}, L"/dl/vendorA/course.zip");
  EXPECT_EQ(vendorA.rfind(L"course.zip #", 0), 0u);
  EXPECT_NE(identity({"index.html", "quiz.js"}, L"/dl/vendorB/course.zip"), vendorA);
  EXPECT_EQ(identity({"app.js", "index.html", "lesson/2.html", "lesson/1.html"}, L"/usb/Course.ZIP"), vendorA)
      << "a new version with the same top-level names";
  const std::string comment = "made here\norvane-course-id: 3f2a-Course_1.0\r\n";
  EXPECT_EQ(identity({"index.html"}, L"/a/x.zip", comment), L"id 3f2a-Course_1.0");
  EXPECT_EQ(identity({"other.html"}, L"/b/y.zip", comment), L"id 3f2a-Course_1.0");
  EXPECT_EQ(identity({"index.html"}, L"/a/x.zip", comment, "com.vendor.safety"), L"package com.vendor.safety");
  EXPECT_EQ(identity({"index.html"}, L"/a/x.zip", "orvane-course-id: bad id"), identity({"index.html"}, L"/a/x.zip"));
}

TEST(CourseIdOf, CommentLines) {
  EXPECT_EQ(amzip::CourseIdOf("orvane-course-id: abc"), "abc");
  EXPECT_EQ(amzip::CourseIdOf("orvane-course-id: " + std::string(65, 'a')), "");
  EXPECT_EQ(amzip::CommentWithCourseId("", "n1"), "orvane-course-id: n1");
  EXPECT_EQ(amzip::CommentWithCourseId("mine\norvane-course-id: old\nmore", "n1"), "mine\nmore\norvane-course-id: n1");
}

TEST(CoursePort, StableOutsideTheDynamicRangesAndSpread) {
  EXPECT_EQ(CoursePorts(L"safety course.zip"), CoursePorts(L"safety course.zip"));
  std::set<std::uint16_t> ports;
  for (int i = 0; i < 1000; ++i) {
    const std::vector<std::uint16_t> sequence = CoursePorts(L"course-" + std::to_wstring(i) + L".zip");
    EXPECT_EQ(std::set<std::uint16_t>(sequence.begin(), sequence.end()).size(), 8u);
    for (const std::uint16_t port : sequence) {
      EXPECT_GE(port, 1024);
      EXPECT_LT(port, 32768) << "below Linux's 32768-60999 and Windows' 49152-65535";
    }
    ports.insert(sequence[0]);
  }
  EXPECT_GT(ports.size(), 950u) << "a thousand courses mostly get ports of their own";
}

TEST(CourseProfileName, SafeOnAnyFileSystemAndDistinct) {
  const std::wstring name = CourseProfileName(L"a/b\\c:d*?\"<>|\u00e9.zip");
  EXPECT_EQ(name.substr(0, name.size() - 17), L"a_b_c_d_______.zip");
  EXPECT_EQ(name[name.size() - 17], L'-');
  EXPECT_EQ(name.find_first_not_of(L"abcdefghijklmnopqrstuvwxyz0123456789._-"), std::wstring::npos);
  EXPECT_NE(CourseProfileName(L"a:b.zip"), CourseProfileName(L"a*b.zip"));
  EXPECT_EQ(CourseProfileName(std::wstring(300, L'x')).size(), 40u + 17u);
  EXPECT_EQ(CourseProfileName(L".."), L"..-" + CourseProfileName(L"..").substr(3));
}

TEST(CoursePrefix, TheCoursesOwnAndTheSameOnEveryRun) {
  EXPECT_EQ(CoursePrefix(L"safety course.zip"), CoursePrefix(L"safety course.zip"));
  EXPECT_NE(CoursePrefix(L"safety course.zip"), CoursePrefix(L"safety course2.zip"));
  const std::string prefix = CoursePrefix(L"course.zip");
  EXPECT_EQ(prefix.size(), 11u);
  EXPECT_EQ(prefix.find_first_not_of("0123456789abcdef"), 10u);
  EXPECT_EQ(prefix.back(), '/');
}

TEST(TakeCourseProfile, MadeLockedMarkedAndOldOnesRemovedUnlessHeld) {
  FakePlatform platform;
  platform.dataFolder = L"/data";
  const std::wstring profiles = std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator;
  const std::int64_t day = 24 * 60 * 60;
  platform.folders[profiles + L"recent"] = platform.unixNow - 89 * day;
  platform.folders[profiles + L"old"] = platform.unixNow - 91 * day;
  platform.folders[profiles + L"old-but-running"] = platform.unixNow - 91 * day;  // a run just took it
  platform.folders[profiles + L"future"] = platform.unixNow + 400 * day;  // stamped with the clock ahead
  platform.folders[profiles + L"unmarked"] = 0;  // another run is making it
  platform.folders[profiles + L".removing-41-gone"] = platform.unixNow;  // a removal cut short
  platform.lockedElsewhere = {profiles + L"old-but-running", profiles + L"starting"};
  // Lock files: of folders removed by hand (one of them a run holds while it makes its folder),
  // and of the folders above.
  platform.lockFiles = {profiles + L"removed-by-hand", profiles + L"starting", profiles + L"recent",
                        profiles + L"old", profiles + L"old-but-running"};
  const std::wstring mine = profiles + CourseProfileName(L"course.zip");
  platform.folders[mine] = platform.unixNow - 400 * day;  // this course, opened again at last

  {
    const CourseProfile profile = TakeCourseProfile(platform, L"course.zip");
    EXPECT_EQ(profile.dir, mine);
    EXPECT_NE(profile.lock, nullptr);
    EXPECT_EQ(platform.locked, std::set<std::wstring>{mine}) << "held while the run runs, the others let go";
    EXPECT_EQ(platform.folders[mine], platform.unixNow);
    EXPECT_EQ(platform.removed, (std::vector<std::wstring>{profiles + L".removing-41-gone", profiles + L"old"}));
    EXPECT_EQ(platform.lockFiles, (std::set<std::wstring>{mine, profiles + L"starting", profiles + L"recent", profiles + L"future",
                                                          profiles + L"old-but-running"}));
    EXPECT_EQ(platform.folders[profiles + L"future"], platform.unixNow) << "counts as now";
    for (const wchar_t* kept : {L"recent", L"unmarked", L"old-but-running"}) {
      EXPECT_EQ(platform.folders.count(profiles + kept), 1u) << WideToAnsi(kept);
    }
  }
  EXPECT_TRUE(platform.locked.empty());
}

// Another run holds the course's profile: nothing is marked or removed by this one.
TEST(TakeCourseProfile, HeldByAnotherRun) {
  FakePlatform platform;
  platform.dataFolder = L"/data";
  const std::wstring profiles = std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator;
  platform.folders[profiles + L"old"] = platform.unixNow - 400 * 24 * 60 * 60;
  platform.lockedElsewhere = {profiles + CourseProfileName(L"course.zip")};
  const CourseProfile profile = TakeCourseProfile(platform, L"course.zip");
  EXPECT_TRUE(profile.heldElsewhere);
  EXPECT_EQ(profile.lock, nullptr);
  EXPECT_EQ(profile.dir, profiles + CourseProfileName(L"course.zip"));
  EXPECT_TRUE(platform.removed.empty());
  EXPECT_EQ(platform.folders.count(profile.dir), 0u);
}

// The system's own lock and removal on real folders: a lock is held until let go, also against
// this process; removal takes a tree deeper than MAX_PATH, moving it aside first.
TEST(SystemPlatform, FolderLocksAndRemoval) {
  const std::unique_ptr<Platform> platform = NewSystemPlatform();
  const std::wstring root = AnsiToWide(testing::TempDir()) + L"orvane-locks-" +
                            std::to_wstring(::testing::UnitTest::GetInstance()->random_seed());
  const std::wstring dir = root + kPathSeparator + L"course";
  ASSERT_TRUE(platform->MakeFolders(root));
  bool held = true;
  std::unique_ptr<FolderLock> first = platform->TryLockFolder(dir, held);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(held);
  EXPECT_EQ(platform->TryLockFolder(dir, held), nullptr);
  EXPECT_TRUE(held);
  first.reset();
  std::unique_ptr<FolderLock> second = platform->TryLockFolder(dir, held);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(platform->ListFolderLocks(root), std::vector<std::wstring>{L"course"});
  platform->RemoveFolderLock(dir, std::move(second));
  EXPECT_TRUE(platform->ListFolderLocks(root).empty());
  EXPECT_FALSE(platform->IsExistingFile(dir + L".lock"));
  EXPECT_NE(platform->TryLockFolder(dir, held), nullptr);
  std::wstring deep = dir;
  for (int i = 0; i < 12; ++i) deep += kPathSeparator + std::wstring(30, L'd');
  ASSERT_TRUE(platform->MakeFolders(deep));
  ASSERT_TRUE(platform->WriteSmallFile(deep + kPathSeparator + L"port", "20000\n"));
  std::string port;
  EXPECT_TRUE(platform->ReadSmallFile(deep + kPathSeparator + L"port", 16, port) && port == "20000\n");
  platform->RemoveTree(dir);
  std::vector<std::wstring> left;
  for (const FolderUse& folder : platform->ListFolders(root)) left.push_back(folder.name);
  EXPECT_TRUE(left.empty()) << WideToAnsi(left.empty() ? L"" : left[0]);
  EXPECT_FALSE(platform->IsExistingFile(deep + kPathSeparator + L"port"));
  platform->RemoveTree(root);
}

TEST(TakeCourseProfile, NoDataFolderNoProfile) {
  FakePlatform platform;
  const CourseProfile profile = TakeCourseProfile(platform, L"course.zip");
  EXPECT_EQ(profile.dir, L"");
  EXPECT_FALSE(profile.heldElsewhere);
  EXPECT_TRUE(platform.folders.empty());
}

}  // namespace
