// The files of a course folder, as orvane-zip pack puts them in an archive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvanezip {

struct FolderFile {
  std::string name;  // path relative to the folder, UTF-8, "/" separators
  std::filesystem::path path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // seconds since 1970, UTC
  bool fromMemory = false;     // the bytes are `content`, not the file's (the --start text)
  std::string content;
};

// Every regular file under `root`, sorted by name (byte order). A symbolic link is followed
// when its target lies inside the folder (a link to a folder that contains it is not, as it
// would never end); every other link, and anything that is neither file nor folder (sockets,
// devices, pipes), is left out and named in `*skipped`. False with a reason in `*error` when a
// folder cannot be read.
bool ListFolder(const std::filesystem::path& root, std::vector<FolderFile>* files, std::vector<std::string>* skipped,
                std::wstring* error);

}  // namespace orvanezip
