// MemReader, and the parts of FileReader that are the same on every platform.
#include "amzip/reader.h"

#include <cstring>

namespace amzip {

namespace {

// Position arithmetic shared by both sources: the offset is taken as two's complement, so a
// position before the start wraps to a huge value that the next read refuses.
bool MovePosition(std::uint64_t* position, std::uint64_t size, std::int64_t offset, int origin) {
  const std::uint64_t delta = static_cast<std::uint64_t>(offset);
  switch (origin) {
    case SEEK_SET: *position = delta; return true;
    case SEEK_CUR: *position += delta; return true;
    case SEEK_END: *position = size + delta; return true;
    default: return false;
  }
}

}  // namespace

bool MemReader::IsOpen() { return data != nullptr; }

bool MemReader::Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
  *got = 0;
  if (count == 0) return true;
  if (data == nullptr || position >= size) return false;
  ReadAt(position, buffer, count, got);
  position += *got;
  return true;
}

bool MemReader::Seek(std::int64_t offset, int origin) {
  return data != nullptr && MovePosition(&position, size, offset, origin);
}

std::uint64_t MemReader::Tell() { return position; }

void MemReader::Close() {
  data = nullptr;
  size = 0;
  position = 0;
}

bool MemReader::ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const {
  *got = 0;
  if (count == 0) return true;
  if (data == nullptr) return false;
  if (offset >= size) return true;
  std::uint64_t n = count;
  if (n > size - offset) n = size - offset;
  std::memcpy(buffer, data + offset, static_cast<std::size_t>(n));
  *got = static_cast<std::uint32_t>(n);
  return true;
}

std::uint64_t MemReader::Size() const { return size; }

const unsigned char* MemReader::Memory() const { return data; }

FileReader::~FileReader() { Close(); }

bool FileReader::IsOpen() { return file != -1; }

bool FileReader::Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) {
  if (!ReadAt(position, buffer, count, got)) return false;
  position += *got;
  return true;
}

bool FileReader::Seek(std::int64_t offset, int origin) {
  return file != -1 && MovePosition(&position, size, offset, origin);
}

std::uint64_t FileReader::Tell() { return position; }

std::uint64_t FileReader::Size() const { return size; }

std::intptr_t FileReader::NativeHandle() const { return file; }

}  // namespace amzip
