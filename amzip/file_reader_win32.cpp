// FileReader's stream calls on Windows: _wfopen with the wide path, 64-bit _fseeki64/_ftelli64.
#include <cstdio>

#include "amzip/reader.h"

namespace amzip {

FileReader::FileReader(const std::wstring& filePath) : file(_wfopen(filePath.c_str(), L"rb")) {}

bool FileReader::Seek(std::int32_t offset, int origin) {
  return _fseeki64(file, static_cast<__int64>(offset), origin) == 0;
}

std::uint64_t FileReader::Tell() { return static_cast<std::uint64_t>(_ftelli64(file)); }

}  // namespace amzip
