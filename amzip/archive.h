// ZipArchive: the archive reader's public object. It opens a zip archive from a file, from the
// executable's embedded "RT_ZIP" resource or from a memory block, and finds and extracts
// entries by name (matched through NormalizePath). Not thread-safe: no two calls may overlap.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "amzip/error.h"
#include "text/filetime.h"

namespace amzip {

// Public declarations only; the implementation owns the details of these.
class ReadI;
struct ZipEntry;
struct ZipVolume;

// A resource name given as an integer identifier, as MAKEINTRESOURCEW makes it.
inline const wchar_t* ResourceId(unsigned id) {
  return reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(id));
}

class ZipArchive {
 public:
  ZipArchive();
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  // Opens the file at `path` and reads its directory. Throws AZError: AZ_ERROR_OPEN_FILE when
  // the file cannot be opened (IsOpen() is then false); a directory error otherwise (IsOpen()
  // stays true, the entries read before the error stay findable).
  void OpenFile(const std::wstring& path);

  // Opens the archive embedded in the running executable under resource type `type` (a string)
  // and `name` (a string or ResourceId(n)). A missing resource is no error: the archive stays
  // closed. Throws AZError for a directory error.
  void OpenResource(const wchar_t* type, const wchar_t* name);

  // Opens `size` bytes at `data` (not copied; they must outlive the archive) as an archive;
  // `label` takes the place of the path. Throws AZError like OpenFile's directory errors.
  void OpenMemory(const void* data, std::uint64_t size, const std::wstring& label);

  bool IsOpen() const;
  void Close();

  // The entry's uncompressed size (low 32 bits) and, when `time` is not null and the entry has
  // an MS-DOS stamp, its modification time in UTC; `*time` is untouched otherwise. False when
  // the entry is not found. Never throws; does not load the directory.
  bool GetEntryInfo(const std::wstring& name, std::uint32_t* size, FileTime* time);

  // Two calls: with *size == 0 stores the entry's uncompressed size in *size; then with a
  // buffer of *size bytes fills it. False when the entry is not there, is 4 GiB or larger, or
  // `buffer` is null with a non-zero count. Never writes more than *size bytes. Throws AZError.
  bool Extract(const std::wstring& name, void* buffer, std::uint32_t* size);

  // The entries in directory order, for tools that list an archive (amzip/entry.h). Valid
  // until the next open or Close, and until an Extract on an archive whose directory did not
  // load, which walks the directory again and renews the list.
  const std::vector<ZipEntry*>& Entries() const;

 private:
  // One pass over the directory (directory.cpp).
  void ReadDirectory();
  void ReadEntryHeader(ZipEntry* entry, bool central);
  void TakeZip64Values(ZipEntry* entry, bool central);
  void IndexEntry(const ZipEntry* entry);
  void ForgetEntries();

  // The end record (end_record.cpp): 1 found and read, 0 not an archive, -1 none found.
  int FindEndRecord();
  void ReadEndRecord();
  bool SearchEndSignature(std::uint64_t* offset);
  void RedirectToLastPart();

  // Opens `reader` as the archive's source under `label` and measures it; no directory walk.
  void AttachSource(std::unique_ptr<ReadI> reader, const std::wstring& label);
  void OpenFileSource(const std::wstring& path);

  // Extraction (extract.cpp).
  void SeekToEntryData(const ZipEntry& entry);
  void CopyStored(const ZipEntry& entry, unsigned char* buffer, std::uint32_t capacity);
  void Inflate(const ZipEntry& entry, unsigned char* buffer, std::uint32_t capacity);

  // Strict access to the current source: every short read or failed seek throws AZError.
  std::uint16_t ReadU16();
  std::uint32_t ReadU32();
  std::uint64_t ReadU64();
  void ReadBytes(void* buffer, std::uint32_t count);
  void SeekTo(std::uint64_t offset, int origin);
  // Moves `count` bytes forward; a move past the end of the source is a read error, so a walk
  // over the directory always advances and always ends.
  void Skip(std::uint64_t count);
  std::uint64_t Tell();
  std::uint64_t SourceSize() const;

  std::wstring path;
  std::uint32_t centralDirectoryDisk = 0;
  std::uint64_t centralDirectoryOffset = 0;
  std::uint64_t centralDirectorySize = 0;
  std::string comment;
  std::uint16_t commentLength = 0;
  std::vector<ZipVolume> volumes;
  ZipVolume* currentVolume = nullptr;
  std::vector<ZipEntry*> entries;
  std::uint32_t totalEntries = 0;
  std::unique_ptr<ReadI> reader;
  bool loaded = false;
  // True for a source opened from a file: only a file has sibling parts to redirect to.
  bool fileSource = false;
  // True once the split redirect has replaced the source; it happens at most once per open.
  bool redirected = false;
  std::map<std::wstring, std::uint32_t> entryIndex;
  std::vector<unsigned char> extraBuffer;
  unsigned char outputBuffer[65536];
  unsigned char inputBuffer[32768];
};

}  // namespace amzip
