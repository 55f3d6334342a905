// What a run knows of its course before serving it: the folder that is its root, whether it is
// a SCORM package (its manifest read), where it starts, and for a package the learner and the
// record's file.
#pragma once

#include <cstddef>
#include <string>

#include "amzip/archive.h"
#include "scorm/attempts.h"
#include "scorm/manifest.h"

class Platform;

struct CourseLayout {
  std::string root;        // CourseRoot: "" or "FOLDER/"
  bool package = false;    // an imsmanifest.xml at the root
  ManifestFacts manifest;  // read when `package`, its hrefs checked against the archive
  // The start page relative to the prefix: the player for a package, else StartPageOf ("" for
  // the list of pages).
  std::string startPage;
  // The entry a second run asks the first for and compares with its own (the start page, or
  // the manifest); "" when there is none.
  std::string probePage;
};

// The layout of the open archive; never throws (an unreadable manifest is a problem in it).
CourseLayout ReadCourseLayout(amzip::ZipArchive& archive);

// Up to `limit` bytes of the entry `name` (UTF-8, "/" separated); "" when it is missing or
// cannot be read.
std::string ReadEntryBytes(amzip::ZipArchive& archive, const std::string& name, std::size_t limit);

// The learner: the account name as id; `learnerName` (the LearnerName setting) when set, else
// the account's full name (for 1.2 as "Last, First"), else the account name, as name.
Learner CurrentLearner(Platform& platform, const std::wstring& learnerName, const std::string& version);

// "First Middle Last" as "Last, First Middle"; a name of one word, or one with a comma, as it is.
std::string LastNameFirst(const std::string& name);

// The record's file of the course: DATA/records/PROFILENAME.json, its folder made; "" when
// there is no data folder.
std::wstring RecordPath(Platform& platform, const std::wstring& identity);

// A new session token: 128 random bits in hex.
std::string NewSessionToken();
