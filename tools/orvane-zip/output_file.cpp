// OutputFile: a counted binary stream with patches.
#include "tools/orvane-zip/output_file.h"

#include "tools/orvane-zip/platform.h"

namespace orvanezip {

OutputFile::OutputFile(const std::wstring& path) : file(CreateNewStream(path)) {}

OutputFile::~OutputFile() {
  if (file != nullptr) std::fclose(file);
}

void OutputFile::Write(const void* bytes, std::size_t count) {
  if (count == 0 || file == nullptr) return;
  if (std::fwrite(bytes, 1, count, file) != count) ok = false;
  position += count;
}

void OutputFile::PadTo(std::uint64_t alignment) {
  static const unsigned char zeros[512] = {};
  while (position % alignment != 0) {
    const std::uint64_t gap = alignment - position % alignment;
    Write(zeros, static_cast<std::size_t>(gap < sizeof zeros ? gap : sizeof zeros));
  }
}

void OutputFile::Patch(std::uint64_t at, const void* bytes, std::size_t count) {
  if (file == nullptr) return;
  if (!SeekStream(file, at) || std::fwrite(bytes, 1, count, file) != count || !SeekStream(file, position)) ok = false;
}

bool OutputFile::Flush() {
  if (file == nullptr || std::fflush(file) != 0) ok = false;
  return ok;
}

bool OutputFile::MakeExecutable() {
  if (file == nullptr || !orvanezip::MakeExecutable(file)) ok = false;
  return ok;
}

bool OutputFile::MakeReadable() {
  if (file == nullptr || !orvanezip::MakeReadable(file)) ok = false;
  return ok;
}

bool OutputFile::Finish() {
  if (file == nullptr) return false;
  if (std::fclose(file) != 0) ok = false;
  file = nullptr;
  return ok;
}

}  // namespace orvanezip
