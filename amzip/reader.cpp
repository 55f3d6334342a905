// MemReader, and the parts of FileReader that are the same on every platform.
#include "amzip/reader.h"

#include <cstring>

namespace amzip {

bool MemReader::IsOpen() { return data != nullptr; }

bool MemReader::Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
  *got = 0;
  if (count == 0) return true;
  if (data == nullptr || position >= size) return false;
  std::uint64_t n = count;
  if (n > size - position) n = size - position;
  std::memcpy(buffer, data + position, static_cast<std::size_t>(n));
  position += n;
  *got = static_cast<std::uint32_t>(n);
  return true;
}

bool MemReader::Seek(std::int32_t offset, int origin) {
  if (data == nullptr) return false;
  // Sign-extended and wrapped as unsigned: a position before the start becomes a huge value
  // that the next Read refuses.
  const std::uint64_t delta = static_cast<std::uint64_t>(static_cast<std::int64_t>(offset));
  switch (origin) {
    case SEEK_SET: position = delta; return true;
    case SEEK_CUR: position += delta; return true;
    case SEEK_END: position = size + delta; return true;
    default: return false;
  }
}

std::uint64_t MemReader::Tell() { return position; }

void MemReader::Close() {
  data = nullptr;
  size = 0;
  position = 0;
}

bool FileReader::IsOpen() { return file != nullptr; }

bool FileReader::Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
  const std::size_t n = std::fread(buffer, 1, count, file);
  *got = static_cast<std::uint32_t>(n);
  return n != 0 || std::ferror(file) == 0;
}

void FileReader::Close() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
}

}  // namespace amzip
