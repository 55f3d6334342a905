// AZError and its texts for a person.
#include "amzip/error.h"

#include <zlib.h>

#include "text/text.h"

namespace amzip {

namespace {

// The fixed texts; codes 8, 9 and 15 are completed in Message(), 17 has none.
const wchar_t* FixedText(std::int32_t code) {
  switch (code) {
    case AZ_ERROR_UNKNOWN: return L"Unknown error";
    case AZ_ERROR_NONE: return L"No error";
    case AZ_ERROR_INVALID_STATE: return L"Invalid state";
    case AZ_ERROR_INVALID_ARGUMENT: return L"Invalid argument";
    case AZ_ERROR_CREATE_FILE: return L"Failed to create file";
    case AZ_ERROR_OPEN_FILE: return L"Failed to open file for reading";
    case AZ_ERROR_READ: return L"Read error";
    case AZ_ERROR_WRITE: return L"Write error";
    case AZ_ERROR_SEEK: return L"Seek error";
    case AZ_ERROR_ZIP64_DISABLED: return L"ZIP64 features are required but disabled";
    case AZ_ERROR_UTF8_DISABLED: return L"UTF-8 features are required but disabled";
    case AZ_ERROR_NAME_TOO_LONG: return L"Filename length exceeds 64kb";
    case AZ_ERROR_CENTRAL_DIRECTORY: return L"Error in central directory record";
    case AZ_ERROR_UNKNOWN_COMPRESSION: return L"Unknown compression type";
    case AZ_ERROR_FILE_EXISTS: return L"File already exists";
    case AZ_ERROR_GETSTREAMINFO: return L"AZ_ERROR_GETSTREAMINFO";
    case AZ_ERROR_CRC_MISMATCH: return L"CRC-32 mismatch: the entry's data is damaged";
    case AZ_ERROR_DATA_SHORT: return L"The entry's data is shorter than the directory says";
    case AZ_ERROR_DATA_LONG: return L"The entry's data is longer than the directory says";
    default: return nullptr;
  }
}

}  // namespace

AZError::AZError(std::int32_t errorCode, std::int32_t errorDetail, std::wstring errorFileName)
    : code(errorCode), detail(errorDetail), fileName(std::move(errorFileName)) {}

std::wstring AZError::Message() const {
  std::wstring text;
  if (const wchar_t* fixed = FixedText(code)) {
    text = fixed;
  } else if (code == AZ_ERROR_SYSTEM) {
    text = L"System-error:";
    // Nothing in the reader raises this code; a system error number is shown after the colon.
    if (detail != 0) text += AnsiToWide(FormatText(" %d", static_cast<int>(detail)));
  } else if (code == AZ_ERROR_COMPRESSION) {
    // Complete without a file line: zlib's own text, if it has one, is the last line.
    text = L"Internal compression error";
    // zError indexes a table: only zlib's own results (Z_VERSION_ERROR to Z_NEED_DICT) may go in.
    if (detail != 0 && detail >= Z_VERSION_ERROR && detail <= Z_NEED_DICT) {
      const char* zlibText = zError(detail);
      if (zlibText != nullptr && *zlibText != '\0') text += L"\n" + AnsiToWide(zlibText);
    }
    return text;
  } else if (code == AZ_ERROR_UNKNOWN_SIGNATURE) {
    text = L"Unknown signature";
    if (detail != 0) text += AnsiToWide(FormatText(" %08x", static_cast<unsigned>(detail)));
  } else {
    text = AnsiToWide(FormatText("Error %d", static_cast<int>(code)));
  }
  if (!fileName.empty()) text += L"\nFile: " + fileName;
  return text;
}

}  // namespace amzip
