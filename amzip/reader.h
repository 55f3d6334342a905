// Byte sources of the archive reader: ReadI and its two implementations. Sources never throw;
// they report success as a boolean.
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
  // Reads up to `count` bytes at the source's own position into `buffer` and advances it;
  // `*got` is the number delivered.
  virtual bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) = 0;
  // Moves the position; origin 0 = from the start, 1 = from the current position, 2 = from
  // the end (SEEK_SET, SEEK_CUR, SEEK_END). False when the move was refused.
  virtual bool Seek(std::int64_t offset, int origin) = 0;
  virtual std::uint64_t Tell() = 0;
  virtual void Close() = 0;

  // Reads up to `count` bytes at absolute `offset`, without using or moving the position, so
  // any number of threads may call it at once while the source stays open. True with
  // *got < count only where the source ends (0 at or past its end); false when the system
  // refused the read or the source is closed.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const = 0;
  // The source's length in bytes (for a file: when it was opened).
  virtual std::uint64_t Size() const = 0;
  // Where the bytes lie for a caller that sends them itself: a memory block's first byte, or
  // a file's native handle (POSIX descriptor / Windows HANDLE); null and -1 otherwise.
  virtual const unsigned char* Memory() const { return nullptr; }
  virtual std::intptr_t NativeHandle() const { return -1; }
  // Where the source's first byte lies in NativeHandle()'s file.
  virtual std::uint64_t NativeOffset() const { return 0; }
  // The file's size and modification time as the system reports them now, so a caller can
  // notice the file being changed in place; false for a source that cannot change (memory).
  virtual bool Stamp(std::uint64_t* /*size*/, std::uint64_t* /*modified*/) const { return false; }
};

// A block of memory that the reader does not own. Reading at or past the end fails; seeking
// has no bound test (a later Read fails instead). A block mapped from a file may name that file
// (a descriptor it does not own, open as long as the block) and the block's offset in it, so
// callers can send its bytes from the file instead of copying them out of memory.
class MemReader : public ReadI {
 public:
  MemReader(const void* block, std::uint64_t length, std::intptr_t backingFile = -1, std::uint64_t backingOffset = 0)
      : data(static_cast<const unsigned char*>(block)), size(length), file(backingFile), fileOffset(backingOffset) {}
  bool IsOpen() override;
  bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) override;
  bool Seek(std::int64_t offset, int origin) override;
  std::uint64_t Tell() override;
  void Close() override;
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const override;
  std::uint64_t Size() const override;
  const unsigned char* Memory() const override;
  std::intptr_t NativeHandle() const override { return data != nullptr ? file : -1; }
  std::uint64_t NativeOffset() const override { return fileOffset; }

 private:
  const unsigned char* data;
  std::uint64_t size;
  std::intptr_t file;
  std::uint64_t fileOffset;
  std::uint64_t position = 0;
};

// A file opened read-only without sharing restrictions, read by 64-bit positional reads
// (pread; ReadFile with an OVERLAPPED offset). Read and Seek keep a position of the object's
// own on top of them. At the end of the file Read succeeds with 0 bytes.
class FileReader : public ReadI {
 public:
  // Opens `filePath` (file_reader_win32.cpp / file_reader_posix.cpp); IsOpen() tells whether
  // that worked, and the system's last error says why not. A folder does not open.
  explicit FileReader(const std::wstring& filePath);
  ~FileReader() override;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  bool IsOpen() override;
  bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) override;
  bool Seek(std::int64_t offset, int origin) override;
  std::uint64_t Tell() override;
  void Close() override;
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const override;
  std::uint64_t Size() const override;
  std::intptr_t NativeHandle() const override;
  bool Stamp(std::uint64_t* size, std::uint64_t* modified) const override;

 private:
  std::intptr_t file = -1;  // descriptor or HANDLE; -1 (also INVALID_HANDLE_VALUE) when closed
  std::uint64_t size = 0;
  std::uint64_t position = 0;
};

}  // namespace amzip
