// The archive of a course folder: each file stored or deflated by what serves the launcher best,
// deflated on every core, written in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/orvane-zip/folder_walk.h"
#include "tools/orvane-zip/output_file.h"

namespace orvanezip {

struct FolderArchiveOptions {
  // SOURCE_DATE_EPOCH: every entry is stamped with this time (UTC), so the bytes depend on the
  // files' contents and names only. Otherwise each file's own time, in local time.
  bool fixedTime = false;
  std::int64_t fixedSeconds = 0;
  // Show a progress line on standard error when the pack takes more than a second.
  bool progress = false;
  // The archive's comment (the course ID's line).
  std::string comment;
};

// What was packed, for the summary.
struct FolderArchiveStats {
  std::size_t stored = 0;
  std::size_t deflated = 0;
  std::uint64_t bytesIn = 0;
};

// True when an entry of this name is kept stored: formats compressed already (images, fonts,
// archives), whose bytes deflate barely shrinks, and all audio and video, whatever deflate would
// save, so the server answers a seek from its offset instead of inflating from the start.
bool IsCompressedFormat(const std::string& name);

// Writes the archive of `files` to `out` at its position. An entry with `content` set takes
// those bytes instead of the file's. False with a reason in `*error`; the archive's length in
// `*length` on success.
// Memory stays flat whatever the files' sizes: the workers hold at most a bounded amount ahead
// of the writer, and a large file is never held whole.
bool WriteFolderArchive(const std::vector<FolderFile>& files, const FolderArchiveOptions& options, OutputFile* out,
                        std::uint64_t* length, FolderArchiveStats* stats, std::wstring* error);

}  // namespace orvanezip
