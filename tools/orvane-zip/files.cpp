// Whole-file reads and writes on top of the platform's stream opening.
#include "tools/orvane-zip/files.h"

#include <cstdio>

#include "tools/orvane-zip/platform.h"

namespace orvanezip {

bool ReadWholeFile(const std::wstring& path, std::vector<unsigned char>* content) {
  std::FILE* file = OpenStream(path, "rb");
  if (file == nullptr) return false;
  content->clear();
  unsigned char block[65536];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) != 0) content->insert(content->end(), block, block + n);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool PatchWholeFile(const std::wstring& path, std::uint64_t offset, const void* bytes, std::size_t count) {
  std::FILE* file = OpenStream(path, "r+b");
  if (file == nullptr) return false;
  bool ok = SeekStream(file, offset) && std::fwrite(bytes, 1, count, file) == count;
  if (std::fclose(file) != 0) ok = false;
  return ok;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"/\\");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

}  // namespace orvanezip
