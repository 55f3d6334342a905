// The course's identity, its port and its profile folder with the removal of old profiles.
#include <gtest/gtest.h>

#include <set>

#include "launcher/run/course_profile.h"
#include "tests/launcher/fake_platform.h"

namespace {

TEST(CourseIdentity, TheFileNameWhereverTheFileIs) {
  EXPECT_EQ(CourseIdentity(L"/home/ann/Downloads/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseIdentity(L"/media/usb/old/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseIdentity(L"C:\\Courses\\SAFETY COURSE.ZIP"), L"safety course.zip");
  EXPECT_EQ(CourseIdentity(L"C:/x/Safety Course.zip"), L"safety course.zip");
  EXPECT_EQ(CourseIdentity(L"course.zip"), L"course.zip");
  // Only A-Z are lowered: other letters keep their case.
  EXPECT_EQ(CourseIdentity(L"/x/\u00c9T\u00c9.zip"), L"\u00c9t\u00c9.zip");
  EXPECT_NE(CourseIdentity(L"/x/course-a.zip"), CourseIdentity(L"/x/course-b.zip"));
}

TEST(CoursePort, StableInTheDynamicRangeAndSpread) {
  EXPECT_EQ(CoursePort(L"safety course.zip"), CoursePort(L"safety course.zip"));
  std::set<std::uint16_t> ports;
  for (int i = 0; i < 1000; ++i) {
    const std::uint16_t port = CoursePort(L"course-" + std::to_wstring(i) + L".zip");
    EXPECT_GE(port, 49152);
    EXPECT_LE(port, 65535);
    ports.insert(port);
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

TEST(PrepareCourseProfile, MadeMarkedAndOldOnesRemoved) {
  FakePlatform platform;
  platform.dataFolder = L"/data";
  const std::wstring profiles = std::wstring(L"/data") + kPathSeparator + L"profiles" + kPathSeparator;
  const std::int64_t day = 24 * 60 * 60;
  platform.folders[profiles + L"recent"] = platform.unixNow - 89 * day;
  platform.folders[profiles + L"old"] = platform.unixNow - 91 * day;
  platform.folders[profiles + L"unmarked"] = 0;  // another run is making it
  const std::wstring mine = profiles + CourseProfileName(L"course.zip");
  platform.folders[mine] = platform.unixNow - 400 * day;  // this course, opened again at last

  EXPECT_EQ(PrepareCourseProfile(platform, L"course.zip"), mine);
  EXPECT_EQ(platform.folders[mine], platform.unixNow);
  EXPECT_EQ(platform.removed, std::vector<std::wstring>{profiles + L"old"});
  EXPECT_EQ(platform.folders.count(profiles + L"recent"), 1u);
  EXPECT_EQ(platform.folders.count(profiles + L"unmarked"), 1u);
}

TEST(PrepareCourseProfile, NoDataFolderNoProfile) {
  FakePlatform platform;
  EXPECT_EQ(PrepareCourseProfile(platform, L"course.zip"), L"");
  EXPECT_TRUE(platform.folders.empty());
}

}  // namespace
