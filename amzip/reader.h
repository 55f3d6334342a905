// Byte sources of the archive reader: ReadI and its two implementations. Sources never throw;
// they report success as a boolean. Destroying a source does not close it: call Close first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace amzip {

class ReadI {
 public:
  virtual ~ReadI() = default;
  // True when the source has something to read.
  virtual bool IsOpen() = 0;
  // Reads up to `count` bytes into `buffer`; `*got` is the number delivered.
  virtual bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) = 0;
  // Moves the position; origin 0 = from the start, 1 = from the current position, 2 = from
  // the end (SEEK_SET, SEEK_CUR, SEEK_END). False when the move was refused.
  virtual bool Seek(std::int32_t offset, int origin) = 0;
  virtual std::uint64_t Tell() = 0;
  virtual void Close() = 0;
};

// A block of memory that the reader does not own. Reading at or past the end fails; seeking
// has no bound test (a later Read fails instead).
class MemReader : public ReadI {
 public:
  MemReader(const void* block, std::uint64_t length) : data(static_cast<const unsigned char*>(block)), size(length) {}
  bool IsOpen() override;
  bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) override;
  bool Seek(std::int32_t offset, int origin) override;
  std::uint64_t Tell() override;
  void Close() override;

 private:
  const unsigned char* data;
  std::uint64_t size;
  std::uint64_t position = 0;
};

// A file read through the runtime library's streams, opened read-only in binary mode without
// sharing restrictions. At the end of the file Read succeeds with 0 bytes.
class FileReader : public ReadI {
 public:
  // Opens `filePath` (file_reader_win32.cpp / file_reader_posix.cpp); IsOpen() tells whether
  // that worked, and the system's last error says why not.
  explicit FileReader(const std::wstring& filePath);
  bool IsOpen() override;
  bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) override;
  bool Seek(std::int32_t offset, int origin) override;
  std::uint64_t Tell() override;
  void Close() override;

 private:
  std::FILE* file = nullptr;
};

}  // namespace amzip
