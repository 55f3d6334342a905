// Random-access bytes of a launcher, read where they are needed and never loaded whole: a
// launcher that carries a course may be gigabytes. FileSource reads a file positionally;
// MemorySource serves bytes held in memory (the fuzz harness, records built by the tool).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "amzip/reader.h"

namespace orvanezip {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Exactly `count` bytes at `offset`; false when they are not all there or cannot be read.
  virtual bool Read(std::uint64_t offset, void* out, std::size_t count) const = 0;
  // `count` bytes at `offset` into `*out` (resized); false as Read.
  bool ReadVector(std::uint64_t offset, std::size_t count, std::vector<unsigned char>* out) const {
    out->resize(count);
    return Read(offset, out->data(), count);
  }
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const unsigned char* bytes, std::size_t count) : data(bytes), size(count) {}
  std::uint64_t Size() const override { return size; }
  bool Read(std::uint64_t offset, void* out, std::size_t count) const override;

 private:
  const unsigned char* data;
  std::size_t size;
};

class FileSource : public ByteSource {
 public:
  // Opens the file at `path` for reading; IsOpen() tells whether that worked.
  explicit FileSource(const std::wstring& path) : file(std::make_shared<amzip::FileReader>(path)) {}
  bool IsOpen() const { return file->IsOpen(); }
  std::uint64_t Size() const override { return file->Size(); }
  bool Read(std::uint64_t offset, void* out, std::size_t count) const override;
  // A reader of the `length` bytes at `offset`, for the archive reader (the archive a packed
  // launcher carries); it keeps the file open for as long as it lives.
  std::unique_ptr<amzip::ReadI> Part(std::uint64_t offset, std::uint64_t length) const;

 private:
  std::shared_ptr<amzip::FileReader> file;
};

}  // namespace orvanezip
