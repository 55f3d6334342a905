// FileReader's stream calls on POSIX: fopen with the path in UTF-8, 64-bit fseeko/ftello. A
// directory does not open (errno EISDIR), as on Windows, where _wfopen refuses it.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "amzip/reader.h"
#include "text/text.h"

namespace amzip {

FileReader::FileReader(const std::wstring& filePath) : file(std::fopen(WideToPath(filePath).c_str(), "rb")) {
  struct stat info;
  if (file != nullptr && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    file = nullptr;
    errno = EISDIR;
  }
}

bool FileReader::Seek(std::int32_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::uint64_t FileReader::Tell() { return static_cast<std::uint64_t>(ftello(file)); }

}  // namespace amzip
