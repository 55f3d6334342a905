// MemorySource, FileSource, and the archive reader's view of part of a file.
#include "tools/orvane-zip/byte_source.h"

#include <algorithm>
#include <cstring>

namespace orvanezip {

bool MemorySource::Read(std::uint64_t offset, void* out, std::size_t count) const {
  if (offset > size || count > size - offset) return false;
  if (count != 0) std::memcpy(out, data + offset, count);
  return true;
}

bool FileSource::Read(std::uint64_t offset, void* out, std::size_t count) const {
  if (offset > Size() || count > Size() - offset) return false;
  auto* bytes = static_cast<unsigned char*>(out);
  while (count != 0) {
    const std::uint32_t piece = static_cast<std::uint32_t>(std::min<std::size_t>(count, 1u << 30));
    std::uint32_t got = 0;
    if (!file->ReadAt(offset, bytes, piece, &got) || got != piece) return false;
    offset += piece;
    bytes += piece;
    count -= piece;
  }
  return true;
}

namespace {

// `length` bytes at `offset` of an open file, positioned as the archive reader expects.
class FilePart : public amzip::ReadI {
 public:
  FilePart(std::shared_ptr<amzip::FileReader> reader, std::uint64_t offset, std::uint64_t length)
      : file(std::move(reader)), start(offset), size(length) {}
  bool IsOpen() override { return !closed && file->IsOpen(); }
  bool Read(unsigned char* buffer, std::uint32_t count, std::uint32_t* got) override {
    if (!ReadAt(position, buffer, count, got)) return false;
    position += *got;
    return true;
  }
  bool Seek(std::int64_t offset, int origin) override {
    const std::int64_t base = origin == 0 ? 0 : origin == 1 ? static_cast<std::int64_t>(position) : static_cast<std::int64_t>(size);
    if (base + offset < 0) return false;
    position = static_cast<std::uint64_t>(base + offset);
    return true;
  }
  std::uint64_t Tell() override { return position; }
  void Close() override { closed = true; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::uint32_t count, std::uint32_t* got) const override {
    *got = 0;
    if (closed) return false;
    if (offset >= size) return true;
    const std::uint32_t wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, size - offset));
    return file->ReadAt(start + offset, buffer, wanted, got);
  }
  std::uint64_t Size() const override { return size; }

 private:
  std::shared_ptr<amzip::FileReader> file;
  std::uint64_t start;
  std::uint64_t size;
  std::uint64_t position = 0;
  bool closed = false;
};

}  // namespace

std::unique_ptr<amzip::ReadI> FileSource::Part(std::uint64_t offset, std::uint64_t length) const {
  return std::make_unique<FilePart>(file, offset, length);
}

}  // namespace orvanezip
