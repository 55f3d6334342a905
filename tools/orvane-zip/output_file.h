// The file orvane-zip pack writes: a binary stream written front to back, with the position
// counted, and a few bytes patched at an earlier position once their values are known (sizes,
// checksums). Every failure is remembered; Ok() tells at the end whether all writes landed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orvanezip {

// Appends little-endian integers to a byte vector, for records built in memory.
inline void PutU16(std::vector<unsigned char>& out, std::uint32_t value) {
  out.push_back(static_cast<unsigned char>(value));
  out.push_back(static_cast<unsigned char>(value >> 8));
}
inline void PutU32(std::vector<unsigned char>& out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}
inline void PutU64(std::vector<unsigned char>& out, std::uint64_t value) {
  PutU32(out, static_cast<std::uint32_t>(value));
  PutU32(out, static_cast<std::uint32_t>(value >> 32));
}
// Overwrites 4 bytes at `at` with a little-endian value.
inline void SetU32(unsigned char* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

class OutputFile {
 public:
  // Creates a new file at `path` (never through a link, never over an existing file); IsOpen()
  // tells whether that worked.
  explicit OutputFile(const std::wstring& path);
  // Writes to a stream the caller opened (a temporary file); closed by Finish or the destructor.
  explicit OutputFile(std::FILE* stream) : file(stream) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return file != nullptr; }
  void Write(const void* bytes, std::size_t count);
  void Write(const std::vector<unsigned char>& bytes) { Write(bytes.data(), bytes.size()); }
  // Zero bytes up to the next multiple of `alignment` of the position.
  void PadTo(std::uint64_t alignment);
  // Rewrites `count` bytes at an earlier position `at` and comes back to the end.
  void Patch(std::uint64_t at, const void* bytes, std::size_t count);
  std::uint64_t Position() const { return position; }
  // Pushes what was written to the file, so it can be read back by its path.
  bool Flush();
  // Marks the file executable (POSIX mode 0755).
  bool MakeExecutable();
  // Lets every account read the file (POSIX mode 0644).
  bool MakeReadable();
  // Flushes and closes; true when every write, patch and the close succeeded.
  bool Finish();

 private:
  std::FILE* file = nullptr;
  std::uint64_t position = 0;
  bool ok = true;
};

}  // namespace orvanezip
