// FolderOf.
#include "tools/orvane-zip/files.h"

namespace orvanezip {

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"/\\");
  return last == std::wstring::npos ? std::wstring() : path.substr(0, last + 1);
}

}  // namespace orvanezip
