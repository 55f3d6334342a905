// Fuzzes the archive reader: the input is opened as an archive from memory, and every entry
// it lists is looked up and extracted as the server does it (the size, then a buffer of
// exactly that size). Errors are AZError and nothing else; no input may crash, hang, read
// outside the input or write outside the buffer (the sanitizers watch).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "amzip/archive.h"
#include "amzip/entry.h"
#include "text/text.h"

namespace {

// No buffer larger than deflate could make from the whole input (about 1032:1) is allocated:
// such a size cannot be filled, and allocating it would only measure the machine.
constexpr std::uint64_t kMaxRatio = 1100;

void ExtractAll(amzip::ZipArchive& archive, const std::wstring& name, std::size_t inputSize) {
  try {
    std::uint32_t size = 0;
    FileTime time = 0;
    std::uint32_t infoSize = 0;
    archive.GetEntryInfo(name, &infoSize, &time);
    if (!archive.Extract(name, nullptr, &size)) return;
    if (size > kMaxRatio * inputSize + 65536) return;
    std::vector<unsigned char> buffer(size);
    archive.Extract(name, size == 0 ? nullptr : buffer.data(), &size);
  } catch (const amzip::AZError& error) {
    error.Message();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The archive object is large (its scratch blocks): one for the whole run, reopened per input.
  static amzip::ZipArchive archive;
  try {
    archive.OpenMemory(data, size, L"fuzz.zip");
  } catch (const amzip::AZError& error) {
    error.Message();
  }
  // The names are taken first: an extraction from an archive whose directory did not load
  // walks it again, which renews the entry list.
  std::vector<std::wstring> names;
  for (const amzip::ZipEntry* entry : archive.Entries()) {
    names.push_back(entry->name);
    names.push_back(Utf8ToWide(entry->rawName));
  }
  if (names.empty()) names.push_back(L"index.html");
  for (const std::wstring& name : names) ExtractAll(archive, name, size);
  archive.Close();
  return 0;
}
