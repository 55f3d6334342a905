// The files of a course folder, as orvane-zip pack puts them in an archive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/orvane-zip/platform.h"

namespace orvanezip {

struct FolderFile {
  std::string name;  // path relative to the folder, "/" separators: UTF-8, or the name's own bytes
  bool utf8Name = true;  // false: a POSIX name that is not UTF-8, stored as its bytes
  std::filesystem::path path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since 1970, UTC
  bool fromMemory = false;     // the bytes are `content`, not the file's (the --start text)
  std::string content;
};

// Left out whatever the author says, named in --help.
extern const char* const kDefaultExcludes[];

struct WalkOptions {
  bool followOutside = true;          // links to outside the folder are followed (--no-outside-links)
  std::vector<std::string> excludes;  // --exclude PATTERN, each
  std::string outputName;             // OUTPUT's file name: its temporary files are left out
  bool hasOutput = false;             // OUTPUT exists, as `output`: it is left out
  FileId output;
};

// What the walk did besides finding files, for the summary: "NAME -> TARGET" or "NAME (why)".
struct WalkReport {
  std::vector<std::string> followed;  // links to outside the folder
  std::vector<std::string> leftOut;   // excluded by a pattern, OUTPUT, or a folder seen already
  std::vector<std::string> skipped;   // what cannot be packed: broken links, devices, pipes
  std::vector<std::string> notUtf8;   // names stored as their bytes
};

// True when `path` (relative to the folder, "/" separators) matches `pattern`: "*" any run of
// characters but "/", "**" any run, "?" one character but "/". A pattern without "/" is matched
// against the last name of the path, so "*.psd" leaves out such files in every folder.
bool MatchesPattern(const std::string& pattern, const std::string& path);

// Every regular file under `root`, sorted by name (byte order). Links are followed, each folder
// is walked once however many paths lead to it (so loops and fans of links end), and what
// `options` excludes is left out; all of it is named in `*report`. False with a reason in
// `*error` when a folder cannot be read.
bool ListFolder(const std::filesystem::path& root, const WalkOptions& options, std::vector<FolderFile>* files,
                WalkReport* report, std::wstring* error);

}  // namespace orvanezip
