// Writes a zip archive front to back into an OutputFile, starting at the file's position at
// construction (offsets in the archive count from there, so the archive can follow a launcher's
// bytes). Zip64 records are written exactly where a size, an offset or the entry count needs
// them, so small archives stay readable by every tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/orvane-zip/output_file.h"

namespace orvanezip {

constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;

// One entry as the directory describes it; the data follows its local header.
struct ZipEntryRecord {
  std::string name;  // "/" separators; the UTF-8 flag is set when it is not ASCII and utf8Name
  bool utf8Name = true;  // false: the name's own bytes, not UTF-8 (the flag stays clear)
  std::uint16_t method = kMethodStored;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedSize = 0;
};

class ZipWriter {
 public:
  explicit ZipWriter(OutputFile* output) : out(output), base(output->Position()) {}

  // Writes the entry's local header; the caller then writes exactly compressedSize bytes of
  // data to the OutputFile.
  void BeginEntry(const ZipEntryRecord& entry);

  // Writes the central directory and the end records, `comment` (at most 65535 bytes) in the
  // end record; the archive's length.
  std::uint64_t Finish(const std::string& comment = std::string());

 private:
  struct Written {
    ZipEntryRecord entry;
    std::uint64_t offset;
  };
  OutputFile* out;
  std::uint64_t base;
  std::vector<Written> written;
};

// An MS-DOS date and time from the civil fields, clamped to the format's range (1980-2107).
void DosStampOf(int year, int month, int day, int hour, int minute, int second, std::uint16_t* dosDate,
                std::uint16_t* dosTime);

// The UTC civil time of a count of seconds since 1970 as an MS-DOS stamp.
void UtcDosStamp(std::int64_t seconds, std::uint16_t* dosDate, std::uint16_t* dosTime);

}  // namespace orvanezip
