// What a course is known by: the string its port, prefix and profile are derived from
// (course_profile.h), so a learner's progress follows the course and no other course reaches it.
#pragma once

#include <string>

namespace amzip {
class ZipArchive;
}

// The file name of the archive (the path's last component), or for an embedded course the
// launcher program's own file name; ASCII letters lower-cased, since the same file may be
// named in another case on Windows.
std::wstring CourseFileName(const std::wstring& archiveOrProgramPath);

// The course's identity, the first of these that there is:
// - "package " + `packageIdentifier` (a SCORM manifest's identifier, UTF-8): every version of
//   the package shares it, under any file name;
// - "id " + the course ID that orvane-zip stored in the archive (amzip/course_id.h): the same
//   for every version packed with it;
// - CourseFileName + " #" + a digest of the archive's top-level names (the first component of
//   each entry's name, sorted): two archives of the same name but other contents differ, and a
//   new version with the same layout keeps its progress.
std::wstring CourseIdentityOf(const amzip::ZipArchive& archive, const std::wstring& archiveOrProgramPath,
                              const std::string& packageIdentifier = std::string());
