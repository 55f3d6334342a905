// ZipArchive: the archive reader's public object. It opens a zip archive from a file, from the
// executable's embedded "RT_ZIP" resource or from a memory block, and finds and extracts
// entries by name (matched through NormalizePath). Not thread-safe: no two calls may overlap.
#pragma once

#include <cstdint>
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

  // The entries in directory order, for tools that list an archive.
  const std::vector<ZipEntry*>& Entries() const;

 private:
  // The fields of the archive (source, volumes, entries, index, scratch blocks) and its
  // internal steps (directory walk, end-record search, strict reads) are declared here by the
  // reader's implementation.
};

}  // namespace amzip
