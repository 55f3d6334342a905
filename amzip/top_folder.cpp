#include "amzip/top_folder.h"

#include <algorithm>

#include "text/text.h"

namespace amzip {

std::string SlashName(const ZipEntry& entry) {
  std::string name = WideToUtf8(entry.name);
  std::replace(name.begin(), name.end(), '\\', '/');
  return name;
}

std::string TopFolder(const ZipArchive& archive) {
  std::string root;
  for (const ZipEntry* entry : archive.Entries()) {
    const std::string name = SlashName(*entry);
    if (name == ".start" || name.rfind("__MACOSX/", 0) == 0) continue;
    const std::size_t slash = name.find('/');
    if (slash == std::string::npos || slash == 0) return std::string();  // a file at the top
    const std::string top = name.substr(0, slash + 1);
    if (!root.empty() && top != root) return std::string();
    root = top;
  }
  return root;
}

}  // namespace amzip
