// Fuzzes the archive reader: the input is opened as an archive from memory, and every entry
// it lists is looked up and extracted with the two-call protocol (the size, then a buffer of
// exactly that size), read through EntryReaders from its start and from its middle in small
// pieces, and asked for its stored span. Errors are AZError and nothing else; no input may
// crash, hang, read outside the input or write outside the buffer (the sanitizers watch); a
// reader never delivers more than the entry's size, and a span lies within the input.
#include <cstddef>
#include <cstdlib>
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

void ReadFrom(amzip::ZipArchive& archive, const std::wstring& name, std::uint64_t offset, std::uint64_t entrySize) {
  try {
    const auto reader = archive.OpenEntry(name, offset);
    if (reader == nullptr) return;
    unsigned char piece[4096];
    std::uint64_t delivered = 0;
    while (const std::size_t got = reader->Read(piece, sizeof piece)) {
      delivered += got;
      if (got > sizeof piece || delivered > entrySize - offset) std::abort();
    }
    if (delivered != entrySize - offset) std::abort();  // 0 only at the end of the entry
  } catch (const amzip::AZError& error) {
    error.Message();
  }
}

void ReadAll(amzip::ZipArchive& archive, const std::wstring& name, const std::uint8_t* data, std::size_t inputSize) {
  amzip::EntryInfo info;
  if (!archive.Find(name, &info)) return;
  ReadFrom(archive, name, 0, info.size);
  ReadFrom(archive, name, info.size / 2, info.size);
  archive.IsVerified(name);
  amzip::StoredSpan span;
  if (archive.GetStoredSpan(name, &span) &&
      (span.memory < data || span.offset > inputSize || info.size > inputSize - span.offset ||
       span.memory != data + span.offset)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // One archive object for the whole run, reopened per input: reopening must leave nothing behind.
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
  for (const std::wstring& name : names) {
    ExtractAll(archive, name, size);
    ReadAll(archive, name, data, size);
  }
  archive.Close();
  return 0;
}
