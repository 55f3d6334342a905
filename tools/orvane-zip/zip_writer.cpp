// ZipWriter: local headers, central directory, end records, zip64 where needed.
#include "tools/orvane-zip/zip_writer.h"

#include "amzip/entry.h"

namespace orvanezip {

namespace {

using amzip::kCentralHeaderSignature;
using amzip::kEndRecordSignature;
using amzip::kFlagUtf8;
using amzip::kLocalHeaderSignature;
using amzip::kZip64EndRecordSignature;
using amzip::kZip64LocatorSignature;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint16_t kVersionDeflate = 20;
constexpr std::uint16_t kVersionZip64 = 45;
// Made by UNIX: external attributes carry the mode, a plain readable file.
constexpr std::uint16_t kMadeByUnix = 3 << 8;
constexpr std::uint32_t kRegularFileMode = 0100644u << 16;

bool IsAscii(const std::string& text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::uint16_t FlagsOf(const ZipEntryRecord& entry) { return IsAscii(entry.name) || !entry.utf8Name ? 0 : kFlagUtf8; }

std::uint32_t Narrow(std::uint64_t value) { return value >= kMax32 ? kMax32 : static_cast<std::uint32_t>(value); }

}  // namespace

void ZipWriter::BeginEntry(const ZipEntryRecord& entry) {
  const std::uint64_t offset = out->Position() - base;
  // A local header's zip64 extra holds both sizes, or neither.
  const bool zip64 = entry.uncompressedSize >= kMax32 || entry.compressedSize >= kMax32;
  std::vector<unsigned char> header;
  PutU32(header, kLocalHeaderSignature);
  PutU16(header, zip64 ? kVersionZip64 : kVersionDeflate);
  PutU16(header, FlagsOf(entry));
  PutU16(header, entry.method);
  PutU16(header, entry.dosTime);
  PutU16(header, entry.dosDate);
  PutU32(header, entry.crc);
  PutU32(header, zip64 ? kMax32 : static_cast<std::uint32_t>(entry.compressedSize));
  PutU32(header, zip64 ? kMax32 : static_cast<std::uint32_t>(entry.uncompressedSize));
  PutU16(header, static_cast<std::uint32_t>(entry.name.size()));
  PutU16(header, zip64 ? 20 : 0);
  header.insert(header.end(), entry.name.begin(), entry.name.end());
  if (zip64) {
    PutU16(header, kZip64ExtraId);
    PutU16(header, 16);
    PutU64(header, entry.uncompressedSize);
    PutU64(header, entry.compressedSize);
  }
  out->Write(header);
  written.push_back({entry, offset});
}

std::uint64_t ZipWriter::Finish(const std::string& comment) {
  const std::uint64_t directoryOffset = out->Position() - base;
  std::vector<unsigned char> directory;
  for (const Written& item : written) {
    const ZipEntryRecord& entry = item.entry;
    // The central zip64 extra holds only the values that do not fit, in this order.
    std::vector<unsigned char> extra;
    if (entry.uncompressedSize >= kMax32) PutU64(extra, entry.uncompressedSize);
    if (entry.compressedSize >= kMax32) PutU64(extra, entry.compressedSize);
    if (item.offset >= kMax32) PutU64(extra, item.offset);
    const std::uint16_t version = extra.empty() ? kVersionDeflate : kVersionZip64;
    PutU32(directory, kCentralHeaderSignature);
    PutU16(directory, kMadeByUnix | version);
    PutU16(directory, version);
    PutU16(directory, FlagsOf(entry));
    PutU16(directory, entry.method);
    PutU16(directory, entry.dosTime);
    PutU16(directory, entry.dosDate);
    PutU32(directory, entry.crc);
    PutU32(directory, Narrow(entry.compressedSize));
    PutU32(directory, Narrow(entry.uncompressedSize));
    PutU16(directory, static_cast<std::uint32_t>(entry.name.size()));
    PutU16(directory, extra.empty() ? 0 : static_cast<std::uint32_t>(extra.size() + 4));
    PutU16(directory, 0);  // comment length
    PutU16(directory, 0);  // disk number
    PutU16(directory, 0);  // internal attributes
    PutU32(directory, kRegularFileMode);
    PutU32(directory, Narrow(item.offset));
    directory.insert(directory.end(), entry.name.begin(), entry.name.end());
    if (!extra.empty()) {
      PutU16(directory, kZip64ExtraId);
      PutU16(directory, static_cast<std::uint32_t>(extra.size()));
      directory.insert(directory.end(), extra.begin(), extra.end());
    }
    if (directory.size() >= (1u << 20)) {
      out->Write(directory);
      directory.clear();
    }
  }
  out->Write(directory);
  const std::uint64_t directoryEnd = out->Position() - base;
  const std::uint64_t directorySize = directoryEnd - directoryOffset;
  const std::uint64_t count = written.size();
  std::vector<unsigned char> end;
  if (count >= 0xFFFF || directorySize >= kMax32 || directoryOffset >= kMax32) {
    PutU32(end, kZip64EndRecordSignature);
    PutU64(end, 44);  // the record's size after this field
    PutU16(end, kMadeByUnix | kVersionZip64);
    PutU16(end, kVersionZip64);
    PutU32(end, 0);
    PutU32(end, 0);
    PutU64(end, count);
    PutU64(end, count);
    PutU64(end, directorySize);
    PutU64(end, directoryOffset);
    PutU32(end, kZip64LocatorSignature);
    PutU32(end, 0);
    PutU64(end, directoryEnd);
    PutU32(end, 1);
  }
  PutU32(end, kEndRecordSignature);
  PutU16(end, 0);
  PutU16(end, 0);
  PutU16(end, count >= 0xFFFF ? 0xFFFF : static_cast<std::uint32_t>(count));
  PutU16(end, count >= 0xFFFF ? 0xFFFF : static_cast<std::uint32_t>(count));
  PutU32(end, Narrow(directorySize));
  PutU32(end, Narrow(directoryOffset));
  PutU16(end, static_cast<std::uint32_t>(comment.size()));
  end.insert(end.end(), comment.begin(), comment.end());
  out->Write(end);
  return out->Position() - base;
}

void DosStampOf(int year, int month, int day, int hour, int minute, int second, std::uint16_t* dosDate,
                std::uint16_t* dosTime) {
  if (year < 1980) {
    year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  } else if (year > 2107) {
    year = 2107, month = 12, day = 31, hour = 23, minute = 59, second = 58;
  }
  *dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  *dosTime = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

void UtcDosStamp(std::int64_t seconds, std::uint16_t* dosDate, std::uint16_t* dosTime) {
  // Days to the civil date (proleptic Gregorian), after H. Hinnant's days_from_civil inverse.
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const int clampedYear = year < 1970 ? 1970 : year > 9999 ? 9999 : static_cast<int>(year);
  DosStampOf(clampedYear, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
             static_cast<int>(rest % 60), dosDate, dosTime);
}

}  // namespace orvanezip
