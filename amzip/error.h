// AZError: the one exception value of the archive reader.
#pragma once

#include <cstdint>
#include <string>

namespace amzip {

constexpr std::int32_t AZ_ERROR_UNKNOWN = -1;
constexpr std::int32_t AZ_ERROR_NONE = 0;
constexpr std::int32_t AZ_ERROR_INVALID_STATE = 1;
constexpr std::int32_t AZ_ERROR_INVALID_ARGUMENT = 2;
constexpr std::int32_t AZ_ERROR_CREATE_FILE = 3;
constexpr std::int32_t AZ_ERROR_OPEN_FILE = 4;
constexpr std::int32_t AZ_ERROR_READ = 5;
constexpr std::int32_t AZ_ERROR_WRITE = 6;
constexpr std::int32_t AZ_ERROR_SEEK = 7;
constexpr std::int32_t AZ_ERROR_SYSTEM = 8;
constexpr std::int32_t AZ_ERROR_COMPRESSION = 9;
constexpr std::int32_t AZ_ERROR_ZIP64_DISABLED = 10;
constexpr std::int32_t AZ_ERROR_UTF8_DISABLED = 11;
constexpr std::int32_t AZ_ERROR_NAME_TOO_LONG = 12;
constexpr std::int32_t AZ_ERROR_CENTRAL_DIRECTORY = 13;
constexpr std::int32_t AZ_ERROR_UNKNOWN_COMPRESSION = 14;
constexpr std::int32_t AZ_ERROR_UNKNOWN_SIGNATURE = 15;
constexpr std::int32_t AZ_ERROR_FILE_EXISTS = 16;
constexpr std::int32_t AZ_ERROR_GETSTREAMINFO = 18;
// Checked reads (19 stays unnamed, as 17 does): an entry's bytes differ from its CRC-32, or
// there are fewer or more of them than the directory says.
constexpr std::int32_t AZ_ERROR_CRC_MISMATCH = 20;
constexpr std::int32_t AZ_ERROR_DATA_SHORT = 21;
constexpr std::int32_t AZ_ERROR_DATA_LONG = 22;

// Thrown by value, caught by reference. `detail` is the last system error at the throw, the
// zlib result for AZ_ERROR_COMPRESSION, or the signature read for AZ_ERROR_UNKNOWN_SIGNATURE.
struct AZError {
  std::int32_t code;
  std::int32_t detail;
  std::wstring fileName;

  AZError(std::int32_t code, std::int32_t detail, std::wstring fileName);

  // The text for a person, e.g. "Unknown signature 08074b50" or "Read error\nFile: a.zip".
  std::wstring Message() const;
};

}  // namespace amzip
