// FileReader's stream calls on POSIX: fopen with the path in UTF-8, 64-bit fseeko/ftello.
#include <sys/types.h>

#include <cstdio>

#include "amzip/reader.h"
#include "text/text.h"

namespace amzip {

FileReader::FileReader(const std::wstring& filePath) : file(std::fopen(WideToAnsi(filePath).c_str(), "rb")) {}

bool FileReader::Seek(std::int32_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin) == 0;
}

std::uint64_t FileReader::Tell() { return static_cast<std::uint64_t>(ftello(file)); }

}  // namespace amzip
